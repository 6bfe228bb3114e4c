#include "app/uIPsTesting.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTimer>

#include "core/framework/GlobalPlatform.h"
#include "platform/api/Clock.h"
#include "ui/KTForm.h"
#include "ui/KTFormRegistry.h"
#include "ui/QtMultiLang.h"

namespace cloakline {

TfrmTesting::TfrmTesting(IClock& clock, bool localInfoGot, QWidget* owner)
    : QDialog(owner), FClock(clock), FLocalInfoGot(localInfoGot) {
    setObjectName(QStringLiteral("frmTesting"));
    setWindowTitle(QStringLiteral("Verifing from server ..."));
    // A tool window; its close button is the user's way out of the wait.
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    setFixedSize(423, 210);

    lblInfo = new QLabel(
        QStringLiteral("Please wait a few minute to verify fake IP information from server... "), this);
    lblInfo->setObjectName(QStringLiteral("lblInfo"));
    lblInfo->setGeometry(16, 16, 377, 41);
    lblInfo->setWordWrap(true);
    ggTesting = new QProgressBar(this);
    ggTesting->setObjectName(QStringLiteral("ggTesting"));
    ggTesting->setGeometry(8, 76, 397, 20);
    ggTesting->setTextVisible(false);
    mmoLog = new QPlainTextEdit(this);
    mmoLog->setObjectName(QStringLiteral("mmoLog"));
    mmoLog->setGeometry(8, 104, 397, 81);
    mmoLog->setReadOnly(true);
    mmoLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmoLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmoLog->setLineWrapMode(QPlainTextEdit::NoWrap);

    tmrWait = new QTimer(this);
    tmrWait->setObjectName(QStringLiteral("tmrWait"));
    tmrWait->setInterval(kCheckIntervalMs);
    connect(tmrWait, &QTimer::timeout, this, &TfrmTesting::CheckWait);

    KTMultiLang1 = CreateFormTranslationClient(*this);
    FormCreate();
    NotifyFormLoaded(*this);
}

void TfrmTesting::FormCreate() {
    // A range of nothing makes the gauge run its busy animation.
    ggTesting->setRange(0, 0);
}

void TfrmTesting::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!FWaiting) {
        FWaiting = true;
        FShownAt = FClock.TickCount();
        tmrWait->start();
    }
    if (FLocalInfoGot) {
        // Closing from inside the show would leave exec() without its loop.
        QMetaObject::invokeMethod(this, &QDialog::accept, Qt::QueuedConnection);
    }
}

void TfrmTesting::hideEvent(QHideEvent* event) {
    tmrWait->stop();
    FWaiting = false;
    QDialog::hideEvent(event);
}

void TfrmTesting::LocalInfoArrived() {
    FLocalInfoGot = true;
    if (isVisible()) {
        accept();
    }
}

void TfrmTesting::CheckWait() {
    // Unsigned difference: right across the tick counter's wrap.
    if (static_cast<std::uint32_t>(FClock.TickCount() - FShownAt) >= kMaxWaitMs) {
        tmrWait->stop();
        reject();
    }
}

namespace {

const TFormRegistration kRegistration("TfrmTesting", [](QWidget& mainForm) -> std::unique_ptr<QWidget> {
    if (!HasGlobalPlatform()) {
        return nullptr;
    }
    return std::make_unique<TfrmTesting>(*GlobalPlatform().Clock, false, &mainForm);
});

}  // namespace

}  // namespace cloakline
