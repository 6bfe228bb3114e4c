#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "app/ShockwaveFlash.h"

namespace cloakline {

// What the panel does outside itself, replaceable for the program's checks.
struct TFlashFormHooks {
    // The plain message box of a missing movie file.
    std::function<void(const std::string& text)> ShowMessage;
    // Creates the player with the form as owner and parent.
    std::function<TShockwaveFlash*(QWidget* owner)> CreatePlayer;
};

// The status panel of the main window: a borderless child form that hosts
// the player and drives it with command texts. The settings store and the
// platform must exist; the engine is used for the two clickable areas when
// there is one.
class TfrmFlashForm : public QWidget {
    Q_OBJECT

  public:
    explicit TfrmFlashForm(QWidget* AOwner, TFlashFormHooks hooks = {});
    ~TfrmFlashForm() override;

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
    void CreateFlashPlayer();
    void SetBackground(std::string_view aBGFileName);
    void SetLogo(std::string_view aLogoFileName);
    void ResetPanel();
    void Send(const std::string& command);
    bool FlashWndProc(QEvent* event);

    TFlashFormHooks FHooks;
    TShockwaveFlash* FFlashPlayer = nullptr;
    TShockwaveFlash::TWndMethod FFlashMes;
};

// The one status panel of the process, or nullptr. The main window sets and
// clears it; a panel that is freed while named here clears it too.
TfrmFlashForm* GlobalFlashForm();
void SetGlobalFlashForm(TfrmFlashForm* form);

}  // namespace cloakline
