#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "server/core/RefusalLimiter.h"

namespace cloakline::server {

// One line per event, with the UTC time in front; any thread.
class TServerLog {
  public:
    // Appends to path; stderr when path is empty. Throws std::runtime_error
    // when the file cannot be opened.
    explicit TServerLog(const std::string& path);
    ~TServerLog();
    TServerLog(const TServerLog&) = delete;
    TServerLog& operator=(const TServerLog&) = delete;

    void Line(std::string_view text);
    // A refused request's line, at most so many a second per client address;
    // what is held back is summed up in one line.
    // Held-back lines are summed up when the client's next refusal comes or
    // within about a second after its window, and at the latest when the log
    // ends.
    void Refusal(std::string_view client, std::string_view text);
    void SetRefusalLinesPerSecond(int linesPerSecond);
    // Lines that could not be written (disk full, a closed pipe).
    std::uint64_t WriteFailures() const;

  private:
    void FlushRefusals();

    std::mutex FMutex;
    std::FILE* FFile = nullptr;
    bool FOwned = false;
    std::atomic<std::uint64_t> FWriteFailures{0};

    // The limiter and the thread that writes the summaries of clients that
    // went quiet; the thread starts with the first refusal.
    std::mutex FRefusalMutex;
    std::condition_variable FRefusalWake;
    TRefusalLimiter FLimiter{5};
    bool FStopping = false;
    std::thread FFlusher;
};

}  // namespace cloakline::server
