#include "platform/linux/LinuxTextCollation.h"

#include <locale.h>
#include <wchar.h>
#include <wctype.h>

#include "core/support/TextEncoding.h"

namespace cloakline {

class LinuxTextCollation::Locale {
  public:
    explicit Locale(const std::string& wanted) {
        for (const std::string& name : {wanted, std::string("C.UTF-8"), std::string("C")}) {
            if (name.empty()) {
                continue;
            }
            FHandle =
                ::newlocale(LC_COLLATE_MASK | LC_CTYPE_MASK, name.c_str(), static_cast<locale_t>(nullptr));
            if (FHandle != static_cast<locale_t>(nullptr)) {
                FName = name;
                return;
            }
        }
    }
    ~Locale() {
        if (FHandle != static_cast<locale_t>(nullptr)) {
            ::freelocale(FHandle);
        }
    }
    Locale(const Locale&) = delete;
    Locale& operator=(const Locale&) = delete;

    // Code points, lower-cased in this locale.
    std::wstring Folded(std::string_view text) const {
        const std::u16string units = Utf8ToUtf16(text);
        std::wstring out;
        out.reserve(units.size());
        for (std::size_t i = 0; i < units.size(); ++i) {
            char32_t cp = units[i];
            if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
                units[i + 1] <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<char32_t>(units[i + 1]) - 0xDC00);
                ++i;
            }
            const auto wide = static_cast<wint_t>(cp);
            out += static_cast<wchar_t>(
                FHandle != static_cast<locale_t>(nullptr) ? ::towlower_l(wide, FHandle) : wide);
        }
        return out;
    }

    int Compare(std::string_view a, std::string_view b) const {
        if (FHandle != static_cast<locale_t>(nullptr)) {
            const int order = ::wcscoll_l(Folded(a).c_str(), Folded(b).c_str(), FHandle);
            if (order != 0) {
                return order < 0 ? -1 : 1;
            }
        }
        return CompareTextAscii(a, b);
    }

    const std::string& Name() const { return FName; }

  private:
    locale_t FHandle = static_cast<locale_t>(nullptr);
    std::string FName;
};

LinuxTextCollation::LinuxTextCollation(EnvLookup env) {
    std::string wanted;
    for (const char* variable : {"LC_ALL", "LC_COLLATE", "LANG"}) {
        if (const char* value = NonEmptyEnv(env, variable)) {
            wanted = value;
            break;
        }
    }
    FLocale = std::make_shared<const Locale>(wanted);
}

int LinuxTextCollation::operator()(std::string_view a, std::string_view b) const {
    return FLocale->Compare(a, b);
}

const std::string& LinuxTextCollation::LocaleName() const {
    return FLocale->Name();
}

}  // namespace cloakline
