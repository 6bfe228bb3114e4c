#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/framework/DebugLog.h"

namespace cloakline::test {

// Captures the debug log while it lives and switches it on for the test.
class RecordingLogSink : public DebugLog::Sink {
  public:
    struct Entry {
        std::string Message;
        std::string Tag;
    };

    void Write(std::string_view message, std::string_view tag) override {
        std::lock_guard lock(FMutex);
        FEntries.push_back({std::string(message), std::string(tag)});
    }
    std::vector<Entry> Entries() const {
        std::lock_guard lock(FMutex);
        return FEntries;
    }
    bool Contains(const std::string& message, const std::string& tag) const {
        for (const Entry& e : Entries()) {
            if (e.Message == message && e.Tag == tag) {
                return true;
            }
        }
        return false;
    }
    void Clear() {
        std::lock_guard lock(FMutex);
        FEntries.clear();
    }

  private:
    mutable std::mutex FMutex;
    std::vector<Entry> FEntries;
};

// Installs a recording sink and turns the log on for one scope.
class ScopedLogCapture {
  public:
    ScopedLogCapture() : Sink(std::make_shared<RecordingLogSink>()) {
        DebugLog::SetSink(Sink);
        DebugLog::SetActive(true);
    }
    ~ScopedLogCapture() {
        DebugLog::SetActive(false);
        DebugLog::SetSink(nullptr);
    }
    std::shared_ptr<RecordingLogSink> Sink;
};

}  // namespace cloakline::test
