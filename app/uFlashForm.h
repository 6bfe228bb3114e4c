#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/ShockwaveFlash.h"
#include "net/SingleDownloader.h"

namespace cloakline {

// What the panel does outside itself, replaceable for the program's checks.
struct TFlashFormHooks {
    // The plain message box of a missing movie file.
    std::function<void(const std::string& text)> ShowMessage;
    // Creates the player with the form as owner and parent.
    std::function<TShockwaveFlash*(QWidget* owner)> CreatePlayer;
};

class QtKTMultiLang;

// The status panel of the main window: a borderless child form that hosts
// the player and drives it with command texts. The settings store and the
// platform must exist; the engine is used for the two clickable areas when
// there is one. Its own translation client gives the player the cards'
// captions and the check link's text. A flag that a card is given as a
// server address is fetched with downloads into the user data folder, where
// downloaded flags are kept, and shown once it is there; without a working
// downloader context such a card shows no flag.
class TfrmFlashForm : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString LocalCaption READ LocalCaption WRITE SetLocalCaption)
    Q_PROPERTY(QString TargetCaption READ TargetCaption WRITE SetTargetCaption)
    Q_PROPERTY(QString CheckCaption READ CheckCaption WRITE SetCheckCaption)

  public:
    explicit TfrmFlashForm(QWidget* AOwner, TFlashFormHooks hooks = {}, TDownloaderContext downloads = {});
    ~TfrmFlashForm() override;

    QString LocalCaption() const { return FLocalCaption; }
    void SetLocalCaption(const QString& value);
    QString TargetCaption() const { return FTargetCaption; }
    void SetTargetCaption(const QString& value);
    QString CheckCaption() const { return FCheckCaption; }
    void SetCheckCaption(const QString& value);

    // Each sends exactly one command, at once.
    void SetIPInfo(std::string_view aPosition,
                   std::string_view aDisplay,
                   std::string_view aFlagURL,
                   std::string_view aIP,
                   std::string_view aCountryName,
                   std::string_view aCity,
                   std::string_view aAlpha,
                   std::string_view aScale);
    void SetIPInfoA(std::string_view aPosition, std::string_view aAlpha, std::string_view aScale);
    void SetTextInfo(std::string_view aInfoText, std::int32_t aColor);
    void SetTextInfo2(std::string_view aInfoText, std::int32_t aColor);
    void Fade(std::string_view Obj, bool FadeIn, std::int32_t FadeMax);
    void TurnLocal();
    void TurnTarget();

    // The player's FSCommand event: the two requests of the clickable areas.
    void FlashPlayerFSCommand(const std::string& command, const std::string& args);

    TShockwaveFlash* FlashPlayer() const { return FFlashPlayer; }

  protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void ShowCaptions();
    // Shows the flag that address names from the user data folder, fetching it first when needed.
    void FetchFlag(const std::string& address);
    void StartNextFlag();
    void sdFlagDone(bool ok);
    void CreateFlashPlayer();
    void SetBackground(std::string_view aBGFileName);
    void SetLogo(std::string_view aLogoFileName);
    void ResetPanel();
    void Send(const std::string& command);
    bool FlashWndProc(QEvent* event);

    TFlashFormHooks FHooks;
    TShockwaveFlash* FFlashPlayer = nullptr;
    TShockwaveFlash::TWndMethod FFlashMes;
    QString FLocalCaption = QStringLiteral("Real location");
    QString FTargetCaption = QStringLiteral("Fake location");
    QString FCheckCaption = QStringLiteral("Check IP details");
    QtKTMultiLang* KTMultiLang1 = nullptr;
    // The flag downloads: one at a time, the others waiting in order.
    std::unique_ptr<TSingleDownloader> sdFlag;
    std::string FFlagInFlight;
    std::vector<std::string> FFlagQueue;
};

// The one status panel of the process, or nullptr. The main window sets and
// clears it; a panel that is freed while named here clears it too.
TfrmFlashForm* GlobalFlashForm();
void SetGlobalFlashForm(TfrmFlashForm* form);

}  // namespace cloakline
