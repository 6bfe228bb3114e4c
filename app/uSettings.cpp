#include "app/uSettings.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <algorithm>

#include "core/framework/GlobalPlatform.h"
#include "core/framework/KTSettings.h"
#include "core/proxy/SHRUtils.h"
#include "core/support/ShellUtils.h"
#include "ui/FitToText.h"
#include "ui/KTEngine.h"
#include "ui/KTForm.h"
#include "ui/KTFormRegistry.h"
#include "ui/QtMultiLang.h"
#include "ui/WindowUtils.h"

namespace cloakline {

namespace {

constexpr int kMinChangeIPTime = 1;
constexpr int kMaxChangeIPTime = 120;
// The Browser page's two guard options sit below the design's last box; the pages grow by their height.
constexpr int kGuardRows = 44;

template <class TWidget, class... TArgs>
TWidget* Make(const char* name, QRect geometry, TArgs&&... args) {
    auto* widget = new TWidget(std::forward<TArgs>(args)...);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(geometry);
    return widget;
}

}  // namespace

TfrmSettings::TfrmSettings(TKTSettings& settings, Platform& system, QWidget* owner)
    : QDialog(owner), FSettings(settings), FSystem(system), FFirefoxPicker(BrowseForProgramFile) {
    setObjectName(QStringLiteral("frmSettings"));
    setWindowTitle(QStringLiteral("Options"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::CustomizeWindowHint);
    setFixedSize(434, 280 + kGuardRows);

    pcSetting = Make<QTabWidget>("pcSetting", QRect(6, 6, 411, 219 + kGuardRows), this);
    tsGeneral = new QWidget;
    tsGeneral->setObjectName(QStringLiteral("tsGeneral"));
    tsBrowser = new QWidget;
    tsBrowser->setObjectName(QStringLiteral("tsBrowser"));
    pcSetting->addTab(tsGeneral, QStringLiteral("General"));
    pcSetting->addTab(tsBrowser, QStringLiteral("Browser"));

    cbAutoRun = Make<QCheckBox>("cbAutoRun", QRect(10, 9, 389, 25),
                                QStringLiteral("Automatically run Cloakline when I log in"), tsGeneral);
    cbAutoUpdate =
        Make<QCheckBox>("cbAutoUpdate", QRect(10, 36, 389, 25),
                        QStringLiteral("Automatically check updates when Cloakline starts"), tsGeneral);
    cbChangeIP = Make<QCheckBox>("cbChangeIP", QRect(10, 63, 389, 25),
                                 QStringLiteral("Change IP Every                     Minutes "), tsGeneral);
    edtChangeIPTime = Make<QSpinBox>("edtChangeIPTime", QRect(119, 64, 49, 21), tsGeneral);
    edtChangeIPTime->setRange(kMinChangeIPTime, kMaxChangeIPTime);
    edtChangeIPTime->setSingleStep(1);
    edtChangeIPTime->setValue(10);
    edtChangeIPTime->raise();
    btnClearShowAgainFlag = Make<QPushButton>("btnClearShowAgainFlag", QRect(10, 161, 149, 25),
                                              QStringLiteral("Clear Show Again Flag"), tsGeneral);

    lblBrowser = new QLabel(QStringLiteral("Enable Hide IP For Selected Browsers"), tsBrowser);
    lblBrowser->setObjectName(QStringLiteral("lblBrowser"));
    lblBrowser->move(8, 16);
    cbIE = Make<QCheckBox>("cbIE", QRect(24, 48, 150, 25), QStringLiteral("Internet Explorer"), tsBrowser);
    // Shows the setting; the system-wide switch is not the user's to turn off here.
    cbIE->setEnabled(false);
    cbFF = Make<QCheckBox>("cbFF", QRect(24, 80, 150, 25), QStringLiteral("Fire Fox"), tsBrowser);
    cbOpera = Make<QCheckBox>("cbOpera", QRect(24, 112, 150, 25), QStringLiteral("Opera"), tsBrowser);
    cbGateway = Make<QCheckBox>("cbGateway", QRect(24, 138, 370, 21),
                                QStringLiteral("Send browsers through the local gateway (safer)"), tsBrowser);
    cbKeepProxy = Make<QCheckBox>(
        "cbKeepProxy", QRect(24, 160, 370, 21),
        QStringLiteral("Keep my browsers on the proxy when another program changes it"), tsBrowser);
    cbBlockWeb =
        Make<QCheckBox>("cbBlockWeb", QRect(24, 182, 370, 21),
                        QStringLiteral("Block the web when Cloakline stops unexpectedly"), tsBrowser);
    btnReinstallFF = Make<QPushButton>("btnReinstallFF", QRect(8, 160 + kGuardRows, 193, 25),
                                       QStringLiteral("Re-install FireFox Extension"), tsBrowser);

    btnOK = Make<QPushButton>("btnOK", QRect(249, 231 + kGuardRows, 75, 25), QStringLiteral("&OK"), this);
    btnOK->setDefault(true);
    btnCancel =
        Make<QPushButton>("btnCancel", QRect(330, 231 + kGuardRows, 75, 25), QStringLiteral("&Cancel"), this);

    connect(btnOK, &QPushButton::clicked, this, [this] {
        SaveOptions();
        accept();
    });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(btnClearShowAgainFlag, &QPushButton::clicked, this, &TfrmSettings::btnClearShowAgainFlagClick);
    connect(btnReinstallFF, &QPushButton::clicked, this, &TfrmSettings::btnReinstallFFClick);

    KTMultiLang1 = CreateFormTranslationClient(*this);
    connect(KTMultiLang1, &QtKTMultiLang::OnChangeLanguage, this, [this] { ArrangeControls(); });
    FormCreate();
    NotifyFormLoaded(*this);
    ArrangeControls();
}

void TfrmSettings::ArrangeControls() {
    struct TPlaced {
        QWidget* Control;
        QRect Design;
    };
    const TPlaced onPages[] = {
        {cbAutoRun, {10, 9, 389, 25}},
        {cbAutoUpdate, {10, 36, 389, 25}},
        {cbChangeIP, {10, 63, 389, 25}},
        {btnClearShowAgainFlag, {10, 161, 149, 25}},
        {cbIE, {24, 48, 150, 25}},
        {cbFF, {24, 80, 150, 25}},
        {cbOpera, {24, 112, 150, 25}},
        {cbGateway, {24, 138, 370, 21}},
        {cbKeepProxy, {24, 160, 370, 21}},
        {cbBlockWeb, {24, 182, 370, 21}},
        {btnReinstallFF, {8, 160 + kGuardRows, 193, 25}},
    };
    // The design's widest line ends here on its page; what goes further widens the pages.
    constexpr int kPageContentRight = 399;
    int right = kPageContentRight;
    for (const TPlaced& placed : onPages) {
        const QRect& d = placed.Design;
        placed.Control->setGeometry(d.x(), d.y(), FittedWidth(*placed.Control, d.width()), d.height());
        right = std::max(right, placed.Control->geometry().right() + 1);
    }
    lblBrowser->adjustSize();
    right = std::max(right, lblBrowser->geometry().right() + 1);
    const int extra = right - kPageContentRight;
    pcSetting->resize(411 + extra, 219 + kGuardRows);
    setFixedSize(434 + extra, 280 + kGuardRows);

    // The spin edit sits in the run of blanks its caption leaves for it.
    const QRect gap = CaptionGap(*cbChangeIP);
    if (!gap.isEmpty()) {
        edtChangeIPTime->move(cbChangeIP->x() + gap.x() + (gap.width() - edtChangeIPTime->width()) / 2,
                              edtChangeIPTime->y());
    }

    const int cancelWidth = FittedWidth(*btnCancel, 75);
    btnCancel->setGeometry(405 + extra - cancelWidth, 231 + kGuardRows, cancelWidth, 25);
    const int okWidth = FittedWidth(*btnOK, 75);
    btnOK->setGeometry(btnCancel->x() - 6 - okWidth, 231 + kGuardRows, okWidth, 25);
}

void TfrmSettings::FormCreate() {
    pcSetting->setCurrentWidget(tsGeneral);
    LoadOptions();
}

void TfrmSettings::LoadOptions() {
    cbAutoRun->setChecked(FSettings.GetSettingBool("AutoRun"));
    cbIE->setChecked(FSettings.GetSettingBool("SWITCH.IE"));
    cbFF->setChecked(FSettings.GetSettingBool("SWITCH.FF"));
    cbOpera->setChecked(FSettings.GetSettingBool("SWITCH.OPERA"));
    cbGateway->setChecked(FSettings.GetSettingBool("Gateway.Enabled"));
    cbKeepProxy->setChecked(FSettings.GetSettingBool("Guard.KeepProxy"));
    cbBlockWeb->setChecked(FSettings.GetSettingBool("Guard.BlockWeb"));
    cbAutoUpdate->setChecked(FSettings.GetSettingBool("Update.AutoCheck"));
    cbChangeIP->setChecked(FSettings.GetSettingBool("ChangeIP"));
    // The spin edit shows a stored value outside its range as the nearest bound.
    edtChangeIPTime->setValue(
        std::clamp(FSettings.GetSettingInteger("ChangeIPTime"), kMinChangeIPTime, kMaxChangeIPTime));
}

void TfrmSettings::SaveOptions() {
    // One write of the settings file for the whole set.
    FSettings.BeginUpdate();
    FSettings.SetSettingBool("AutoRun", cbAutoRun->isChecked());
    if (FSystem.AutoRun) {
        // Named from the installation, never from "App.Name", which a settings
        // file may carry for another program's entry.
        FSystem.AutoRun->SetAutoRun(cbAutoRun->isChecked(),
                                    AutoRunEntryName(FSettings.GetSettingString("App.GUID")),
                                    GetExeName(FSystem));
    }
    FSettings.SetSettingBool("SWITCH.IE", cbIE->isChecked());
    FSettings.SetSettingBool("SWITCH.FF", cbFF->isChecked());
    FSettings.SetSettingBool("SWITCH.OPERA", cbOpera->isChecked());
    FSettings.SetSettingBool("Gateway.Enabled", cbGateway->isChecked());
    FSettings.SetSettingBool("Guard.KeepProxy", cbKeepProxy->isChecked());
    FSettings.SetSettingBool("Guard.BlockWeb", cbBlockWeb->isChecked());
    FSettings.SetSettingBool("Update.AutoCheck", cbAutoUpdate->isChecked());
    FSettings.SetSettingBool("ChangeIP", cbChangeIP->isChecked());
    FSettings.SetSettingInteger("ChangeIPTime", edtChangeIPTime->value());
    FSettings.EndUpdate();
}

void TfrmSettings::btnClearShowAgainFlagClick() {
    FSettings.ClearShowAgainFlag();
}

void TfrmSettings::ShowInfo(std::string_view key) {
    if (TKTEngine* engine = GlobalEngine()) {
        engine->ShowMessageEx(key, {}, 0, mtInformation, MsgDlgButtons({mbOK}), 0, false);
    }
}

void TfrmSettings::btnReinstallFFClick() {
    const TSwitchServices with{FSettings, FSystem};
    if (!IsFirefoxInstalled(with)) {
        ShowInfo("MSGBox.FFUninstalled");
        return;
    }
    if (!InstallFirefoxExtension(with)) {
        ShowInfo("MSGBox.FFPath");
        // The setting names the program file itself, so that is what is asked for.
        const std::string chosen = FFirefoxPicker(this, GetFirefoxPath(with), "Choose Firefox Path");
        // Cancelling the picker keeps the location the program knew.
        if (!chosen.empty()) {
            FSettings.SetSettingstring("FireFoxPath", chosen);
            InstallFirefoxExtension(with);
        }
    }
    if (IsFirefoxRunning(with)) {
        ShowInfo("MSGBox.FFRestart");
    }
}

namespace {

const TFormRegistration kRegistration("TfrmSettings", [](QWidget& mainForm) -> std::unique_ptr<QWidget> {
    if (!HasGlobalPlatform()) {
        return nullptr;
    }
    return std::make_unique<TfrmSettings>(GlobalSettings(), GlobalPlatform(), &mainForm);
});

}  // namespace

}  // namespace cloakline
