#include "platform/win32/Win32Windows.h"

#include "platform/win32/Win32ShellApi.h"
#include "platform/win32/Win32Text.h"

namespace cloakline {

namespace {

int CALLBACK BrowseCallback(HWND dialog, UINT message, LPARAM, LPARAM data) {
    if (message == BFFM_INITIALIZED) {
        const LONG_PTR style = ::GetWindowLongPtrW(dialog, GWL_EXSTYLE);
        ::SetWindowLongPtrW(dialog, GWL_EXSTYLE, style & ~static_cast<LONG_PTR>(WS_EX_CONTEXTHELP));
        ::SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, data);
    }
    return 0;
}

void BringToTop(HWND window) {
    ::BringWindowToTop(window);
    ::SetForegroundWindow(window);
}

}  // namespace

std::string BrowseForFolder(HWND owner, std::string_view initial, std::string_view title) {
    const std::wstring wideInitial = Widen(initial);
    const std::wstring wideTitle = Widen(title);
    BROWSEINFOW browse{};
    browse.hwndOwner = owner;
    browse.pidlRoot = nullptr;
    browse.lpszTitle = wideTitle.c_str();
    browse.ulFlags = 0;
    browse.lpfn = &BrowseCallback;
    browse.lParam = reinterpret_cast<LPARAM>(wideInitial.c_str());
    PIDLIST_ABSOLUTE chosen = ::SHBrowseForFolderW(&browse);
    if (chosen == nullptr) {
        return {};
    }
    wchar_t path[MAX_PATH] = {};
    const bool found = ::SHGetPathFromIDListW(chosen, path) != FALSE;
    ::CoTaskMemFree(chosen);
    return found ? Narrow(path) : std::string();
}

void SetTopMost(HWND window, bool on) {
    ::SetWindowPos(window, on ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                   SWP_NOOWNERZORDER | SWP_NOMOVE | SWP_NOSIZE);
}

bool ForceForeground(HWND window) {
    if (::IsIconic(window)) {
        ::ShowWindow(window, SW_RESTORE);
    }
    ::ShowWindow(window, SW_SHOW);
    if (::GetForegroundWindow() == window) {
        return true;
    }
    const DWORD ownThread = ::GetWindowThreadProcessId(window, nullptr);
    HWND foreground = ::GetForegroundWindow();
    const DWORD foregroundThread =
        foreground != nullptr ? ::GetWindowThreadProcessId(foreground, nullptr) : 0;
    const bool attach = foregroundThread != 0 && foregroundThread != ownThread;
    if (attach) {
        ::AttachThreadInput(foregroundThread, ownThread, TRUE);
    }
    BringToTop(window);
    if (attach) {
        ::AttachThreadInput(foregroundThread, ownThread, FALSE);
    }
    if (::GetForegroundWindow() != window) {
        DWORD lockTimeout = 0;
        ::SystemParametersInfoW(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &lockTimeout, 0);
        ::SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, nullptr, SPIF_SENDCHANGE);
        BringToTop(window);
        ::SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0,
                                reinterpret_cast<PVOID>(static_cast<UINT_PTR>(lockTimeout)), SPIF_SENDCHANGE);
    }
    return ::GetForegroundWindow() == window;
}

}  // namespace cloakline
