#include "platform/win32/Win32InstanceChannel.h"

#include <array>
#include <charconv>
#include <cstdint>

#include "platform/win32/Win32Text.h"

namespace cloakline {

namespace {

constexpr std::array<std::string_view, 7> kRegisteredNames = {
    kMsgGetAppID, kMsgCloseApp, kMsgInitPost, kMsgCmdParam, kMsgIfBusy, kMsgBringToFront, kMsgForceForeground,
};

// Windows of one class found in one walk; a walk that finds more is looking at garbage.
constexpr int kMaxWindowsPerClass = 256;

class Win32InstanceListener : public IInstanceListener {
  public:
    static std::unique_ptr<Win32InstanceListener> Create(std::string_view className) {
        const std::wstring wideClass = Widen(className);
        if (wideClass.empty()) {
            return nullptr;
        }
        const HINSTANCE module = ::GetModuleHandleW(nullptr);
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = &Win32InstanceListener::WindowProc;
        windowClass.hInstance = module;
        windowClass.lpszClassName = wideClass.c_str();
        // A second listener of the class in this process shares the registration.
        if (::RegisterClassExW(&windowClass) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
            return nullptr;
        }
        std::unique_ptr<Win32InstanceListener> listener(new Win32InstanceListener());
        // Top-level and never shown: message-only windows are not found by class.
        HWND window = ::CreateWindowExW(WS_EX_TOOLWINDOW, wideClass.c_str(), L"", WS_POPUP, 0, 0, 0, 0,
                                        nullptr, nullptr, module, nullptr);
        if (window == nullptr) {
            return nullptr;
        }
        listener->FWindow = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(listener.get()));
        return listener;
    }

    ~Win32InstanceListener() override {
        if (FWindow != nullptr) {
            ::SetWindowLongPtrW(FWindow, GWLP_USERDATA, 0);
            ::DestroyWindow(FWindow);
        }
    }
    Win32InstanceListener(const Win32InstanceListener&) = delete;
    Win32InstanceListener& operator=(const Win32InstanceListener&) = delete;

    std::intptr_t NativeHandle() const override { return reinterpret_cast<std::intptr_t>(FWindow); }

    void ServePending(const Handler& handler) override {
        FHandler = handler;
        // Sent messages are delivered inside PeekMessageW; posted ones are dispatched here.
        MSG message{};
        while (::PeekMessageW(&message, FWindow, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }

  private:
    Win32InstanceListener() = default;

    static LRESULT CALLBACK WindowProc(HWND window, UINT number, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<Win32InstanceListener*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self != nullptr && self->FHandler) {
            if (const auto message = Decode(number, wParam, lParam)) {
                const Handler handler = self->FHandler;
                return static_cast<LRESULT>(handler(*message));
            }
        }
        return ::DefWindowProcW(window, number, wParam, lParam);
    }

    static std::optional<InstanceMessage> Decode(UINT number, WPARAM wParam, LPARAM lParam) {
        InstanceMessage message;
        message.WParam = static_cast<std::int64_t>(wParam);
        message.LParam = static_cast<std::int64_t>(lParam);
        if (number == WM_COPYDATA) {
            const auto* record = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            if (record == nullptr || record->cbData > kMaxInstanceData) {
                return std::nullopt;
            }
            message.Name = std::string(kMsgCopyData);
            message.LParam = 0;
            message.DataTag = static_cast<std::uint64_t>(record->dwData);
            message.HasData = record->lpData != nullptr;
            if (message.HasData) {
                message.Data.assign(static_cast<const char*>(record->lpData), record->cbData);
            }
            return message;
        }
        if (number == WM_QUERYENDSESSION) {
            message.Name = std::string(kMsgQueryEndSession);
            return message;
        }
        for (const std::string_view name : kRegisteredNames) {
            const auto registered = MessageNumber(name);
            if (registered && *registered == number) {
                message.Name = std::string(name);
                return message;
            }
        }
        return std::nullopt;
    }

    HWND FWindow = nullptr;
    Handler FHandler;
};

}  // namespace

std::string WindowAddress(HWND window) {
    return std::to_string(reinterpret_cast<std::uintptr_t>(window));
}

std::optional<HWND> WindowFromAddress(std::string_view address) {
    std::uintptr_t value = 0;
    const auto [end, error] = std::from_chars(address.data(), address.data() + address.size(), value);
    if (error != std::errc() || end != address.data() + address.size() || value == 0) {
        return std::nullopt;
    }
    return reinterpret_cast<HWND>(value);
}

std::optional<UINT> MessageNumber(std::string_view name) {
    if (name == kMsgCopyData) {
        return WM_COPYDATA;
    }
    if (name == kMsgQueryEndSession) {
        return WM_QUERYENDSESSION;
    }
    if (name.empty() || name.size() > kMaxInstanceNameLength) {
        return std::nullopt;
    }
    const UINT number = ::RegisterWindowMessageW(Widen(name).c_str());
    return number == 0 ? std::nullopt : std::optional<UINT>(number);
}

std::vector<InstanceEndpoint> Win32InstanceChannel::FindWindows(std::string_view className) const {
    std::vector<InstanceEndpoint> windows;
    const std::wstring wideClass = Widen(className);
    if (wideClass.empty()) {
        return windows;
    }
    HWND after = nullptr;
    for (int i = 0; i < kMaxWindowsPerClass; ++i) {
        after = ::FindWindowExW(nullptr, after, wideClass.c_str(), nullptr);
        if (after == nullptr) {
            break;
        }
        windows.push_back(InstanceEndpoint{WindowAddress(after)});
    }
    return windows;
}

std::optional<std::int64_t> Win32InstanceChannel::Send(const InstanceEndpoint& window,
                                                       const InstanceMessage& message,
                                                       int timeoutMs) const {
    const auto target = WindowFromAddress(window.Address);
    const auto number = MessageNumber(message.Name);
    if (!target || !number || !::IsWindow(*target)) {
        return std::nullopt;
    }
    COPYDATASTRUCT record{};
    LPARAM lParam = static_cast<LPARAM>(message.LParam);
    if (*number == WM_COPYDATA) {
        if (message.Data.size() > kMaxInstanceData) {
            return std::nullopt;
        }
        record.dwData = static_cast<ULONG_PTR>(message.DataTag);
        record.cbData = static_cast<DWORD>(message.Data.size());
        record.lpData = message.HasData ? const_cast<char*>(message.Data.data()) : nullptr;
        lParam = reinterpret_cast<LPARAM>(&record);
    }
    DWORD_PTR reply = 0;
    const UINT timeout = timeoutMs <= 0 ? 1u : static_cast<UINT>(timeoutMs);
    // A window whose thread is hung or ends meanwhile fails the call at once.
    if (::SendMessageTimeoutW(*target, *number, static_cast<WPARAM>(message.WParam), lParam,
                              SMTO_ABORTIFHUNG | SMTO_ERRORONEXIT, timeout, &reply) == 0) {
        return std::nullopt;
    }
    // LRESULT is as wide as a pointer; a 32-bit reply keeps its sign.
    return static_cast<std::int64_t>(static_cast<LRESULT>(reply));
}

std::unique_ptr<IInstanceListener> Win32InstanceChannel::Listen(std::string_view className) {
    return Win32InstanceListener::Create(className);
}

}  // namespace cloakline
