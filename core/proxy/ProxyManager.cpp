#include "core/proxy/ProxyManager.h"

#include <array>

#include "core/framework/KTSettings.h"
#include "core/proxy/ProxyShuffle.h"
#include "core/support/TextEncoding.h"
#include "core/support/TextUtils.h"

namespace cloakline {
namespace {

constexpr int kShufflePasses = 4;
constexpr std::string_view kAnyCountry = "UN";

bool MatchesCountry(const TProxyRec& rec, std::string_view aCountry) {
    // The wildcard is the exact text only; "un" is an ordinary code.
    return aCountry == kAnyCountry || SameTextAscii(rec.Country_Short, aCountry);
}

std::string ReplaceEscapedApostrophes(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\'') {
            result += '\'';
            ++i;
        } else {
            result += text[i];
        }
    }
    return result;
}

// Splits at every "|" without allocating a list; missing fields stay empty.
std::array<std::string_view, 5> SplitProxyFields(std::string_view line) {
    std::array<std::string_view, 5> fields{};
    std::size_t start = 0;
    for (std::size_t field = 0; field < fields.size(); ++field) {
        const std::size_t bar = line.find('|', start);
        fields[field] =
            line.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start);
        if (bar == std::string_view::npos) {
            break;
        }
        start = bar + 1;
    }
    return fields;
}

void ApplyOrder(TStringList& list, const std::vector<std::uint32_t>& order) {
    TStringList shuffled;
    for (const std::uint32_t index : order) {
        shuffled.Add(list[index]);
    }
    list = std::move(shuffled);
}

bool IsUrlAddressField(std::string_view field) {
    return field.find("://") != std::string_view::npos;
}

}  // namespace

TProxyRec ParseProxyLine(std::string_view line, bool isSuper) {
    const auto fields = SplitProxyFields(line);
    TProxyRec rec;
    const std::size_t colon = fields[0].find(':');
    if (IsUrlAddressField(fields[0])) {
        if (const auto address = ParseProxyAddress(fields[0])) {
            rec.IP = address->Host;
            rec.Port = std::to_string(address->Port);
            rec.Scheme = address->Scheme;
            rec.User = address->User;
            rec.Password = address->Password;
        }
    } else if (colon == std::string_view::npos) {
        rec.Port = fields[0];
    } else {
        rec.IP = fields[0].substr(0, colon);
        rec.Port = fields[0].substr(colon + 1);
    }
    rec.Country_Long = fields[1];
    rec.Country_Short = fields[2];
    rec.Longitude = fields[3];
    rec.Latitude = fields[4];
    rec.IsSuper = isSuper;
    return rec;
}

std::optional<TProxyAddress> TProxyRec::UpstreamAddress() const {
    auto address = ParseProxyAddress(ProxyText());
    if (address) {
        address->Scheme = Scheme;
        address->User = User;
        address->Password = Password;
    }
    return address;
}

void TProxyManager::ParsedList::Rebuild(const TStringList& lines, bool isSuper) {
    Records.clear();
    Reach.clear();
    Records.reserve(lines.Count());
    Reach.reserve(lines.Count());
    for (const auto& line : lines) {
        TProxyRec rec = ParseProxyLine(line, isSuper);
        if (rec.NeedsGateway()) {
            Reach.push_back(TReach::GatewayOnly);
        } else if (!rec.HasAddress() && IsUrlAddressField(SplitProxyFields(line)[0])) {
            Reach.push_back(TReach::Nobody);
        } else {
            Reach.push_back(TReach::Direct);
        }
        Records.push_back(std::move(rec));
    }
}

bool TProxyManager::CanHandOut(TReach reach) const {
    return reach == TReach::Direct || (reach == TReach::GatewayOnly && FGatewayAvailable);
}

bool TProxyManager::CanHandOut(const TProxyRec& rec) const {
    return FGatewayAvailable || !rec.NeedsGateway();
}

TProxyManager::TProxyManager(TKTSettings& settings, IInfoFetcher& fetcher, IProxyRandom& random)
    : FSettings(settings),
      FFetcher(fetcher),
      FRandom(random),
      FAlive(std::make_shared<TProxyManager*>(this)) {}

TProxyManager::~TProxyManager() = default;

bool TProxyManager::LoadSettings() {
    LoadNormalProxyList();
    LoadSuperProxyList();
    DeleteEmptyLines();
    FNormalParsed.Rebuild(FNormalProxyList, false);
    FSuperParsed.Rebuild(FSuperProxyList, true);
    // Every start begins at the same fake location; the chooser's stored
    // choice is not carried over.
    FTargetCountry = "US";
    return !FNormalProxyList.Empty();
}

