#include "core/framework/DebugLog.h"

#include <atomic>
#include <mutex>
#include <string>

#include "core/support/UrlUtils.h"

namespace cloakline {

namespace {

std::atomic<bool> gActive{false};
std::mutex gSinkMutex;
std::shared_ptr<DebugLog::Sink> gSink;

void Write(std::string_view message, std::string_view tag) {
    if (!gActive.load(std::memory_order_relaxed)) {
        return;
    }
    // Proxy addresses may carry a user and password (the update answer's
    // lists, the gateway's upstreams); a debug log is shared freely, so no
    // message ever takes them there.
    const std::string shown = RedactUrlCredentials(message);
    std::lock_guard lock(gSinkMutex);
    if (gSink) {
        gSink->Write(shown, tag);
    }
}

}  // namespace

void DebugLog::SetActive(bool active) {
    gActive.store(active);
}

bool DebugLog::Active() {
    return gActive.load();
}

void DebugLog::SetSink(std::shared_ptr<Sink> sink) {
    std::lock_guard lock(gSinkMutex);
    gSink = std::move(sink);
}

void DebugLog::Log(std::string_view message) {
    Write(message, {});
}

void DebugLog::Log(std::string_view message, std::string_view tag) {
    Write(message, tag);
}

}  // namespace cloakline
