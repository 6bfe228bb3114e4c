#include "journal/RestoreJournal.h"

#include <array>
#include <charconv>
#include <cstdint>

namespace cloakline {

namespace {

constexpr std::string_view kHeader = "cloakline restore journal 1\n";
constexpr std::string_view kTrailer = "end ";
// A journal is a few kilobytes; anything far larger is not one of ours.
constexpr std::size_t kMaxJournalSize = 64u << 20;
constexpr std::string_view kSetAsideSuffix = ".damaged";
constexpr char kHex[] = "0123456789ABCDEF";

std::uint32_t Crc32(std::string_view bytes) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char c : bytes) {
        crc = table[(crc ^ static_cast<unsigned char>(c)) & 0xFFu] ^ (crc >> 8);
    }
    return crc ^ 0xFFFFFFFFu;
}

// Printable ASCII but for the separators and the escape itself stays as it
// is, so that the file can still be read by a person; every other byte
// becomes %XX.
bool IsPlain(unsigned char c) {
    return c > 0x20 && c < 0x7F && c != '%';
}

void AppendEscaped(std::string& out, std::string_view value) {
    for (const char ch : value) {
        const auto c = static_cast<unsigned char>(ch);
        if (IsPlain(c)) {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Only the form AppendEscaped writes: one spelling per value.
std::optional<std::string> Unescaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '%') {
            if (i + 2 >= text.size()) {
                return std::nullopt;
            }
            const int high = HexDigit(text[i + 1]);
            const int low = HexDigit(text[i + 2]);
            if (high < 0 || low < 0) {
                return std::nullopt;
            }
            const auto byte = static_cast<unsigned char>(high * 16 + low);
            if (IsPlain(byte)) {
                return std::nullopt;
            }
            out += static_cast<char>(byte);
            i += 2;
        } else if (IsPlain(c)) {
            out += static_cast<char>(c);
        } else {
            return std::nullopt;
        }
    }
    return out;
}

std::string HexOf(std::uint32_t value) {
    std::string text(8, '0');
    for (int i = 7; i >= 0; --i) {
        text[static_cast<std::size_t>(i)] = kHex[value & 0x0F];
        value >>= 4;
    }
    return text;
}

