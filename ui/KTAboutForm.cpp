#include "ui/KTAboutForm.h"

#include <QFont>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <algorithm>

#include "core/framework/GlobalPlatform.h"
#include "core/framework/KTSettings.h"
#include "core/support/ShellUtils.h"
#include "core/support/TextUtils.h"
#include "ui/FitToText.h"
#include "ui/KTEngine.h"
#include "ui/KTForm.h"
#include "ui/QtMultiLang.h"
#include "ui/QtPaths.h"

namespace cloakline {

namespace {

constexpr int kClientWidth = 373;
constexpr int kClientHeight = 293;
constexpr int kLogoHeight = 65;
constexpr int kBottomHeight = 44;

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

TKTLinkLabel::TKTLinkLabel(QWidget* parent) : QLabel(parent) {
    setCursor(Qt::PointingHandCursor);
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
    // Blue like a link; a skin may colour it through the class name.
    setStyleSheet(QStringLiteral("cloakline--TKTLinkLabel:enabled { color: #0645ad; }"));
}

void TKTLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint()) ||
        FURL.isEmpty()) {
        return;
    }
    if (HasGlobalPlatform() && GlobalPlatform().Processes) {
        GlobalPlatform().Processes->OpenURL(FURL.toStdString());
    }
}

TfrmKTAboutForm::TfrmKTAboutForm(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("frmKTAboutForm"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    resize(kClientWidth, kClientHeight);

    pnLogo = new QWidget(this);
    pnLogo->setObjectName(QStringLiteral("pnLogo"));
    pnLogo->setGeometry(0, 0, kClientWidth, kLogoHeight);
    imgLogo = new QLabel(pnLogo);
    imgLogo->setObjectName(QStringLiteral("imgLogo"));
    imgLogo->setCursor(Qt::PointingHandCursor);
    imgLogo->setGeometry(0, 0, kClientWidth, kLogoHeight);

    pnMiddle = new QWidget(this);
    pnMiddle->setObjectName(QStringLiteral("pnMiddle"));
    pnMiddle->setGeometry(0, kLogoHeight, kClientWidth, kClientHeight - kLogoHeight - kBottomHeight);
    lbInfo = new QLabel(pnMiddle);
    lbInfo->setObjectName(QStringLiteral("lbInfo"));
    lbInfo->setGeometry(16, 8, 337, 73);
    lbInfo->setWordWrap(true);
    lbInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Version and owner lines come from settings and language files: never markup.
    lbInfo->setTextFormat(Qt::PlainText);
    btnEULA = new TKTLinkLabel(pnMiddle);
    btnEULA->setObjectName(QStringLiteral("btnEULA"));
    btnEULA->setGeometry(17, 127, 337, 17);
    btnEULA->setText(QStringLiteral("End User License Agreement"));
    btnPrivaryPolicy = new TKTLinkLabel(pnMiddle);
    btnPrivaryPolicy->setObjectName(QStringLiteral("btnPrivaryPolicy"));
    btnPrivaryPolicy->setGeometry(17, 150, 337, 17);
    btnPrivaryPolicy->setText(QStringLiteral("Privacy Policy"));

    pnBottom = new QWidget(this);
    pnBottom->setObjectName(QStringLiteral("pnBottom"));
    pnBottom->setGeometry(0, kClientHeight - kBottomHeight, kClientWidth, kBottomHeight);
    lblSupport = new TKTLinkLabel(pnBottom);
    lblSupport->setObjectName(QStringLiteral("lblSupport"));
    lblSupport->setGeometry(16, 22, 200, 17);
    lblSupport->setText(QStringLiteral("Support"));
    btnOK = new QPushButton(QStringLiteral("&OK"), pnBottom);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setGeometry(274, 8, 80, 25);
    btnOK->setDefault(true);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);

    KTForm1 = new TKTForm(*this);
    KTForm1->setObjectName(QStringLiteral("KTForm1"));
    KTForm1->SetRuntimeSetSkinData(true);
    KTForm1->SetRuntimeSetLanguageData(true);
    KTMultiLang1 = new QtKTMultiLang(*this);
    KTMultiLang1->setObjectName(QStringLiteral("KTMultiLang1"));
    // The texts of the set-up come from the framework's strings; a form
    // section of a language file translates the rest of the box but never
    // replaces them, neither now nor at a later change of language.
    connect(KTMultiLang1, &QtKTMultiLang::OnChangeLanguage, this, [this] { ShowSetUpTexts(); });

    // Set up once its components are loaded, as the form's creation event runs.
    NotifyFormLoaded(*this);
    FormCreate();
    setFixedSize(size());
}

