#include "server/core/RefusalLimiter.h"

#include <algorithm>

namespace cloakline::server {
namespace {

constexpr std::chrono::seconds kWindow{1};
constexpr std::string_view kOthers = "other clients";

}  // namespace

TRefusalLimiter::TRefusalLimiter(int linesPerSecond, std::size_t maxClients)
    : FLinesPerSecond(std::max(1, linesPerSecond)), FMaxClients(std::max<std::size_t>(1, maxClients)) {}

void TRefusalLimiter::SetLinesPerSecond(int linesPerSecond) {
    FLinesPerSecond = std::max(1, linesPerSecond);
}

void TRefusalLimiter::Close(const std::string& client,
                            const TWindow& window,
                            std::vector<std::string>& out) const {
    if (window.Held > 0) {
        out.push_back(std::to_string(window.Held) +
                      (window.Held == 1 ? " more refusal from " : " more refusals from ") + client +
                      " held back");
    }
}

void TRefusalLimiter::Count(const std::string& client,
                            TWindow& window,
                            std::string_view text,
                            TClock::time_point now,
                            std::vector<std::string>& out) {
    if (now - window.Start >= kWindow) {
        Close(client, window, out);
        window = {now, 0, 0};
    }
    if (window.Written < FLinesPerSecond) {
        ++window.Written;
        out.emplace_back(text);
    } else {
        ++window.Held;
    }
}

std::vector<std::string> TRefusalLimiter::Refusal(std::string_view client,
                                                  std::string_view text,
                                                  TClock::time_point now) {
    std::vector<std::string> out;
    std::string key(client);
    auto found = FWindows.find(key);
    if (found == FWindows.end()) {
        if (FWindows.size() >= FMaxClients) {
            out = Flush(now);
        }
        if (FWindows.size() >= FMaxClients) {
            if (!FOthersOpen) {
                FOthers = {now, 0, 0};
                FOthersOpen = true;
            }
            Count(std::string(kOthers), FOthers, text, now, out);
            return out;
        }
        found = FWindows.emplace(std::move(key), TWindow{now, 0, 0}).first;
    }
    Count(found->first, found->second, text, now, out);
    return out;
}

std::vector<std::string> TRefusalLimiter::Flush(TClock::time_point now) {
    std::vector<std::string> out;
    for (auto it = FWindows.begin(); it != FWindows.end();) {
        if (now - it->second.Start >= kWindow) {
            Close(it->first, it->second, out);
            it = FWindows.erase(it);
        } else {
            ++it;
        }
    }
    if (FOthersOpen && now - FOthers.Start >= kWindow) {
        Close(std::string(kOthers), FOthers, out);
        FOthersOpen = false;
    }
    return out;
}

std::size_t TRefusalLimiter::TrackedClients() const {
    return FWindows.size();
}

bool TRefusalLimiter::Empty() const {
    return FWindows.empty() && !FOthersOpen;
}

}  // namespace cloakline::server
