#include "core/framework/IniDocument.h"

#include <cstdint>

#include "core/support/TextUtils.h"

namespace cloakline {

std::size_t AsciiCaseInsensitiveHash::operator()(std::string_view text) const noexcept {
    // FNV-1a over the lower-cased bytes.
    std::uint64_t hash = 14695981039346656037ull;
    for (char c : text) {
        hash ^= static_cast<unsigned char>(AsciiLower(c));
        hash *= 1099511628211ull;
    }
    return static_cast<std::size_t>(hash);
}

bool AsciiCaseInsensitiveEqual::operator()(std::string_view a, std::string_view b) const noexcept {
    return SameTextAscii(a, b);
}

void TIniDocument::Clear() {
    FSections.clear();
    FSectionIndex.clear();
}

void TIniDocument::LoadFromBytes(std::string_view bytes) {
    const std::string text = DecodeTextFile(bytes, FEncoding);
    LoadFromText(text);
}

void TIniDocument::LoadFromText(std::string_view text) {
    Clear();
    Section* current = nullptr;
    std::size_t start = 0;
    const std::string_view all = text;
    while (start <= all.size()) {
        std::size_t end = all.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            end = all.size();
        }
        const std::string_view line = TrimText(all.substr(start, end - start));
        if (!line.empty() && line.front() != ';') {
            if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
                current = &AddSection(std::string(TrimText(line.substr(1, line.size() - 2))));
            } else if (current != nullptr) {
                AddLine(*current, line);
            }
        }
        if (end == all.size()) {
            break;
        }
        start = end + ((all[end] == '\r' && end + 1 < all.size() && all[end + 1] == '\n') ? 2 : 1);
    }
}

std::string TIniDocument::SaveToBytes() const {
    std::string text;
    for (const Section& section : FSections) {
        text += '[';
        text += section.Name;
        text += "]\r\n";
        for (const Line& line : section.Lines) {
            text += line.Text;
            text += "\r\n";
        }
        text += "\r\n";
    }
    return EncodeTextFile(text, FEncoding);
}

TIniDocument::Section& TIniDocument::AddSection(std::string name) {
    FSectionIndex.try_emplace(name, FSections.size());
    FSections.push_back(Section{std::move(name), {}, {}});
    return FSections.back();
}

void TIniDocument::AddLine(Section& section, std::string_view text) {
    Line line;
    line.Text.assign(text);
    const std::size_t eq = text.find('=');
    if (eq != std::string_view::npos) {
        line.IsEntry = true;
        line.Key.assign(TrimText(text.substr(0, eq)));
        line.Value.assign(TrimText(text.substr(eq + 1)));
        section.Index.try_emplace(line.Key, section.Lines.size());
    }
    section.Lines.push_back(std::move(line));
}

void TIniDocument::RebuildSectionIndex() {
    FSectionIndex.clear();
    for (std::size_t i = 0; i < FSections.size(); ++i) {
        FSectionIndex.try_emplace(FSections[i].Name, i);
    }
}

TIniDocument::Section* TIniDocument::FindSection(std::string_view name) {
    auto it = FSectionIndex.find(name);
    return it == FSectionIndex.end() ? nullptr : &FSections[it->second];
}

const TIniDocument::Section* TIniDocument::FindSection(std::string_view name) const {
    auto it = FSectionIndex.find(name);
    return it == FSectionIndex.end() ? nullptr : &FSections[it->second];
}

bool TIniDocument::SectionExists(std::string_view section) const {
    return FindSection(section) != nullptr;
}

const std::string* TIniDocument::Find(std::string_view section, std::string_view key) const {
    const Section* s = FindSection(section);
    if (s == nullptr) {
        return nullptr;
    }
    auto it = s->Index.find(key);
    return it == s->Index.end() ? nullptr : &s->Lines[it->second].Value;
}

bool TIniDocument::ValueExists(std::string_view section, std::string_view key) const {
    return Find(section, key) != nullptr;
}

std::string TIniDocument::ReadString(std::string_view section,
                                     std::string_view key,
                                     std::string_view defaultValue) const {
    const std::string* value = Find(section, key);
    return value != nullptr ? *value : std::string(defaultValue);
}

void TIniDocument::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    Section* s = FindSection(section);
    if (s == nullptr) {
        s = &AddSection(std::string(section));
    }
    const std::string cleanValue = LineBreaksToSpaces(value);
    const std::string text = LineBreaksToSpaces(key) + "=" + cleanValue;
    auto it = s->Index.find(key);
    if (it != s->Index.end()) {
        Line& line = s->Lines[it->second];
        line.Text = text;
        line.Key = std::string(TrimText(LineBreaksToSpaces(key)));
        line.Value = std::string(TrimText(cleanValue));
        return;
    }
    AddLine(*s, text);
}

void TIniDocument::AppendLine(std::string_view section, std::string_view text) {
    Section* s = FindSection(section);
    if (s == nullptr) {
        s = &AddSection(std::string(section));
    }
    AddLine(*s, TrimText(LineBreaksToSpaces(text)));
}

const std::vector<TIniDocument::Line>* TIniDocument::FindSectionLines(std::string_view section) const {
    const Section* s = FindSection(section);
    return s == nullptr ? nullptr : &s->Lines;
}

void TIniDocument::EraseSection(std::string_view section) {
    std::erase_if(FSections, [&](const Section& s) { return SameTextAscii(s.Name, section); });
    RebuildSectionIndex();
}

}  // namespace cloakline
