#include "ui/KTUpdateForm.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "core/framework/DebugLog.h"
#include "core/framework/GlobalPlatform.h"
#include "core/framework/KTSettings.h"
#include "core/framework/KTUpdateRules.h"
#include "core/support/ShellUtils.h"
#include "ui/KTEngine.h"
#include "ui/KTForm.h"
#include "ui/QtPaths.h"

namespace cloakline {

namespace {

constexpr int kClientWidth = 373;
constexpr int kClientHeight = 325;
constexpr int kLogoHeight = 65;
constexpr int kOkCancelHeight = 40;
constexpr int kOkHeight = 34;
constexpr int kProcessHeight = 51;
constexpr int kTimerMs = 200;
constexpr std::string_view kLogoFile = "res\\images\\update.png";

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

std::string LibString(std::string_view name) {
    TKTEngine* engine = GlobalEngine();
    return engine != nullptr ? engine->GetLibString(name) : std::string();
}

TDateTime Now() {
    return GlobalPlatform().Clock->Now();
}

void Trace(const std::string& message) {
    DebugLog::Log(message, kUpdateLogTag);
}

QWidget* Panel(QWidget* parent, const char* name, int height) {
    auto* panel = new QWidget(parent);
    panel->setObjectName(QString::fromLatin1(name));
    if (height > 0) {
        panel->setFixedHeight(height);
    }
    return panel;
}

QPushButton* Button(QWidget* parent, const char* name, const char* caption) {
    auto* button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

TDownloaderContext UpdateContext(TDownloaderContext context) {
    context.Options.MaxTextBytes = kMaxUpdateAnswerBytes;
    return context;
}

}  // namespace

TfrmKTUpdateForm::TfrmKTUpdateForm(QWidget* AOwner, const TDownloaderContext& context)
    : QDialog(AOwner,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("frmKTUpdateForm"));
    BuildForm();

    sdDownload = std::make_unique<TSingleDownloader>(UpdateContext(context));
    sdDownload->AcceptTypes = "*/*";
    sdDownload->BinaryData = false;
    sdDownload->UseCache = false;
    sdDownload->WaitThread = false;
    sdDownload->HttpCharset = THttpCharset::KAnsi;
    sdDownload->OnDoneString = [this](TSingleDownloader& sender, const std::string& text) {
        sdDownloadDoneString(sender, text);
    };
    sdDownload->OnError = [this](TSingleDownloader& sender) { sdDownloadError(sender); };

    clfrm1 = new TKTForm(*this);
    clfrm1->setObjectName(QStringLiteral("clfrm1"));
    clfrm1->SetRuntimeSetSkinData(true);
    clfrm1->SetRuntimeSetLanguageData(true);
    clfrm1->SetRunTimeSetFormProperties(false);
    NotifyFormLoaded(*this);
    FormCreate();
}

TfrmKTUpdateForm::~TfrmKTUpdateForm() = default;

void TfrmKTUpdateForm::BuildForm() {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    pnProcess = Panel(this, "pnProcess", kProcessHeight);
    auto* processRow = new QHBoxLayout(pnProcess);
    lbProcess = new QLabel(QStringLiteral("Connecting..."), pnProcess);
    lbProcess->setObjectName(QStringLiteral("lbProcess"));
    btnCancelProcess = Button(pnProcess, "btnCancelProcess", "&Cancel");
    processRow->addWidget(lbProcess, 1);
    processRow->addWidget(btnCancelProcess);
    pnProcess->hide();

    pnLogo = Panel(this, "pnLogo", kLogoHeight);
    auto* logoRow = new QHBoxLayout(pnLogo);
    logoRow->setContentsMargins(0, 0, 0, 0);
    imgLogo = new QLabel(pnLogo);
    imgLogo->setObjectName(QStringLiteral("imgLogo"));
    logoRow->addWidget(imgLogo);

    pnInfo = Panel(this, "pnInfo", 0);
    auto* infoColumn = new QVBoxLayout(pnInfo);
    lbInfo = new QLabel(QStringLiteral("Connecting..."), pnInfo);
    lbInfo->setObjectName(QStringLiteral("lbInfo"));
    lbInfo->setWordWrap(true);
    lbInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The server's text is shown as it is, never as markup.
    lbInfo->setTextFormat(Qt::PlainText);
    lblTimer = new QLabel(QStringLiteral("This window will close in {1} sec(s)..."), pnInfo);
    lblTimer->setObjectName(QStringLiteral("lblTimer"));
    lblTimer->hide();
    cbAutoCheckUpdate = new QCheckBox(QStringLiteral("&Auto Check Update"), pnInfo);
    cbAutoCheckUpdate->setObjectName(QStringLiteral("cbAutoCheckUpdate"));
    infoColumn->addWidget(lbInfo, 1);
    infoColumn->addWidget(lblTimer);
    infoColumn->addWidget(cbAutoCheckUpdate);

    pnOkCancel = Panel(this, "pnOkCancel", kOkCancelHeight);
    auto* okCancelRow = new QHBoxLayout(pnOkCancel);
    btnOK = Button(pnOkCancel, "btnOK", "&OK");
    btnOK->setDefault(true);
    btnCancel = Button(pnOkCancel, "btnCancel", "&Cancel");
    okCancelRow->addStretch(1);
    okCancelRow->addWidget(btnOK);
    okCancelRow->addWidget(btnCancel);

    pnOK = Panel(this, "pnOK", kOkHeight);
    auto* okRow = new QHBoxLayout(pnOK);
    okRow->setContentsMargins(okRow->contentsMargins().left(), 0, okRow->contentsMargins().right(), 0);
    btnOK2 = Button(pnOK, "btnOK2", "&Ok");
    okRow->addStretch(1);
    okRow->addWidget(btnOK2);

    column->addWidget(pnProcess);
    column->addWidget(pnLogo);
    column->addWidget(pnInfo, 1);
    column->addWidget(pnOkCancel);
    column->addWidget(pnOK);

    tmrTimer = new QTimer(this);
    tmrTimer->setObjectName(QStringLiteral("tmrTimer"));
    tmrTimer->setInterval(kTimerMs);

    connect(btnOK, &QPushButton::clicked, this, [this] { btnOKClick(); });
    connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });
    connect(btnOK2, &QPushButton::clicked, this, [this] { btnOK2Click(); });
    connect(btnCancelProcess, &QPushButton::clicked, this, [this] { btnOK2Click(); });
    connect(tmrTimer, &QTimer::timeout, this, [this] { tmrTimerTimer(); });
    setFixedSize(kClientWidth, kClientHeight);
}