void TProxyManager::LoadProxyList(std::string_view settingName, TStringList& list) {
    list.Clear();
    SplitString(ReplaceEscapedApostrophes(FSettings.GetSettingString(settingName)), ";", list);
}

void TProxyManager::LoadNormalProxyList() {
    LoadProxyList("NORMAL_IPS", FNormalProxyList);
}

void TProxyManager::LoadSuperProxyList() {
    LoadProxyList("SUPER_IPS", FSuperProxyList);
}

void TProxyManager::DeleteEmptyLines() {
    for (TStringList* list : {&FNormalProxyList, &FSuperProxyList}) {
        for (std::size_t i = list->Count(); i-- > 0;) {
            if ((*list)[i].empty()) {
                list->Delete(i);
            }
        }
    }
}

void TProxyManager::GetProxyRec(const TStringList& aSL,
                                std::int32_t aIndex,
                                bool aIsSuper,
                                TProxyRec& result) {
    if (aIndex < 0 || static_cast<std::size_t>(aIndex) >= aSL.Count()) {
        return;
    }
    result = ParseProxyLine(aSL[static_cast<std::size_t>(aIndex)], aIsSuper);
}

void TProxyManager::GetCountryList(TStringList* aSL) const {
    if (aSL == nullptr) {
        return;
    }
    std::unordered_set<std::string> present;
    for (const auto& line : *aSL) {
        present.insert(AsciiLowerCase(line));
    }
    // A country whose records could none of them be handed out is left
    // out: choosing it would end every Hide in "no proxy". While the gateway
    // is off this hides the countries served only by SOCKS5 or credentialed
    // proxies; the chooser shows them again at its next opening once it is on.
    for (const ParsedList* list : {&FNormalParsed, &FSuperParsed}) {
        for (std::size_t i = 0; i < list->Records.size(); ++i) {
            const TProxyRec& rec = list->Records[i];
            if (CanHandOut(list->Reach[i]) && present.insert(AsciiLowerCase(rec.Country_Long)).second) {
                aSL->Add(rec.Country_Long);
            }
        }
    }
}

std::int32_t TProxyManager::GetcountryListCount(std::string_view aCountry, bool aIncludeSuper) const {
    std::int32_t count = 0;
    for (const ParsedList* list : {&FNormalParsed, &FSuperParsed}) {
        if (list == &FSuperParsed && !aIncludeSuper) {
            break;
        }
        for (std::size_t i = 0; i < list->Records.size(); ++i) {
            count += (CanHandOut(list->Reach[i]) && MatchesCountry(list->Records[i], aCountry)) ? 1 : 0;
        }
    }
    return count;
}

namespace {

template <typename Match>
const TProxyRec* FindFirst(const std::vector<TProxyRec>& normal,
                           const std::vector<TProxyRec>& super,
                           Match match) {
    for (const auto* records : {&normal, &super}) {
        for (const auto& rec : *records) {
            if (match(rec)) {
                return &rec;
            }
        }
    }
    return nullptr;
}

}  // namespace

std::string TProxyManager::GetCountryShort(std::string_view aCountryLong) const {
    const TProxyRec* rec = FindFirst(FNormalParsed.Records, FSuperParsed.Records, [&](const TProxyRec& r) {
        return SameTextAscii(r.Country_Long, aCountryLong);
    });
    return rec != nullptr ? rec->Country_Short : std::string();
}

std::string TProxyManager::GetCountryLong(std::string_view aCountryShort) const {
    const TProxyRec* rec = FindFirst(FNormalParsed.Records, FSuperParsed.Records, [&](const TProxyRec& r) {
        return SameTextAscii(r.Country_Short, aCountryShort);
    });
    return rec != nullptr ? rec->Country_Long : std::string();
}

void TProxyManager::GetCountryPosition(std::string_view aCountryLong,
                                       std::string& aLongi,
                                       std::string& aLati) const {
    const TProxyRec* rec = FindFirst(FNormalParsed.Records, FSuperParsed.Records, [&](const TProxyRec& r) {
        return SameTextAscii(r.Country_Long, aCountryLong);
    });
    if (rec != nullptr) {
        aLongi = rec->Longitude;
        aLati = rec->Latitude;
    }
}

bool TProxyManager::IsUsed(std::string_view ip) const {
    return FUsedIndex.contains(AsciiLowerCase(ip));
}

void TProxyManager::MarkUsed(const std::string& ip) {
    FUsedProxyList.Add(ip);
    FUsedIndex.insert(AsciiLowerCase(ip));
}

void TProxyManager::ClearUsedProxyList() {
    FUsedProxyList.Clear();
    FUsedIndex.clear();
}