std::optional<std::uint64_t> DecimalOf(std::string_view text) {
    std::uint64_t value = 0;
    if (text.empty() || (text.size() > 1 && text.front() == '0')) {
        return std::nullopt;
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// "store key =value" or "store key -"; fields never hold a space once escaped.
std::optional<TRecordedSetting> ParseLine(std::string_view line) {
    const std::size_t first = line.find(' ');
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t second = line.find(' ', first + 1);
    if (second == std::string_view::npos || line.find(' ', second + 1) != std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view storeText = line.substr(0, first);
    const std::string_view keyText = line.substr(first + 1, second - first - 1);
    const std::string_view valueText = line.substr(second + 1);
    // Store and key start with ":", the value with "=" (or is a lone "-"),
    // so that an empty one still leaves a field.
    if (storeText.empty() || keyText.empty() || valueText.empty()) {
        return std::nullopt;
    }
    auto store = Unescaped(storeText.substr(1));
    auto key = Unescaped(keyText.substr(1));
    if (storeText.front() != ':' || keyText.front() != ':' || !store || !key) {
        return std::nullopt;
    }
    TRecordedSetting setting{std::move(*store), std::move(*key), std::nullopt};
    if (valueText == "-") {
        return setting;
    }
    if (valueText.front() != '=') {
        return std::nullopt;
    }
    setting.Value = Unescaped(valueText.substr(1));
    if (!setting.Value) {
        return std::nullopt;
    }
    return setting;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

std::string EncodeJournal(const std::vector<TRecordedSetting>& settings) {
    std::string out(kHeader);
    for (const TRecordedSetting& setting : settings) {
        out += ':';
        AppendEscaped(out, setting.Store);
        out += " :";
        AppendEscaped(out, setting.Key);
        if (setting.Value) {
            out += " =";
            AppendEscaped(out, *setting.Value);
        } else {
            out += " -";
        }
        out += '\n';
    }
    // The count and the checksum of everything before them: a journal cut
    // anywhere, or changed in any byte, is told from a whole one.
    const std::uint32_t crc = Crc32(out);
    out += kTrailer;
    out += std::to_string(settings.size());
    out += ' ';
    out += HexOf(crc);
    out += '\n';
    return out;
}

std::optional<std::vector<TRecordedSetting>> DecodeJournal(std::string_view bytes) {
    if (!bytes.starts_with(kHeader) || !bytes.ends_with('\n')) {
        return std::nullopt;
    }
    const std::size_t trailerStart = bytes.rfind('\n', bytes.size() - 2);
    if (trailerStart == std::string_view::npos || trailerStart + 1 < kHeader.size()) {
        return std::nullopt;
    }
    const std::string_view body = bytes.substr(0, trailerStart + 1);
    std::string_view trailer = bytes.substr(trailerStart + 1);
    trailer.remove_suffix(1);
    if (!trailer.starts_with(kTrailer)) {
        return std::nullopt;
    }
    trailer.remove_prefix(kTrailer.size());
    const std::size_t space = trailer.find(' ');
    if (space == std::string_view::npos || trailer.substr(space + 1) != HexOf(Crc32(body))) {
        return std::nullopt;
    }
    const auto count = DecimalOf(trailer.substr(0, space));
    if (!count) {
        return std::nullopt;
    }
    std::vector<TRecordedSetting> settings;
    std::string_view rest = body.substr(kHeader.size());
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        auto setting = ParseLine(rest.substr(0, end));
        if (!setting) {
            return std::nullopt;
        }
        settings.push_back(std::move(*setting));
        rest.remove_prefix(end + 1);
    }
    if (settings.size() != *count) {
        return std::nullopt;
    }
    return settings;
}

TRestoreJournal::TRestoreJournal(IFileSystem& files, IProxySettingsRecorder& recorder, std::string path)
    : FFiles(files), FRecorder(recorder), FPath(std::move(path)) {}

bool TRestoreJournal::Exists() const {
    return FFiles.FileExists(FPath);
}

bool TRestoreJournal::RecordBeforeChange() {
    if (Exists()) {
        const auto bytes = FFiles.ReadFile(FPath, kMaxJournalSize);
        if (!bytes) {
            // Unreadable for now (a transient error): never write over it.
            return false;
        }
        if (DecodeJournal(*bytes)) {
            return true;
        }
        // Nothing can be taken from a damaged one; what is there now is the
        // best record left.
        if (!FFiles.RenameFile(FPath, FPath + std::string(kSetAsideSuffix))) {
            return false;
        }
    }
    std::vector<TRecordedSetting> settings;
    if (!FRecorder.Record(settings)) {
        return false;
    }
    const std::string folder = FolderOf(FPath);
    if (!folder.empty() && !FFiles.ForceDirectories(folder)) {
        return false;
    }
    if (!FFiles.ReplaceFile(FPath, EncodeJournal(settings))) {
        return false;
    }
    // Another user has no business reading what proxies this user had.
    FFiles.MakePrivate(FPath);
    return true;
}

bool TRestoreJournal::RestoreAndRemove() {
    if (!Exists()) {
        return true;
    }
    const auto bytes = FFiles.ReadFile(FPath, kMaxJournalSize);
    if (!bytes) {
        return false;
    }
    const auto settings = DecodeJournal(*bytes);
    if (!settings) {
        FFiles.RenameFile(FPath, FPath + std::string(kSetAsideSuffix));
        return false;
    }
    if (!FRecorder.Restore(*settings)) {
        return false;
    }
    return FFiles.RemoveFile(FPath);
}

}  // namespace cloakline