void TfrmKTUpdateForm::FormCreate() {
    TKTSettings& settings = GlobalSettings();
    QPixmap logo;
    if (HasGlobalPlatform()) {
        logo.load(NativePathFromProgramPath(GetAppPath(GlobalPlatform()) + std::string(kLogoFile)));
    }
    if (!logo.isNull() && logo.height() > 0) {
        imgLogo->setPixmap(logo);
        setFixedSize(logo.width(), height() + logo.height() - pnLogo->height());
        pnLogo->setFixedHeight(logo.height());
        FHasLogo = true;
    } else {
        pnLogo->hide();
        setFixedSize(width(), height() - pnLogo->height());
    }

    setWindowTitle(Q(LibString("TfrmKTUpdateForm.Caption")));
    btnOK->setText(Q(LibString("btnOk.Caption")));
    btnOK2->setText(Q(LibString("btnOk.Caption")));
    btnCancel->setText(Q(LibString("btnCancel.Caption")));
    cbAutoCheckUpdate->setText(Q(LibString("cbAutoCheckUpdate.Caption")));
    lbInfo->setText(Q(LibString("Update.Connecting")));

    pnOkCancel->hide();
    if (settings.GetSettingBool("Update.NoAutoCheck")) {
        cbAutoCheckUpdate->hide();
    }
    cbAutoCheckUpdate->setChecked(settings.GetSettingBool("Update.AutoCheck"));
    FDelaySeconds = UpdateDelaySeconds(settings.GetSettingInteger("Update.DelaySeconds"));
    FFullSize = size();
}

void TfrmKTUpdateForm::StartUpdate(bool AShowModal,
                                   bool AShowConnecting,
                                   bool ADoUpdate,
                                   bool AProcess,
                                   bool AAutoClose) {
    FStartTime = 0.0;
    FShowModal = AShowModal;
    FShowConnecting = AShowConnecting;
    FDoUpdate = ADoUpdate;
    FProcess = AProcess;
    FAutoClose = AAutoClose;
    FUpdating = true;

    TKTEngine* engine = GlobalEngine();
    const std::string url = engine != nullptr ? engine->GetURL(kUpdatePage, true) : std::string();
    Trace("Update URL : " + url);

    if (AProcess) {
        pnOK->hide();
        pnOkCancel->hide();
        pnLogo->hide();
        pnInfo->hide();
        pnProcess->show();
        setWindowFlag(Qt::FramelessWindowHint, true);
        setFixedSize(width(), pnProcess->height());
    }

    sdDownload->URL = url;
    sdDownload->GetString();
    if (!FUpdating) {
        // Over before it began (no worker could start): waiting would never end.
        return;
    }
    if (AShowModal) {
        exec();
    } else if (AShowConnecting) {
        show();
    }
}

void TfrmKTUpdateForm::StartAutoClose() {
    tmrTimer->start();
}

