#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace cloakline::server {

// Keeps one client's bad requests from filling the log: at most so many
// refusal lines per client address in each window of a second, the rest
// counted and summed up in one line once the window is over. Not thread-safe;
// the caller holds the time and the lock.
class TRefusalLimiter {
  public:
    using TClock = std::chrono::steady_clock;
    static constexpr std::size_t KDefaultMaxClients = 4096;

    explicit TRefusalLimiter(int linesPerSecond, std::size_t maxClients = KDefaultMaxClients);

    void SetLinesPerSecond(int linesPerSecond);

    // The lines to write for one refusal of client at now: the summary of the
    // client's last window when it held lines back, then text when this
    // window still admits it.
    std::vector<std::string> Refusal(std::string_view client, std::string_view text, TClock::time_point now);
    // The summaries of every window that is over at now; their clients are
    // forgotten.
    std::vector<std::string> Flush(TClock::time_point now);

    // Clients with a window open (or over and not yet flushed).
    std::size_t TrackedClients() const;
    // Nothing tracked: no window open, no line held back.
    bool Empty() const;

  private:
    struct TWindow {
        TClock::time_point Start;
        int Written = 0;
        std::uint64_t Held = 0;
    };
    void Close(const std::string& client, const TWindow& window, std::vector<std::string>& out) const;
    void Count(const std::string& client,
               TWindow& window,
               std::string_view text,
               TClock::time_point now,
               std::vector<std::string>& out);

    int FLinesPerSecond;
    std::size_t FMaxClients;
    std::unordered_map<std::string, TWindow> FWindows;
    // Clients that found no room share this window, so that many addresses at
    // once still cannot write more than one client's share beyond the cap.
    TWindow FOthers;
    bool FOthersOpen = false;
};

}  // namespace cloakline::server
