#include "app/uFlashForm.h"

#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QMouseEvent>
#include <algorithm>
#include <utility>

#include "core/framework/GlobalPlatform.h"
#include "core/framework/IniDocument.h"
#include "core/framework/KTSettings.h"
#include "core/proxy/HideRules.h"
#include "core/support/PathUtils.h"
#include "core/support/ShellUtils.h"
#include "ui/KTEngine.h"
#include "ui/KTForm.h"
#include "ui/KTFormRegistry.h"
#include "ui/QtMultiLang.h"
#include "ui/QtPaths.h"

namespace cloakline {

namespace {

TfrmFlashForm* gFlashForm = nullptr;

void ShowPlainMessageBox(const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), QString::fromStdString(text), QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

}  // namespace

TfrmFlashForm* GlobalFlashForm() {
    return gFlashForm;
}

void SetGlobalFlashForm(TfrmFlashForm* form) {
    gFlashForm = form;
}

TfrmFlashForm::TfrmFlashForm(QWidget* AOwner, TFlashFormHooks hooks, TDownloaderContext downloads)
    : QWidget(AOwner), FHooks(std::move(hooks)) {
    setObjectName(QStringLiteral("frmFlashForm"));
    if (!FHooks.ShowMessage) {
        FHooks.ShowMessage = ShowPlainMessageBox;
    }
    if (!FHooks.CreatePlayer) {
        FHooks.CreatePlayer = [](QWidget* owner) { return new TShockwaveFlash(owner); };
    }
    if (AOwner) {
        AOwner->installEventFilter(this);
    }
    CreateFlashPlayer();
    const std::string appPath = GetAppPath(GlobalPlatform());
    TKTSettings& settings = GlobalSettings();
    SetBackground(CombinePath(appPath, settings.GetSettingString("FLS.Background")));
    SetLogo(CombinePath(appPath, settings.GetSettingString("FLS.Logo")));
    ResetPanel();
    resize(AOwner ? AOwner->size() : FFlashPlayer->size());

    if (downloads.System != nullptr && downloads.Dispatcher) {
        sdFlag = std::make_unique<TSingleDownloader>(std::move(downloads));
        sdFlag->AcceptTypes = "*/*";
        sdFlag->BinaryData = true;
        sdFlag->UseCache = false;
        sdFlag->WaitThread = false;
        sdFlag->OnDoneFile = [this](TSingleDownloader&, const std::string&, std::int32_t) {
            sdFlagDone(true);
        };
        sdFlag->OnError = [this](TSingleDownloader&) { sdFlagDone(false); };
    }
    ShowCaptions();
    KTMultiLang1 = CreateFormTranslationClient(*this);
    NotifyFormLoaded(*this);
}

TfrmFlashForm::~TfrmFlashForm() {
    if (gFlashForm == this) {
        gFlashForm = nullptr;
    }
    sdFlag.reset();
    delete FFlashPlayer;
    FFlashPlayer = nullptr;
}

void TfrmFlashForm::SetLocalCaption(const QString& value) {
    FLocalCaption = value;
    ShowCaptions();
}

void TfrmFlashForm::SetTargetCaption(const QString& value) {
    FTargetCaption = value;
    ShowCaptions();
}

void TfrmFlashForm::SetCheckCaption(const QString& value) {
    FCheckCaption = value;
    ShowCaptions();
}

void TfrmFlashForm::ShowCaptions() {
    if (FFlashPlayer != nullptr) {
        FFlashPlayer->SetCaptions(FLocalCaption.toStdString(), FTargetCaption.toStdString(),
                                  FCheckCaption.toStdString());
    }
}

void TfrmFlashForm::FetchFlag(const std::string& address) {
    const std::string file = DownloadedFlagFile(GlobalSettings().UserDataPath(), address);
    if (file.empty()) {
        return;
    }
    if (GlobalPlatform().Files->FileExists(file)) {
        FFlashPlayer->ShowFlagPicture(address, LoadPanelPicture(file));
        return;
    }
    if (!sdFlag || address == FFlagInFlight ||
        std::find(FFlagQueue.begin(), FFlagQueue.end(), address) != FFlagQueue.end()) {
        return;
    }
    FFlagQueue.push_back(address);
    StartNextFlag();
}

void TfrmFlashForm::StartNextFlag() {
    if (sdFlag->Busy() || !FFlagInFlight.empty() || FFlagQueue.empty()) {
        return;
    }
    FFlagInFlight = FFlagQueue.front();
    FFlagQueue.erase(FFlagQueue.begin());
    sdFlag->URL = FFlagInFlight;
    sdFlag->FileName = DownloadedFlagFile(GlobalSettings().UserDataPath(), FFlagInFlight);
    GlobalPlatform().Files->ForceDirectories(ExtractFilePath(sdFlag->FileName));
    sdFlag->GetFile();
}

void TfrmFlashForm::sdFlagDone(bool ok) {
    const std::string address = std::exchange(FFlagInFlight, std::string());
    if (ok) {
        const std::string file = sdFlag->FileName;
        const QImage picture = LoadPanelPicture(file);
        if (picture.isNull()) {
            // Not a picture (an error page): gone, so that a later card asks again.
            QFile::remove(NativePathFromProgramPath(file));
        } else {
            FFlashPlayer->ShowFlagPicture(address, picture);
        }
    }
    StartNextFlag();
}

void TfrmFlashForm::CreateFlashPlayer() {
    FFlashPlayer = FHooks.CreatePlayer(this);
    FFlashMes = FFlashPlayer->WindowProc();
    FFlashPlayer->SetWindowProc([this](QEvent* e) { return FlashWndProc(e); });
    FFlashPlayer->SetOnFSCommand(
        [this](const std::string& command, const std::string& args) { FlashPlayerFSCommand(command, args); });

    FFlashPlayer->SetMovie(GetAppPath(GlobalPlatform()) + "res\\shroud.dat");
    const QString movie = NativePathFromProgramPath(FFlashPlayer->Movie());
    if (!QFileInfo(movie).isFile()) {
        FHooks.ShowMessage(movie.toStdString() + " File Error!");
    }
    FFlashPlayer->SetQuality(1);

    TKTSettings& settings = GlobalSettings();
    // A size the settings do not give would hide the panel: the movie's own size stands in.
    const int width = settings.GetSettingInteger("FLS.Width");
    const int height = settings.GetSettingInteger("FLS.Height");
    const TFlashMovie& look = FFlashPlayer->MovieLook();
    FFlashPlayer->setGeometry(0, 0, width > 0 ? width : look.Width, height > 0 ? height : look.Height);
}

// A right-button press never reaches the player: it gets the release in its
// place, so that a click arrives as two releases.
bool TfrmFlashForm::FlashWndProc(QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress) {
        auto* press = static_cast<QMouseEvent*>(event);
        if (press->button() == Qt::RightButton) {
            QMouseEvent release(QEvent::MouseButtonRelease, press->position(), press->scenePosition(),
                                press->globalPosition(), press->button(), press->buttons(),
                                press->modifiers(), press->pointingDevice());
            release.setTimestamp(press->timestamp());
            const bool handled = FlashWndProc(&release);
            event->setAccepted(release.isAccepted());
            return handled;
        }
    }
    return FFlashMes ? FFlashMes(event) : false;
}