void TfrmKTUpdateForm::sdDownloadDoneString(TSingleDownloader&, const std::string& strResult) {
    Trace("Update Net : " + strResult);
    TKTSettings& settings = GlobalSettings();
    settings.SetSettingFloat("Update.LastDate", Now());
    if (!FUpdating) {
        return;
    }

    bool show = false;
    const TUpdateAnswer answer = ReadUpdateAnswer(strResult, settings.GetSettingString("App.MagicWord"));
    if (answer.Accepted) {
        ApplyUpdateAnswer(answer, settings);
        if (FDoUpdate) {
            if (answer.Result == kUpdateNewVersion) {
                FInfo = answer.Info;
                FURL = answer.Page;
                show = true;
            } else if (answer.Result == kUpdateLatest && isVisible()) {
                FInfo = LibString("Update.LastVersionAlready");
                FURL.clear();
                show = true;
            }
        }
    }
    FUpdating = false;
    if (!answer.Accepted && isVisible()) {
        FInfo = LibString("Update.NetError");
        FURL.clear();
        show = true;
    }
    if (show) {
        PostShowResult();
    } else {
        CloseForm(mrCancel);
    }
}

void TfrmKTUpdateForm::sdDownloadError(TSingleDownloader&) {
    FUpdating = false;
    Trace("Update Net Error !");
    if (FDoUpdate && isVisible()) {
        FInfo = LibString("Update.NetError");
        FURL.clear();
        PostShowResult();
    } else {
        CloseForm(mrCancel);
    }
}

void TfrmKTUpdateForm::PostShowResult() {
    QCoreApplication::postEvent(this, new QEvent(kShowResultEvent));
}

bool TfrmKTUpdateForm::event(QEvent* e) {
    if (e->type() == kShowResultEvent) {
        ShowResult();
        return true;
    }
    return QDialog::event(e);
}

void TfrmKTUpdateForm::ShowResult() {
    if (FProcess) {
        // The compact view has no room for a message: the result needs the
        // full one. The border stays off: changing it would hide the dialog,
        // which ends a modal run.
        pnProcess->hide();
        pnLogo->setVisible(FHasLogo);
        pnInfo->show();
        setFixedSize(FFullSize);
        FProcess = false;
    }
    lbInfo->setText(Q(FInfo));
    if (!FURL.empty()) {
        pnOkCancel->show();
        btnCancel->show();
        pnOK->hide();
    } else {
        pnOK->show();
        pnOkCancel->hide();
        btnCancel->hide();
    }
    btnOK->setEnabled(true);
    btnOK2->setEnabled(true);
    if (!isVisible()) {
        show();
    }
    if (FAutoClose) {
        StartAutoClose();
    }
}

void TfrmKTUpdateForm::tmrTimerTimer() {
    const TDateTime now = Now();
    if (FStartTime == 0.0) {
        FStartTime = now;
    }
    const std::int64_t left = CountdownLeft(FStartTime, now, FDelaySeconds);
    lblTimer->setText(Q(LibString("lblTimer.Caption")).replace(QStringLiteral("{1}"), QString::number(left)));
    lblTimer->show();
    if (left <= 0) {
        tmrTimer->stop();
        CloseForm(mrCancel);
    }
}

void TfrmKTUpdateForm::StoreAutoCheck() {
    TKTSettings& settings = GlobalSettings();
    if (!settings.GetSettingBool("Update.NoAutoCheck")) {
        settings.SetSettingBool("Update.AutoCheck", cbAutoCheckUpdate->isChecked());
    }
}

void TfrmKTUpdateForm::btnOKClick() {
    StoreAutoCheck();
    if (!FURL.empty()) {
        if (TKTEngine* engine = GlobalEngine()) {
            engine->ShowPageByURL(FURL);
        }
    }
    CloseForm(mrOk);
}

void TfrmKTUpdateForm::btnOK2Click() {
    sdDownload->Abort();
    FUpdating = false;
    StoreAutoCheck();
    CloseForm(mrCancel);
}

void TfrmKTUpdateForm::btnCancelClick() {
    CloseForm(mrCancel);
}

void TfrmKTUpdateForm::FormKeyUp(int key) {
    if (key == Qt::Key_Escape) {
        sdDownload->Abort();
        FUpdating = false;
        CloseForm(mrCancel);
    }
}

void TfrmKTUpdateForm::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape) {
        // The release ends the dialog, after the download is aborted.
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

void TfrmKTUpdateForm::keyReleaseEvent(QKeyEvent* e) {
    FormKeyUp(e->key());
    QDialog::keyReleaseEvent(e);
}

void TfrmKTUpdateForm::CloseForm(int result) {
    tmrTimer->stop();
    // done() also ends a modal run; on a hidden dialog it only records the result.
    done(result);
}

}  // namespace cloakline
