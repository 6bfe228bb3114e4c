// The server's tables from files: the address-range table with its lookups,
// the inventory's import lines and the release record. What they accept
// goes into the local information and the update answer, and the program
// must read that answer back into the same proxies.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/framework/KTSettings.h"
#include "core/framework/KTUpdateRules.h"
#include "core/proxy/ProxyManager.h"
#include "core/proxy/ProxyText.h"
#include "core/support/TextUtils.h"
#include "fuzz/support/FuzzCheck.h"
#include "fuzz/support/MemoryPlatform.h"
#include "server/core/AddressRanges.h"
#include "server/core/Answers.h"
#include "server/core/Ipv4.h"
#include "server/core/ProxyEntry.h"
#include "server/core/TextFields.h"

using namespace cloakline;
using namespace cloakline::server;

namespace {

constexpr std::string_view kCatchAll = "0.0.0.0,255.255.255.255,ZZ,Zedland,Zed City";
const TAddressPlace kCatchAllPlace{"ZZ", "Zedland", "Zed City"};
constexpr std::size_t kMaxLines = 256;
constexpr std::size_t kUpdateAnswerLines = 17;

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (lines.size() < kMaxLines) {
        const std::size_t end = text.find('\n', start);
        std::string_view line = text.substr(start, end == std::string_view::npos ? text.npos : end - start);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.push_back(line);
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    return lines;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string_view::npos ? text.npos : at - start));
        if (at == std::string_view::npos) {
            return parts;
        }
        start = at + 1;
    }
}

// Lines split at CR LF, each "name=value" with no break left inside.
std::vector<std::string_view> AnswerLines(std::string_view answer) {
    FUZZ_CHECK(answer.ends_with("\r\n"));
    answer.remove_suffix(2);
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = answer.find("\r\n", start);
        const std::string_view line =
            answer.substr(start, end == std::string_view::npos ? answer.npos : end - start);
        FUZZ_CHECK(line.find_first_of("\r\n") == std::string_view::npos);
        FUZZ_CHECK(line.find('=') != std::string_view::npos);
        lines.push_back(line);
        if (end == std::string_view::npos) {
            return lines;
        }
        start = end + 2;
    }
}

// Addresses worth asking: both ends of every line that names a range, one
// past each end, the ends of the whole space and words taken from the input.
std::vector<std::uint32_t> Probes(std::string_view input,
                                  const std::vector<std::string_view>& lines,
                                  std::vector<std::uint32_t>& lineEnds) {
    std::vector<std::uint32_t> probes = {0, 0xFFFFFFFFu};
    for (const std::string_view line : lines) {
        const std::vector<std::string_view> f = Split(Trimmed(line), ',');
        if (f.size() < 2) {
            continue;
        }
        const auto first = ParseIpv4(Trimmed(f[0]));
        const auto last = ParseIpv4(Trimmed(f[1]));
        if (first && last) {
            lineEnds.push_back(*first);
            lineEnds.push_back(*last);
            probes.insert(probes.end(), {*first, *last, *first - 1, *last + 1});
        }
    }
    for (std::size_t i = 0; i + 4 <= input.size() && i < 64; i += 4) {
        std::uint32_t word = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            word = (word << 8) | static_cast<unsigned char>(input[i + k]);
        }
        probes.push_back(word);
    }
    return probes;
}

void CheckPlace(const TAddressPlace& place, std::uint32_t address) {
    FUZZ_CHECK(place.Code.size() == 2 && CountryCodeOf(place.Code) == place.Code);
    FUZZ_CHECK(IsSafeField(place.Country, 128));
    FUZZ_CHECK(place.City.empty() || IsSafeField(place.City, 128));
    const std::string answer = BuildLocalInfoAnswer(FormatIpv4(address), place);
    const std::vector<std::string_view> lines = AnswerLines(answer);
    FUZZ_CHECK(lines.size() == 4);
    FUZZ_CHECK(lines[2] == "COUNTRY_LONG=" + place.Country);
    const std::string page = BuildCheckIpPage(FormatIpv4(address), place);
    const std::string plain = BuildCheckIpPage(FormatIpv4(address), std::nullopt);
    FUZZ_CHECK(std::count(page.begin(), page.end(), '<') == std::count(plain.begin(), plain.end(), '<'));
}