void TfrmFlashForm::Send(const std::string& command) {
    FFlashPlayer->SetVariable(kFlashCommandVariable, command);
}

void TfrmFlashForm::SetBackground(std::string_view aBGFileName) {
    Send(FlashCommandText::SetBackground(aBGFileName));
}

void TfrmFlashForm::SetLogo(std::string_view aLogoFileName) {
    Send(FlashCommandText::SetLogo(aLogoFileName));
}

void TfrmFlashForm::SetIPInfo(std::string_view aPosition,
                              std::string_view aDisplay,
                              std::string_view aFlagURL,
                              std::string_view aIP,
                              std::string_view aCountryName,
                              std::string_view aCity,
                              std::string_view aAlpha,
                              std::string_view aScale) {
    Send(
        FlashCommandText::SetIPInfo(aPosition, aDisplay, aFlagURL, aIP, aCountryName, aCity, aAlpha, aScale));
    if (FFlashPlayer->MovieLoaded()) {
        FetchFlag(std::string(aFlagURL));
    }
}

void TfrmFlashForm::SetIPInfoA(std::string_view aPosition, std::string_view aAlpha, std::string_view aScale) {
    Send(FlashCommandText::SetIPInfoA(aPosition, aAlpha, aScale));
}

void TfrmFlashForm::SetTextInfo(std::string_view aInfoText, std::int32_t aColor) {
    Send(FlashCommandText::SetTextInfo(aInfoText, aColor));
}

void TfrmFlashForm::SetTextInfo2(std::string_view aInfoText, std::int32_t aColor) {
    Send(FlashCommandText::SetTextInfo2(aInfoText, aColor));
}

void TfrmFlashForm::Fade(std::string_view Obj, bool FadeIn, std::int32_t FadeMax) {
    Send(FlashCommandText::Fade(Obj, FadeIn, FadeMax));
}

void TfrmFlashForm::TurnLocal() {
    Send(FlashCommandText::TurnLocal());
}

void TfrmFlashForm::TurnTarget() {
    Send(FlashCommandText::TurnTarget());
}

void TfrmFlashForm::ResetPanel() {
    SetIPInfo("Local", "", "", "", "", "", "0", "100");
    SetIPInfo("Target", "", "", "", "", "", "0", "100");
    constexpr std::int32_t kDarkRed = 4474009;
    // A fixed text, not a language key: the language file is not needed this early.
    const std::string verifying =
        "Verifing from " + GlobalSettings().GetSettingString("APP.Name") + " server ...";
    SetTextInfo(verifying, kDarkRed);
    SetTextInfo2("", 0);
}

void TfrmFlashForm::FlashPlayerFSCommand(const std::string& command, const std::string& args) {
    const AsciiCaseInsensitiveEqual same;
    TKTEngine* engine = GlobalEngine();
    if (!engine || !same(command, "CMD")) {
        return;
    }
    if (same(args, "CHECKIPINFO")) {
        engine->ShowPageByURL(GlobalSettings().GetSettingString("URL.CheckIP"));
    } else if (same(args, "HOMEPAGE")) {
        engine->ShowPage("home");
    }
}

// The form fills whatever area it is placed in.
bool TfrmFlashForm::event(QEvent* event) {
    if (event->type() == QEvent::ParentAboutToChange && parentWidget()) {
        parentWidget()->removeEventFilter(this);
    } else if (event->type() == QEvent::ParentChange && parentWidget()) {
        parentWidget()->installEventFilter(this);
        resize(parentWidget()->size());
    }
    return QWidget::event(event);
}

bool TfrmFlashForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize) {
        resize(parentWidget()->size());
    }
    return QWidget::eventFilter(watched, event);
}

namespace {

// For the language harvest: a panel of its own, beside the main window's.
const TFormRegistration kRegistration("TfrmFlashForm", [](QWidget& mainForm) -> std::unique_ptr<QWidget> {
    if (!HasGlobalPlatform()) {
        return nullptr;
    }
    TFlashFormHooks quiet;
    // The harvest's installation may have no movie file; that needs no box.
    quiet.ShowMessage = [](const std::string&) {};
    return std::make_unique<TfrmFlashForm>(&mainForm, std::move(quiet));
});

}  // namespace

}  // namespace cloakline
