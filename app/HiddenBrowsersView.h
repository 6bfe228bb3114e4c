#pragma once

#include <QObject>
#include <functional>

#include "core/proxy/HiddenBrowsers.h"

class QLabel;
class QSystemTrayIcon;
class QTimer;
class QWidget;

namespace cloakline {

struct Platform;
class THideController;
class TProxyManager;
class IUpstreamGateway;

// The main window's list of the browsers found and whether each is hidden,
// with its summary in the tray icon's tooltip: shown while hiding, and
// looked at again every few seconds while hiding through the gateway, whose
// connections tell which browsers really use it. Main thread only.
class THiddenBrowsersView : public QObject {
    Q_OBJECT

  public:
    struct TParts {
        Platform& System;
        THideController& Hider;
        TProxyManager& Manager;
        IUpstreamGateway* Gateway = nullptr;
        QSystemTrayIcon& Tray;
        // Called when the list came or went or changed its height.
        std::function<void()> OnResized;
    };

    // The list is a label of parent's, placed by the window (Height()).
    THiddenBrowsersView(QWidget& parent, TParts parts);

    // Looks again, soon, at what the browsers do now.
    void Refresh();
    // Looks now.
    void RefreshNow();
    // The height the list takes below the window's controls; 0 while hidden.
    int Height() const;
    QLabel& List() const { return *FList; }
    const THiddenBrowserLines& Shown() const { return FView; }

    static constexpr int kGatewayRefreshMs = 3000;

  private:
    void Show(bool hiding);

    TParts FParts;
    QLabel* FList;
    QTimer* FTimer;
    QTimer* FSoon;
    THiddenBrowserLines FView;
    // The tooltip of the tray icon before hiding began.
    QString FTrayText;
    bool FShown = false;
};

}  // namespace cloakline