std::int32_t TProxyManager::CountUsedMatching(const ParsedList& list, std::string_view aCountry) const {
    std::int32_t count = 0;
    for (std::size_t i = 0; i < list.Records.size(); ++i) {
        const TProxyRec& rec = list.Records[i];
        count += (CanHandOut(list.Reach[i]) && MatchesCountry(rec, aCountry) && IsUsed(rec.IP)) ? 1 : 0;
    }
    return count;
}

void TProxyManager::OrganizeUsedList(std::string_view aCountry, bool aIncludeSuper) {
    std::int32_t used = CountUsedMatching(FNormalParsed, aCountry);
    if (aIncludeSuper) {
        used += CountUsedMatching(FSuperParsed, aCountry);
    }
    if (GetcountryListCount(aCountry, aIncludeSuper) <= used) {
        ClearUsedProxyList();
    }
}

namespace {

void ShuffleBoth(TIndexedSequence& normal, TIndexedSequence& super, bool includeSuper, IProxyRandom& random) {
    random.Randomize();
    for (int pass = 0; pass < kShufflePasses; ++pass) {
        ShufflePass(normal, random);
        if (includeSuper) {
            ShufflePass(super, random);
        }
    }
}

}  // namespace

void TProxyManager::RandomSort(TStringList& aNSL, TStringList& aSSL, bool aIncludeSuper) {
    TIndexedSequence normal(static_cast<std::uint32_t>(aNSL.Count()));
    TIndexedSequence super(static_cast<std::uint32_t>(aSSL.Count()));
    ShuffleBoth(normal, super, aIncludeSuper, FRandom);
    ApplyOrder(aNSL, normal.Order());
    if (aIncludeSuper) {
        ApplyOrder(aSSL, super.Order());
    }
}

TProxyRec TProxyManager::GetIdleProxy(std::string_view aCountry,
                                      bool aClearUsed,
                                      TProxyRange aRange,
                                      bool aChange) {
    FRandom.Randomize();
    // A proxy taken while the gateway was on is of no use to a browser once
    // it is off: there is nothing to keep or to fall back to then.
    TProxyRec result = CanHandOut(FTargetProxy) ? FTargetProxy : TProxyRec{};
    if (!aChange && result.HasAddress()) {
        return result;
    }

    // The shuffled working copies are orders over the parsed records.
    TIndexedSequence normal(static_cast<std::uint32_t>(FNormalParsed.Records.size()));
    TIndexedSequence super(static_cast<std::uint32_t>(FSuperParsed.Records.size()));
    ShuffleBoth(normal, super, true, FRandom);

    OrganizeUsedList(aCountry, aRange == TProxyRange::KNormal);
    if (aClearUsed) {
        ClearUsedProxyList();
    }

    auto takeFirstIdle = [&](const TIndexedSequence& order, const ParsedList& list) -> const TProxyRec* {
        for (const std::uint32_t index : order.Order()) {
            const TProxyRec& rec = list.Records[index];
            if (CanHandOut(list.Reach[index]) && MatchesCountry(rec, aCountry) && !IsUsed(rec.IP)) {
                MarkUsed(rec.IP);
                return &rec;
            }
        }
        return nullptr;
    };

    const bool trySuperFirst =
        aRange == TProxyRange::KSuper || (aRange == TProxyRange::KAll && FRandom.Below(10) < 2);
    if (trySuperFirst) {
        if (const TProxyRec* rec = takeFirstIdle(super, FSuperParsed)) {
            return *rec;
        }
    }
    if (const TProxyRec* rec = takeFirstIdle(normal, FNormalParsed)) {
        return *rec;
    }
    return result;
}

TOnInfoGot TProxyManager::GuardedHandler(void (TProxyManager::*handler)(const std::string&)) {
    std::weak_ptr<TProxyManager*> alive = FAlive;
    return [alive, handler](const std::string& aRet) {
        // Answers run on the main thread, where the manager is destroyed too,
        // so a live token means a live manager for the whole call.
        if (const auto self = alive.lock()) {
            ((*self)->*handler)(aRet);
        }
    };
}

void TProxyManager::GetCurrentLocalInfo() {
    const std::string url = FSettings.GetSettingString("URL.GetInfo") +
                            "?MagicWord=" + FSettings.GetSettingString("App.MagicWord");
    FFetcher.Fetch(url, GuardedHandler(&TProxyManager::LocalInfoGot));
}

void TProxyManager::Touch(const TProxyRec& aPR) {
    const std::string url = FillPlaceholders(FSettings.GetSettingString("SUPER_TOUCH"), {aPR.IP});
    // The answer of a touch is not used.
    FFetcher.Fetch(url, [](const std::string&) {});
}

void TProxyManager::LocalInfoGot(const std::string& aRet) {
    FLocalInfo.SetText(aRet);
    if (FOnGetCurrentLocalInfo) {
        FOnGetCurrentLocalInfo(*this);
    }
}

}  // namespace cloakline