void CheckRangeTable(std::string_view input) {
    const std::vector<std::string_view> lines = Lines(input);
    const auto lineCount = static_cast<std::size_t>(std::count(input.begin(), input.end(), '\n')) + 1;
    TAddressRanges::TParseError error;
    const auto table = TAddressRanges::Parse(input, error);

    // A wrong line stays wrong, wherever the table goes on or begins.
    TAddressRanges::TParseError before;
    TAddressRanges::TParseError after;
    const auto prefixed = TAddressRanges::Parse(std::string(kCatchAll) + "\n" + std::string(input), before);
    const auto suffixed = TAddressRanges::Parse(std::string(input) + "\n" + std::string(kCatchAll), after);
    if (!table) {
        FUZZ_CHECK(error.Line >= 1 && error.Line <= lineCount);
        FUZZ_CHECK(!error.Reason.empty());
        FUZZ_CHECK(!prefixed && before.Line == error.Line + 1);
        FUZZ_CHECK(!suffixed && after.Line == error.Line);
        return;
    }
    FUZZ_CHECK(table->Size() <= lineCount);
    FUZZ_CHECK(prefixed && prefixed->Size() == table->Size() + 1);
    FUZZ_CHECK(suffixed && suffixed->Size() == table->Size() + 1);

    std::vector<std::uint32_t> lineEnds;
    for (const std::uint32_t address : Probes(input, lines, lineEnds)) {
        const auto place = table->Find(address);
        // The first line wins: a line in front answers everything, one at the end only what was not known.
        FUZZ_CHECK(prefixed->Find(address) == kCatchAllPlace);
        FUZZ_CHECK(suffixed->Find(address) == place.value_or(kCatchAllPlace));
        if (place) {
            CheckPlace(*place, address);
            // The place comes from a line the table holds.
            FUZZ_CHECK(input.find(place->Country) != std::string_view::npos);
            FUZZ_CHECK(input.find(place->City) != std::string_view::npos);
        }
    }
    // Every range that a line of a table that parsed names is known at both ends.
    for (const std::uint32_t end : lineEnds) {
        FUZZ_CHECK(table->Find(end).has_value());
    }
}

void CheckAddresses(const std::vector<std::string_view>& lines) {
    for (const std::string_view line : lines) {
        if (const auto address = ParseIpv4(line)) {
            FUZZ_CHECK(FormatIpv4(*address) == line);
        }
    }
}

std::vector<TProxyEntry> ImportedEntries(const std::vector<std::string_view>& lines) {
    std::vector<TProxyEntry> entries;
    for (const std::string_view line : lines) {
        std::string reason;
        const auto entry = ParseImportLine(line, reason);
        const std::string_view bare = Trimmed(line.ends_with('\r') ? line.substr(0, line.size() - 1) : line);
        if (!entry) {
            FUZZ_CHECK(reason.empty() == (bare.empty() || bare.front() == '#'));
            continue;
        }
        FUZZ_CHECK(reason.empty());
        FUZZ_CHECK(!CheckProxyEntry(*entry).has_value());
        const auto address = ParseProxyAddress(entry->Address());
        FUZZ_CHECK(address && address->Host == entry->Host && address->Port == entry->Port);
        // The program must take what the server hands out for its browsers,
        // and read the full form back to the same scheme and credentials.
        FUZZ_CHECK(IsValidProxyText(entry->Address()));
        FUZZ_CHECK(ParseProxyAddress(entry->ListAddress()) == entry->UpstreamAddress());
        // What listings and the log show is the address with the credentials masked.
        const TProxyAddress upstream = entry->UpstreamAddress();
        const std::string scheme = upstream.Scheme == TProxyScheme::Socks5 ? "socks5://"
                                   : upstream.HasCredentials()             ? "http://"
                                                                           : "";
        FUZZ_CHECK(entry->Shown() == scheme + (upstream.HasCredentials() ? "***@" : "") + entry->Address());
        const std::string listLine = ProxyListLine(*entry);
        FUZZ_CHECK(std::count(listLine.begin(), listLine.end(), '|') == 4);
        FUZZ_CHECK(listLine.find_first_of(";\r\n\\") == std::string::npos);
        entries.push_back(*entry);
    }
    return entries;
}

// A list cut to fit is the full list up to a whole entry.
void CheckCutList(const std::vector<TProxyEntry>& entries, std::size_t cap) {
    const std::string full = ProxyListValue(entries, kMaxProxyListBytes);
    const std::string cut = ProxyListValue(entries, cap);
    FUZZ_CHECK(cut.size() <= cap);
    FUZZ_CHECK(full.starts_with(cut));
    FUZZ_CHECK(cut.size() == full.size() || full[cut.size()] == ';' || cut.empty());
}

