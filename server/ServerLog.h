#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

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
    void Refusal(std::string_view client, std::string_view text);
    // Lines that could not be written (disk full, a closed pipe).
    std::uint64_t WriteFailures() const;

  private:
    std::mutex FMutex;
    std::FILE* FFile = nullptr;
    bool FOwned = false;
    std::atomic<std::uint64_t> FWriteFailures{0};
};

}  // namespace cloakline::server
