#pragma once

#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/proxy/FlashCommands.h"
#include "core/proxy/FlashMovie.h"

class QVariantAnimation;

namespace cloakline {

// What one card shows; alpha and scale in percent as currently drawn.
struct TFlashCardView {
    bool Display = false;
    std::string Flag;
    std::string IP;
    std::string Country;
    std::string City;
    double Alpha = 0;
    double Scale = 100;
    // The flag reference named a picture that could be loaded.
    bool FlagShown = false;
};

struct TFlashInfoLine {
    std::string Text;
    // 0x00BBGGRR.
    std::uint32_t Color = 0;
};

// The status panel's player: a native widget that plays the role of the
// movie. It reads the movie file for its look, takes the command texts
// through SetVariable and reports its two clickable areas as FSCommands.
// Without a movie file it draws nothing and ignores every command.
class TShockwaveFlash : public QWidget {
    Q_OBJECT

  public:
    using TFSCommandEvent = std::function<void(const std::string& command, const std::string& args)>;
    // The player's message handler; true when the event was handled.
    using TWndMethod = std::function<bool(QEvent* event)>;

    explicit TShockwaveFlash(QWidget* AOwner);
    ~TShockwaveFlash() override;

    // Program-form path of the movie file; the file is read at once.
    void SetMovie(std::string_view path);
    const std::string& Movie() const { return FMovie; }
    bool MovieLoaded() const { return FLoaded; }
    const TFlashMovie& MovieLook() const { return FLook; }
    // 0 draws without smoothing; anything else smooths edges and pictures.
    void SetQuality(int value);
    int Quality() const { return FQuality; }

    // Virtual so that the program's checks can see every command as sent.
    virtual void SetVariable(std::string_view name, std::string_view value);
    void SetOnFSCommand(TFSCommandEvent handler) { FOnFSCommand = std::move(handler); }

    TWndMethod WindowProc() const { return FWindowProc; }
    void SetWindowProc(TWndMethod handler);
    // The player's own handling of an event.
    virtual bool WndProc(QEvent* event);

    // What is on display, for the program's own checks.
    const TFlashCardView& Card(TFlashCard card) const { return FCards[Index(card)].View; }
    const TFlashInfoLine& InfoLine(int line) const { return FInfo[line == 2 ? 1 : 0]; }
    TFlashCard Focus() const { return FFocus; }
    // 1 once a turn has finished.
    double TurnProgress() const { return FTurn; }
    const std::string& BackgroundFile() const { return FBackgroundFile; }
    bool BackgroundShown() const { return !FBackground.isNull(); }
    const std::string& LogoFile() const { return FLogoFile; }
    bool LogoShown() const { return !FLogo.isNull(); }

    // The clickable areas in widget coordinates.
    QRect CheckIPArea() const;
    QRect HomePageArea() const;
    // Where the arrow between the cards is drawn.
    QRect ArrowArea() const;

    // The cards' captions and the check link's text; an empty one keeps the movie's.
    void SetCaptions(std::string local, std::string target, std::string check);
    QString Caption(TFlashCard card) const;
    QString CheckCaption() const;
    // The fixed texts that do not fit their places as the panel is now sized.
    QStringList CutTexts() const;

    // Shows picture on every card whose flag reference is reference (a
    // server address the program has fetched in the meantime).
    void ShowFlagPicture(std::string_view reference, const QImage& picture);

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    struct TCardState {
        TFlashCardView View;
        QImage FlagImage;
        QVariantAnimation* AlphaAnimation = nullptr;
        QVariantAnimation* ScaleAnimation = nullptr;
    };
    struct Layout {
        QRect Header;
        QRect Logo;
        QRect Check;
        std::array<QRect, 2> Cards;
        QRect Arrow;
        QRect Status;
        std::array<QRect, 2> Lines;
    };

    static std::size_t Index(TFlashCard card) { return card == TFlashCard::Local ? 0 : 1; }
    void Apply(const TFlashCommand& cmd);
    // Runs value towards target over ms milliseconds (at once for 0).
    void Animate(QVariantAnimation*& animation, double& value, double target, int ms);
    Layout ComputeLayout() const;
    void PaintCard(class QPainter& p, const Layout& layout, TFlashCard which);
    // The place of the fake card while that card is faded out.
    void PaintEmptySlot(class QPainter& p, const QRect& area, double opacity);
    void PaintArrow(class QPainter& p, const QRect& area);
    QFont CardCaptionFont() const;
    // Where a card of box's size writes its caption, relative to the card's centre.
    static QRectF CardCaptionRect(const QRectF& box);
    void PaintLogo(class QPainter& p, const QRect& area);
    QFont LookFont(double pixelSize, bool bold) const;
    // The area under the point: 1 check, 2 home page, 0 none.
    int AreaAt(const QPoint& point) const;

    std::string FMovie;
    bool FLoaded = false;
    std::string FLocalCaption;
    std::string FTargetCaption;
    std::string FCheckCaption;
    TFlashMovie FLook;
    int FQuality = 1;
    TFSCommandEvent FOnFSCommand;
    TWndMethod FWindowProc;
    std::array<TCardState, 2> FCards;
    std::array<TFlashInfoLine, 2> FInfo;
    TFlashCard FFocus = TFlashCard::Local;
    TFlashCard FTurnFrom = TFlashCard::Local;
    double FTurn = 1;
    QVariantAnimation* FTurnAnimation = nullptr;
    std::string FBackgroundFile;
    QImage FBackground;
    std::string FLogoFile;
    QImage FLogo;
    int FPressedArea = 0;
};

// A text from outside as the panel may draw it: one line, no control or
// direction-override characters, bounded in length.
QString PanelText(std::string_view text);
// A picture named by a program-form path; null for addresses, missing or
// unreadable files.
QImage LoadPanelPicture(std::string_view path);

}  // namespace cloakline
