#pragma once

#include <optional>
#include <string>

#include "platform/api/InstanceChannel.h"
#include "platform/win32/Win32Api.h"

namespace cloakline {

// The messages between instances as window messages: the protocol's names
// registered with RegisterWindowMessageW, the forwarded text as WM_COPYDATA,
// each sent with SendMessageTimeoutW so that a hung instance cannot hold up
// the sender. A listening main window is a hidden top-level window of the
// class, so that another process finds it by its class name.
//
// Windows of one class are found whatever installation they belong to; the
// protocol's "KT GetAppID" tells installations apart.
class Win32InstanceChannel : public IInstanceChannel {
  public:
    std::vector<InstanceEndpoint> FindWindows(std::string_view className) const override;
    std::optional<std::int64_t> Send(const InstanceEndpoint& window,
                                     const InstanceMessage& message,
                                     int timeoutMs) const override;
    // NativeHandle() of the listener is its window. Messages reach it through
    // the thread's message loop, whoever runs it; the window answers with
    // the handler of the last ServePending call (0 until the first).
    std::unique_ptr<IInstanceListener> Listen(std::string_view className) override;
};

// An endpoint's address is the window handle in decimal.
std::string WindowAddress(HWND window);
std::optional<HWND> WindowFromAddress(std::string_view address);

// The message number of a protocol name; nullopt for a name that is none.
std::optional<UINT> MessageNumber(std::string_view name);

}  // namespace cloakline
