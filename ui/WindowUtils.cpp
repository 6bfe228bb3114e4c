#include "ui/WindowUtils.h"

#include <QApplication>
#include <QFileDialog>
#include <QWidget>

#include "ui/QtPaths.h"

namespace cloakline {

void SetTopMost(QWidget* window, bool on) {
    if (window == nullptr || window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == on) {
        return;
    }
    // Changing the flag re-creates the native window, which hides it.
    const bool wasVisible = window->isVisible();
    window->setWindowFlag(Qt::WindowStaysOnTopHint, on);
    if (wasVisible) {
        window->show();
    }
}

bool ForceForeground(QWidget* window) {
    if (window == nullptr) {
        return false;
    }
    if (window->isMinimized()) {
        window->showNormal();
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window->isActiveWindow() || (window->isVisible() && !window->isMinimized());
}

std::string BrowseForFolder(QWidget* owner, std::string_view initialFolder, std::string_view title) {
    const QString chosen = QFileDialog::getExistingDirectory(
        owner, QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())),
        NativePathFromProgramPath(initialFolder));
    return ProgramPathFromNative(chosen);
}

std::string BrowseForProgramFile(QWidget* owner, std::string_view initialPath, std::string_view title) {
    const QString chosen = QFileDialog::getOpenFileName(
        owner, QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())),
        NativePathFromProgramPath(initialPath));
    return chosen.isEmpty() ? std::string() : ProgramPathFromNative(chosen);
}

}  // namespace cloakline
