#include "platform/linux/LinuxSystemInfo.h"

#include <langinfo.h>
#include <locale.h>

namespace cloakline {

namespace {

// The precedence setlocale applies to one category.
std::string CategoryLocale(const EnvLookup& env, const char* category) {
    for (const char* variable : {"LC_ALL", category, "LANG"}) {
        if (const char* value = NonEmptyEnv(env, variable)) {
            return value;
        }
    }
    return {};
}

}  // namespace

LinuxSystemInfo::LinuxSystemInfo(EnvLookup env) : FEnv(std::move(env)) {}

std::string LinuxSystemInfo::MessagesLocaleName() const {
    return CategoryLocale(FEnv, "LC_MESSAGES");
}

WindowsLanguage LinuxSystemInfo::Language() const {
    return WindowsLanguageFromLocale(MessagesLocaleName());
}

std::string LinuxSystemInfo::GetSystemLanguageName() const {
    return Language().DisplayName;
}

std::uint16_t LinuxSystemInfo::GetSystemLanguageId() const {
    return Language().LangId;
}

char LinuxSystemInfo::DecimalSeparator() const {
    // Named explicitly rather than "" so that the injected environment decides, not the process's.
    const std::string found = CategoryLocale(FEnv, "LC_NUMERIC");
    const char* name = found.empty() ? "C" : found.c_str();
    locale_t numeric = ::newlocale(LC_NUMERIC_MASK, name, static_cast<locale_t>(nullptr));
    if (numeric == static_cast<locale_t>(nullptr)) {
        return '.';
    }
    const char* radix = ::nl_langinfo_l(RADIXCHAR, numeric);
    const char separator = radix != nullptr && radix[0] != '\0' ? radix[0] : '.';
    ::freelocale(numeric);
    return separator;
}

}  // namespace cloakline
