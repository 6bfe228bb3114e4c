#include "server/ServerLog.h"

#include <ctime>
#include <stdexcept>
#include <vector>

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
    {
        std::lock_guard lock(FRefusalMutex);
        FStopping = true;
    }
    FRefusalWake.notify_all();
    if (FFlusher.joinable()) {
        FFlusher.join();
    }
    // What is still held back is said before the log ends.
    std::vector<std::string> summaries;
    {
        std::lock_guard lock(FRefusalMutex);
        summaries = FLimiter.Flush(TRefusalLimiter::TClock::time_point::max());
    }
    for (const std::string& summary : summaries) {
        Line(summary);
    }
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

void TServerLog::Refusal(std::string_view client, std::string_view text) {
    std::vector<std::string> lines;
    {
        std::lock_guard lock(FRefusalMutex);
        const bool wasEmpty = FLimiter.Empty();
        lines = FLimiter.Refusal(client, text, TRefusalLimiter::TClock::now());
        if (!FFlusher.joinable()) {
            FFlusher = std::thread([this] { FlushRefusals(); });
        } else if (wasEmpty) {
            FRefusalWake.notify_one();
        }
    }
    for (const std::string& line : lines) {
        Line(line);
    }
}

void TServerLog::SetRefusalLinesPerSecond(int linesPerSecond) {
    std::lock_guard lock(FRefusalMutex);
    FLimiter.SetLinesPerSecond(linesPerSecond);
}

void TServerLog::FlushRefusals() {
    std::unique_lock lock(FRefusalMutex);
    while (!FStopping) {
        if (FLimiter.Empty()) {
            FRefusalWake.wait(lock, [this] { return FStopping || !FLimiter.Empty(); });
            continue;
        }
        // Windows last a second; a second's sleep sees each of them over.
        FRefusalWake.wait_for(lock, std::chrono::seconds(1), [this] { return FStopping; });
        std::vector<std::string> summaries = FLimiter.Flush(TRefusalLimiter::TClock::now());
        lock.unlock();
        for (const std::string& summary : summaries) {
            Line(summary);
        }
        lock.lock();
    }
}

std::uint64_t TServerLog::WriteFailures() const {
    return FWriteFailures.load();
}

}  // namespace cloakline::server
