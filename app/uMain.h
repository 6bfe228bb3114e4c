#pragma once

#include <QMainWindow>

#include "app/KTMain.h"

namespace cloakline {

class TKTEngine;
class TKTSkinData;
class QtKTMultiLangData;

// The program's main window. For now it starts, shows itself and answers
// other instances through its engine; the hiding controls and the status
// panel come with their own units.
class TfrmMain : public QMainWindow {
    Q_OBJECT

  public:
    explicit TfrmMain(const TAppContext& context, QWidget* parent = nullptr);
    ~TfrmMain() override;

    TKTEngine* Engine() const { return FEngine; }

  private:
    TKTSkinData* FSkinData;
    QtKTMultiLangData* FLanguageData;
    TKTEngine* FEngine;
};

}  // namespace cloakline
