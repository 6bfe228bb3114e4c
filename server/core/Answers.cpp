#include "server/core/Answers.h"

#include <array>
#include <utility>

#include "core/support/TextEncoding.h"
#include "core/support/TextUtils.h"
#include "server/core/TextFields.h"

namespace cloakline::server {

namespace {

constexpr std::string_view kBreak = "\r\n";

void AddLine(std::string& out, std::string_view name, std::string_view value) {
    out.append(name).append("=").append(value).append(kBreak);
}

struct TSitePage {
    std::string_view Action;  // as the program names it
    std::string_view Path;    // below the public base
    std::string_view Title;
    std::string_view Text;
};

constexpr std::array<TSitePage, 5> kSitePages = {{
    {"home", "/home", "Cloakline", "Cloakline hides your public IP address from the web sites you visit."},
    {"help", "/help", "Cloakline help",
     "Pick a fake location, press Hide, and your browsers go through a proxy of that country. "
     "Stop points them back at a direct connection."},
    {"support", "/support", "Cloakline support", "Tell us what went wrong and which version you run."},
    {"eula", "/eula", "Cloakline licence", "This reference server comes without any warranty."},
    {"privary", "/privacy", "Cloakline privacy",
     "The server sees the address you connect from; it keeps no record of your requests."},
}};

}  // namespace

std::string BuildLocalInfoAnswer(std::string_view ip, const std::optional<TAddressPlace>& place) {
    std::string out;
    AddLine(out, "IP", ip);
    AddLine(out, "COUNTRY_SHORT", place ? std::string_view(place->Code) : "");
    AddLine(out, "COUNTRY_LONG", place ? std::string_view(place->Country) : "");
    AddLine(out, "CITY", place ? std::string_view(place->City) : "");
    return out;
}

std::string ProxyListLine(const TProxyEntry& entry) {
    return entry.ListAddress() + "|" + entry.Country + "|" + entry.CountryCode + "|" + entry.Longitude + "|" +
           entry.Latitude;
}

std::string ProxyListValue(const std::vector<TProxyEntry>& entries, std::size_t maxBytes) {
    std::string value;
    for (const TProxyEntry& entry : entries) {
        const std::string line = ReplaceAll(ProxyListLine(entry), "'", "\\'");
        const std::size_t needed = line.size() + (value.empty() ? 0 : 1);
        if (value.size() + needed > maxBytes) {
            break;
        }
        if (!value.empty()) {
            value += ';';
        }
        value += line;
    }
    return value;
}

std::string BuildUpdateAnswer(const TUpdateAnswerInput& input) {
    std::string out;
    AddLine(out, "magicword", input.MagicWord);
    const bool newer = input.Release && VersionToInt(input.Release->Version) > input.ClientVersion;
    AddLine(out, "Result", newer ? "1" : "0");
    AddLine(out, "info", newer ? std::string_view(input.Release->Info) : "");
    AddLine(out, "page", newer ? std::string_view(input.Release->Page) : "");

    std::vector<TProxyEntry> normal;
    std::vector<TProxyEntry> super;
    for (const TProxyEntry& entry : input.Proxies) {
        (entry.IsSuper ? super : normal).push_back(entry);
    }
    // With nothing healthy (an outage, or no round checked yet) the lists are
    // left out, so the lists an installation already has stay in use.
    if (!input.Proxies.empty()) {
        AddLine(out, "__MODIFY__.NORMAL_IPS", ProxyListValue(normal, kMaxProxyListBytes));
        AddLine(out, "__MODIFY__.SUPER_IPS", ProxyListValue(super, kMaxProxyListBytes));
    }

    const std::string& base = input.Pages.PublicBase;
    AddLine(out, "__MODIFY__.SUPER_TOUCH", base + "/touch?ip={1}");
    AddLine(out, "__MODIFY__.URL.Update", base + "/update");
    AddLine(out, "__MODIFY__.URL.Redirect", base + "/redirect");
    AddLine(out, "__MODIFY__.URL.GetInfo", base + "/getinfo");
    AddLine(out, "__MODIFY__.URL.FlagPath", base + "/flags/");
    AddLine(out, "__MODIFY__.URL.CheckIP", input.Pages.CheckIpUrl);
    for (const TSitePage& page : kSitePages) {
        AddLine(out, "__MODIFY__.URL." + std::string(page.Action), base + std::string(page.Path));
    }
    return out;
}

std::string BuildCheckIpPage(std::string_view ip, const std::optional<TAddressPlace>& place) {
    const std::string code = place ? HtmlEscape(place->Code) : "";
    const std::string country = place ? HtmlEscape(place->Country) : "unknown";
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Your IP address</title></head>\n"
           "<body><h1>Your IP address</h1>\n<p>Address: <span id=\"ip\">" +
           HtmlEscape(ip) + "</span></p>\n<p>Country: <span id=\"country\">" + code + "</span> (" + country +
           ")</p>\n</body></html>\n";
}

std::string SitePageOfAction(std::string_view action) {
    for (const TSitePage& page : kSitePages) {
        if (SameTextAscii(page.Action, action) || SameTextAscii(page.Path.substr(1), action)) {
            return std::string(page.Action);
        }
    }
    return {};
}

std::string BuildSitePage(std::string_view page) {
    for (const TSitePage& p : kSitePages) {
        if (p.Action == page) {
            return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + std::string(p.Title) +
                   "</title></head>\n<body><h1>" + std::string(p.Title) + "</h1>\n<p>" + std::string(p.Text) +
                   "</p>\n</body></html>\n";
        }
    }
    return {};
}

}  // namespace cloakline::server
