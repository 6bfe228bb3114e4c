#include "server/HttpRoutes.h"

#include <ctime>
#include <fstream>
#include <sstream>

#include "core/support/TextEncoding.h"
#include "server/core/Requests.h"

namespace cloakline::server {

namespace {

constexpr std::string_view kText = "text/plain; charset=utf-8";
constexpr std::string_view kHtml = "text/html; charset=utf-8";
constexpr std::string_view kFlagsPrefix = "/flags/";

THttpAnswer Ok(std::string body, std::string_view type) {
    THttpAnswer answer;
    answer.ContentType = std::string(type);
    answer.Body = std::move(body);
    return answer;
}

THttpAnswer Refused(int status, std::string reason) {
    THttpAnswer answer;
    answer.Status = status;
    answer.Refusal = std::move(reason);
    return answer;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return std::move(bytes).str();
}

bool IsSitePagePath(std::string_view path) {
    return path == "/home" || path == "/help" || path == "/support" || path == "/eula" || path == "/privacy";
}

}  // namespace

std::string_view PathOfTarget(std::string_view target) {
    return target.substr(0, target.find('?'));
}

THttpRoutes::THttpRoutes(IProxyStore& store, const TAddressLocator& locator, TRouteSettings settings)
    : FStore(store), FLocator(locator), FSettings(std::move(settings)) {}

bool THttpRoutes::Blocks(std::string_view target) {
    const std::string_view path = PathOfTarget(target);
    return path == "/update" || path == "/redirect" || path == "/touch" || path.starts_with(kFlagsPrefix);
}

THttpAnswer THttpRoutes::Answer(std::string_view target, const std::string& client) {
    try {
        return Route(PathOfTarget(target), target, client);
    } catch (const TStoreError& e) {
        ++FStoreFailures;
        return Refused(503, std::string("store: ") + e.what());
    } catch (const std::exception& e) {
        return Refused(500, std::string("failure: ") + e.what());
    }
}

THttpAnswer THttpRoutes::AnswerUpdate(const TQuery& query) {
    std::string reason;
    const auto request = ReadUpdateRequest(query, reason);
    if (!request) {
        return Refused(400, "update: " + reason);
    }
    TUpdateAnswerInput input;
    input.MagicWord = FSettings.MagicWord;
    input.Release = FStore.Release();
    input.ClientVersion = request->ClientVersion;
    input.Proxies = FStore.HealthyProxies();
    input.Pages = FSettings.Pages;
    return Ok(BuildUpdateAnswer(input), kText);
}

THttpAnswer THttpRoutes::Route(std::string_view path, std::string_view target, const std::string& client) {
    if (path == "/checkip") {
        return Ok(BuildCheckIpPage(client, FLocator.Find(client)), kHtml);
    }
    if (path.starts_with(kFlagsPrefix)) {
        const std::string_view name = path.substr(kFlagsPrefix.size());
        if (name.find('/') != std::string_view::npos) {
            return Refused(404, "no such page");
        }
        const std::string code = FlagCodeOfFileName(name);
        if (code.empty()) {
            return Refused(400, "flags: not a flag name");
        }
        auto bytes = ReadWholeFile(FSettings.FlagsDir + "/" + code + ".PNG");
        if (!bytes) {
            return Refused(404, "flags: no picture for " + code);
        }
        return Ok(std::move(*bytes), "image/png");
    }
    if (path != "/getinfo" && path != "/update" && path != "/redirect" && path != "/touch" &&
        !IsSitePagePath(path)) {
        return Refused(404, "no such page");
    }
    const auto query = TQuery::Parse(target);
    if (!query) {
        return Refused(400, "broken percent-encoding or a line break in the parameters");
    }
    if (path == "/getinfo") {
        const auto word = query->Get("MagicWord");
        if (!word || !SameTextAscii(*word, FSettings.MagicWord)) {
            // An empty refusal is what the program takes for no answer.
            return Refused(403, word ? "getinfo: wrong MagicWord" : "getinfo: no MagicWord");
        }
        return Ok(BuildLocalInfoAnswer(client, FLocator.Find(client)), kText);
    }
    if (path == "/update") {
        return AnswerUpdate(*query);
    }
    if (path == "/redirect") {
        const std::string action = query->Get("ACTION").value_or("");
        if (SameTextAscii(action, "Update")) {
            return AnswerUpdate(*query);
        }
        const std::string page = SitePageOfAction(action);
        if (page.empty()) {
            return Refused(404, "redirect: no page for ACTION " + action);
        }
        return Ok(BuildSitePage(page), kHtml);
    }
    if (path == "/touch") {
        const auto touched = ReadTouchTarget(query->Get("ip").value_or(""));
        if (!touched) {
            return Refused(400, "touch: ip is not a proxy address");
        }
        if (FStore.RecordTouch(touched->Host, touched->Port, static_cast<std::int64_t>(std::time(nullptr))) ==
            0) {
            return Refused(404, "touch: no super proxy " + *query->Get("ip"));
        }
        return Ok("ok", kText);
    }
    return Ok(BuildSitePage(SitePageOfAction(path.substr(1))), kHtml);
}

}  // namespace cloakline::server