// "version|info|page" on the first line.
std::optional<TRelease> ReleaseOf(std::string_view line) {
    const std::vector<std::string_view> parts = Split(line, '|');
    TRelease release{std::string(parts[0]), parts.size() > 1 ? std::string(parts[1]) : "",
                     parts.size() > 2 ? std::string(parts[2]) : ""};
    if (IsReleaseVersion(release.Version)) {
        // The program reads the same four numbers out of it.
        std::uint32_t expected = 0;
        for (const std::string_view part : Split(release.Version, '.')) {
            expected = (expected << 8) | static_cast<std::uint32_t>(std::stoi(std::string(part)));
        }
        FUZZ_CHECK(VersionToInt(release.Version) == expected);
    }
    if (CheckRelease(release)) {
        return std::nullopt;
    }
    return release;
}

void CheckRecord(const TStringList& list, std::size_t index, bool super, const TProxyEntry& entry) {
    TProxyRec rec;
    TProxyManager::GetProxyRec(list, static_cast<std::int32_t>(index), super, rec);
    FUZZ_CHECK(rec.ProxyText() == entry.Address());
    FUZZ_CHECK(rec.Country_Long == entry.Country);
    FUZZ_CHECK(rec.Country_Short == entry.CountryCode);
    FUZZ_CHECK(rec.Longitude == entry.Longitude);
    FUZZ_CHECK(rec.Latitude == entry.Latitude);
    FUZZ_CHECK(rec.Scheme == entry.Scheme && rec.User == entry.User && rec.Password == entry.Password);
}

class NoFetcher : public IInfoFetcher {
  public:
    void Fetch(const std::string&, TOnInfoGot) override {}
};

class FirstDraw : public IProxyRandom {
  public:
    void Randomize() override {}
    std::uint32_t Below(std::uint32_t) override { return 0; }
};

// The update answer the server builds from what it accepted, read and saved
// by the program and loaded again at its next start.
void CheckUpdateAnswer(const std::vector<TProxyEntry>& entries,
                       const std::optional<TRelease>& release,
                       std::uint32_t clientVersion) {
    TUpdateAnswerInput in;
    in.MagicWord = "fuzzmagic";
    in.Release = release;
    in.ClientVersion = clientVersion;
    in.Proxies = entries;
    in.Pages = {"http://127.0.0.1:8480", "http://127.0.0.1:8480/checkip"};
    const std::string text = BuildUpdateAnswer(in);
    // The two lists are left out while nothing is healthy.
    FUZZ_CHECK(AnswerLines(text).size() == kUpdateAnswerLines - (entries.empty() ? 2 : 0));

    const TUpdateAnswer answer = ReadUpdateAnswer(text, "fuzzmagic");
    FUZZ_CHECK(answer.Accepted && answer.Refused.empty());
    const bool newer = release && VersionToInt(release->Version) > clientVersion;
    FUZZ_CHECK(answer.Result == (newer ? 1 : 0));
    FUZZ_CHECK(answer.Info == (newer ? release->Info : ""));
    FUZZ_CHECK(answer.Page == (newer ? release->Page : ""));

    fuzz::MemoryPlatform platform;
    platform.Files->Files[std::string(fuzz::MemoryPlatform::kConstPath)] =
        "[setting]\r\nApp.Name=Cloakline\r\n";
    {
        TKTSettings settings(platform.P, {});
        ApplyUpdateAnswer(answer, settings);
    }
    TKTSettings settings(platform.P, {});
    NoFetcher fetcher;
    FirstDraw draws;
    TProxyManager manager(settings, fetcher, draws);
    manager.LoadSettings();
    std::array<std::vector<const TProxyEntry*>, 2> sent;
    for (const TProxyEntry& entry : entries) {
        sent[entry.IsSuper ? 1 : 0].push_back(&entry);
    }
    FUZZ_CHECK(manager.NormalProxyList().Count() == sent[0].size());
    FUZZ_CHECK(manager.SuperProxyList().Count() == sent[1].size());
    for (std::size_t i = 0; i < sent[0].size(); ++i) {
        CheckRecord(manager.NormalProxyList(), i, false, *sent[0][i]);
    }
    for (std::size_t i = 0; i < sent[1].size(); ++i) {
        CheckRecord(manager.SuperProxyList(), i, true, *sent[1][i]);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    CheckRangeTable(input);
    const std::vector<std::string_view> lines = Lines(input);
    CheckAddresses(lines);

    std::uint32_t clientVersion = 0x01000001u;
    for (const char c : input.substr(0, 4)) {
        clientVersion = (clientVersion << 8) | static_cast<unsigned char>(c);
    }
    const std::vector<TProxyEntry> entries = ImportedEntries(lines);
    CheckCutList(entries, input.size() / 2);
    CheckUpdateAnswer(entries, ReleaseOf(lines.front()), clientVersion);
    return 0;
}
