#pragma once

#include <QMainWindow>

#include "app/KTMain.h"

namespace cloakline {

class TKTInstanceHook;

// The program's main window. For now it starts, shows itself and answers
// other instances; the hiding controls and the status panel come with their own units.
class TfrmMain : public QMainWindow {
    Q_OBJECT

  public:
    explicit TfrmMain(const TAppContext& context, QWidget* parent = nullptr);
    ~TfrmMain() override;

    TKTInstanceHook* InstanceHook() const { return FInstanceHook; }

  private:
    TKTInstanceHook* FInstanceHook;
};

}  // namespace cloakline
