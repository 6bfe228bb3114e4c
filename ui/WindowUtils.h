#pragma once

#include <string>
#include <string_view>

class QWidget;

namespace cloakline {

// Keeps the window above all others (on) or puts it back among them (off).
void SetTopMost(QWidget* window, bool on);

// Restores a minimised window, shows it and brings it to the front; true
// when it is the active window afterwards (or at least shown where the window
// system does not let programs take the focus).
bool ForceForeground(QWidget* window);

// The system's folder picker; the chosen folder in program form, empty on cancel.
std::string BrowseForFolder(QWidget* owner, std::string_view initialFolder, std::string_view title);
// The system's file picker for an existing program file, opened at initialPath
// (a file or a folder); the chosen file in program form, empty on cancel.
std::string BrowseForProgramFile(QWidget* owner, std::string_view initialPath, std::string_view title);

}  // namespace cloakline
