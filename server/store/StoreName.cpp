#include "server/store/StoreName.h"

#include "core/support/UrlUtils.h"

namespace cloakline::server {

std::string ShownStoreName(const std::string& db) {
    std::string shown = cloakline::RedactUrlCredentials(db);
    // libpq also takes the password as a parameter of the URL.
    for (std::size_t at = shown.find("password="); at != std::string::npos;
         at = shown.find("password=", at + 1)) {
        if (at > 0 && shown[at - 1] != '?' && shown[at - 1] != '&' && shown[at - 1] != ' ') {
            continue;
        }
        const std::size_t value = at + 9;
        const std::size_t end = shown.find_first_of("& ", value);
        shown.replace(value, end == std::string::npos ? std::string::npos : end - value, "***");
    }
    return shown;
}

}  // namespace cloakline::server