void TfrmKTAboutForm::ShowSetUpTexts() {
    if (!FSetUp) {
        return;
    }
    setWindowTitle(FCaption);
    btnOK->setText(FOKCaption);
    lbInfo->setText(FInfo);
    lblSupport->setText(FSupportCaption);
    // A longer caption widens the button to the left and the link to the right.
    const int okRight = width() - kClientWidth + 274 + 80;
    const int okWidth = FittedWidth(*btnOK, 80);
    btnOK->setGeometry(okRight - okWidth, btnOK->y(), okWidth, btnOK->height());
    lblSupport->resize(std::min(FittedWidth(*lblSupport, 200), btnOK->x() - 8 - lblSupport->x()),
                       lblSupport->height());
}

void TfrmKTAboutForm::LoadLogo(const std::string& fileName) {
    QPixmap logo;
    if (HasGlobalPlatform() && GlobalPlatform().Files && GlobalPlatform().Files->FileExists(fileName) &&
        logo.load(NativePathFromProgramPath(fileName))) {
        imgLogo->setPixmap(logo);
        imgLogo->setGeometry(0, 0, logo.width(), logo.height());
        const int grow = logo.height() - pnLogo->height();
        resize(logo.width(), height() + grow);
        pnLogo->setGeometry(0, 0, logo.width(), logo.height());
        pnMiddle->move(0, pnMiddle->y() + grow);
        pnBottom->move(0, pnBottom->y() + grow);
    }
    if (logo.isNull() || logo.height() == 0) {
        const int shrink = pnLogo->height();
        resize(width(), height() - shrink);
        pnLogo->hide();
        pnMiddle->move(0, pnMiddle->y() - shrink);
        pnBottom->move(0, pnBottom->y() - shrink);
    }
    // The panels keep to the box's width, whatever the logo made of it.
    pnMiddle->resize(width(), pnMiddle->height());
    pnBottom->resize(width(), pnBottom->height());
    btnOK->move(width() - kClientWidth + 274, btnOK->y());
}

void TfrmKTAboutForm::FormCreate() {
    const bool withSystem = HasGlobalPlatform();
    LoadLogo(withSystem ? GetAppPath(GlobalPlatform()) + "res\\images\\about.png" : std::string());

    TKTEngine* engine = GlobalEngine();
    auto lib = [engine](std::string_view key) { return engine != nullptr ? engine->GetLibString(key) : ""; };
    // A caption missing from the language keeps the form's own rather than
    // leaving a blank title or button.
    auto caption = [&lib](std::string_view key, const QString& fallback) {
        const std::string text = lib(key);
        return text.empty() ? fallback : Q(text);
    };
    FCaption = caption("TfrmKTAboutForm.Caption", QStringLiteral("About"));
    FOKCaption = caption("btnOk.Caption", btnOK->text());

    TKTSettings* settings = withSystem ? &GlobalSettings() : nullptr;
    auto setting = [settings](std::string_view key) {
        return settings != nullptr ? settings->GetSettingString(key) : std::string();
    };
    std::string info = lib("TfrmKTAboutForm.CopyRightLine1");
    info += "\r\n" + FillPlaceholders(lib("TfrmKTAboutForm.CopyRightLine2"), {setting("App.Ver")});
    info += "\r\n" + setting("App.Copyright");
    if (engine != nullptr && !engine->Language().empty() && engine->Language() != "English") {
        info += "\r\n" + FillPlaceholders(lib("TfrmKTAboutForm.CopyRightLine3"),
                                          {engine->Language(), engine->LanguageTranslator()});
    }
    FInfo = Q(info);
    FSupportCaption = caption("lblSupport.Caption", lblSupport->text());
    FSetUp = true;
    ShowSetUpTexts();
    if (engine != nullptr) {
        lblSupport->SetURL(Q(engine->GetURL("support", true)));
    }
    if (settings != nullptr && settings->GetSettingBool("about.showlink")) {
        if (engine != nullptr) {
            btnEULA->SetURL(Q(engine->GetURL("eula", true)));
            btnPrivaryPolicy->SetURL(Q(engine->GetURL("privary", true)));
        }
    } else {
        btnEULA->hide();
        btnPrivaryPolicy->hide();
    }
}

void TfrmKTAboutForm::keyPressEvent(QKeyEvent* event) {
    // Escape closes the box when it is let go, with the result OK; the
    // dialog's own Escape would cancel on the press.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmKTAboutForm::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && !event->isAutoRepeat()) {
        accept();
        return;
    }
    QDialog::keyReleaseEvent(event);
}

QDialog* CreateKTAboutForm(QWidget* owner) {
    return new TfrmKTAboutForm(owner);
}

}  // namespace cloakline
