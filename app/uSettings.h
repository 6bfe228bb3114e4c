#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <string_view>

class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTabWidget;

namespace cloakline {

class TKTSettings;
class QtKTMultiLang;
struct Platform;

// "Options": the persistent options of the program. The controls are read
// from the settings when the dialog opens and written back only on OK; the
// two maintenance buttons act at once.
class TfrmSettings : public QDialog {
    Q_OBJECT

  public:
    // Asks the user for a file: owner, where to start, title; empty on cancel.
    using TPathPicker =
        std::function<std::string(QWidget* owner, std::string_view initialPath, std::string_view title)>;

    // settings and system must outlive the dialog.
    TfrmSettings(TKTSettings& settings, Platform& system, QWidget* owner = nullptr);

    void LoadOptions();
    void SaveOptions();
    void btnClearShowAgainFlagClick();
    void btnReinstallFFClick();

    // How the Firefox program file is asked for; the system's file picker by default.
    void SetFirefoxPicker(TPathPicker picker) { FFirefoxPicker = std::move(picker); }

  private:
    void FormCreate();
    void ShowInfo(std::string_view key);
    // Widens what the texts (a translation) need, with the dialog.
    void ArrangeControls();

    TKTSettings& FSettings;
    Platform& FSystem;
    TPathPicker FFirefoxPicker;

    QTabWidget* pcSetting;
    QWidget* tsGeneral;
    QWidget* tsBrowser;
    QCheckBox* cbAutoRun;
    QCheckBox* cbAutoUpdate;
    QCheckBox* cbChangeIP;
    QSpinBox* edtChangeIPTime;
    QPushButton* btnClearShowAgainFlag;
    QLabel* lblBrowser;
    QCheckBox* cbIE;
    QCheckBox* cbFF;
    QCheckBox* cbOpera;
    // The browsers go through the local gateway while hiding.
    QCheckBox* cbGateway;
    // Another program's change of the desktop's proxy settings is undone while hiding.
    QCheckBox* cbKeepProxy;
    // Browsers stay pointed at the dead gateway when the program dies.
    QCheckBox* cbBlockWeb;
    QPushButton* btnReinstallFF;
    QPushButton* btnOK;
    QPushButton* btnCancel;
    QtKTMultiLang* KTMultiLang1;
};

}  // namespace cloakline
