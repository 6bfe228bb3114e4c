#include "core/framework/SystemRegion.h"

#include "core/support/TextEncoding.h"

namespace cloakline {

bool IsRefusedSystemLanguage(std::string_view languageName) {
    // The system gives at most 50 characters of the name.
    return SameTextAscii(languageName.substr(0, 50), "Chinese (Simplified, PRC)");
}

}  // namespace cloakline
