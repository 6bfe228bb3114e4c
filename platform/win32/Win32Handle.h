#pragma once

#include "platform/win32/Win32Api.h"

namespace cloakline {

// A kernel handle closed when it goes. Both null and INVALID_HANDLE_VALUE
// count as none, since the system's calls answer failure with either.
class TWin32Handle {
  public:
    TWin32Handle() = default;
    explicit TWin32Handle(HANDLE handle) : FHandle(handle) {}
    ~TWin32Handle() { Close(); }
    TWin32Handle(TWin32Handle&& other) noexcept : FHandle(other.FHandle) { other.FHandle = nullptr; }
    TWin32Handle& operator=(TWin32Handle&& other) noexcept {
        if (this != &other) {
            Close();
            FHandle = other.FHandle;
            other.FHandle = nullptr;
        }
        return *this;
    }
    TWin32Handle(const TWin32Handle&) = delete;
    TWin32Handle& operator=(const TWin32Handle&) = delete;

    HANDLE Get() const { return FHandle; }
    bool Valid() const { return FHandle != nullptr && FHandle != INVALID_HANDLE_VALUE; }
    // Hands the handle over without closing it.
    HANDLE Release() {
        HANDLE handle = FHandle;
        FHandle = nullptr;
        return handle;
    }
    void Close() {
        if (Valid()) {
            ::CloseHandle(FHandle);
        }
        FHandle = nullptr;
    }

  private:
    HANDLE FHandle = nullptr;
};

}  // namespace cloakline
