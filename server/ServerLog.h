#pragma once

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

  private:
    std::mutex FMutex;
    std::FILE* FFile = nullptr;
    bool FOwned = false;
};

}  // namespace cloakline::server
