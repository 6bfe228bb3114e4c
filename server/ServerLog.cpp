#include "server/ServerLog.h"

#include <ctime>
#include <stdexcept>

#include "core/support/UrlUtils.h"

namespace cloakline::server {

TServerLog::TServerLog(const std::string& path) {
    if (path.empty()) {
        FFile = stderr;
        return;
    }
    FFile = std::fopen(path.c_str(), "a");
    if (!FFile) {
        throw std::runtime_error("cannot open the log " + path);
    }
    FOwned = true;
}

TServerLog::~TServerLog() {
    if (FOwned) {
        std::fclose(FFile);
    }
}

void TServerLog::Line(std::string_view text) {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    // Whatever a request carried stays on its own line, and no proxy's
    // credentials reach the log, whoever wrote the text.
    std::string clean = RedactUrlCredentials(text);
    for (char& c : clean) {
        if (static_cast<unsigned char>(c) < 0x20) {
            c = ' ';
        }
    }
    std::lock_guard lock(FMutex);
    const bool written = std::fprintf(FFile, "%s %s\n", stamp, clean.c_str()) >= 0;
    if (std::fflush(FFile) != 0 || !written) {
        ++FWriteFailures;
        std::clearerr(FFile);
    }
}

void TServerLog::Refusal(std::string_view, std::string_view text) {
    Line(text);
}

std::uint64_t TServerLog::WriteFailures() const {
    return FWriteFailures.load();
}

}  // namespace cloakline::server
