#pragma once

#include <string>
#include <string_view>

#include "platform/win32/Win32Api.h"

namespace cloakline {

// The system's folder picker rooted at the desktop, with title as its
// instruction and initial preselected; the chosen folder, empty on cancel.
std::string BrowseForFolder(HWND owner, std::string_view initial, std::string_view title);

// The window into the topmost band (on) or just below it, without moving,
// sizing or reordering its owner.
void SetTopMost(HWND window, bool on);

// Restores and shows the window and makes it the foreground window, working
// around the system's foreground lock; true when it is the foreground now.
bool ForceForeground(HWND window);

}  // namespace cloakline
