#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include "app/uFlashForm.h"
#include "core/framework/GlobalPlatform.h"
#include "core/framework/KTSettings.h"
#include "core/support/PathUtils.h"
#include "core/support/ShellUtils.h"
#include "tests/core/framework/SettingsTestPlatform.h"
#include "tests/support/RecordingProcesses.h"
#include "ui/KTEngine.h"
#include "ui/QtPaths.h"

namespace cloakline::test {
namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "flash_form_test";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

constexpr const char* kNoAnimation = "[Timing]\r\nAlphaMs=0\r\nFadeMs=0\r\nTurnMs=0\r\n";
constexpr std::int32_t kBlue = 16711680;

// The player itself, noting which mouse events reach its own handling.
class NotingPlayer : public TShockwaveFlash {
  public:
    using TShockwaveFlash::TShockwaveFlash;
    struct Seen {
        QEvent::Type Type;
        Qt::MouseButton Button;
        QPointF Position;
    };
    std::vector<Seen> Mouse;
    bool WndProc(QEvent* event) override {
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease) {
            auto* m = static_cast<QMouseEvent*>(event);
            Mouse.push_back({m->type(), m->button(), m->position()});
        }
        return TShockwaveFlash::WndProc(event);
    }
};

// An installation in a temporary folder with the movie file beside the
// program, the main window's stand-in and its engine.
class FlashFormTest : public ::testing::Test {
  protected:
    FlashFormTest() {
        App();
        auto processes = std::make_unique<RecordingProcesses>();
        Processes = processes.get();
        Env.P.Processes = std::move(processes);
        SetGlobalPlatform(&Env.P);
        Env.WriteConst(
            "[setting]\r\nApp.Name=Cloakline\r\nFLS.Width=474\r\nFLS.Height=180\r\n"
            "FLS.Background=res\\bg.png\r\nFLS.Logo=res\\logo.png\r\n"
            "URL.CheckIP=https://check.example/ip\r\nURL.home=https://srv.example/home\r\n");
    }
    ~FlashFormTest() override {
        Panel.reset();
        delete Owner;
        ReleaseGlobalSettings();
        SetGlobalPlatform(nullptr);
    }

    void WriteMovie(const std::string& text) const { Env.Dir.WriteFile("prog/res/shroud.dat", text); }
    // A real picture in the program folder; returns its program-form path.
    std::string WritePicture(const std::string& relative, QColor colour, QSize size = QSize(48, 32)) const {
        QImage image(size, QImage::Format_ARGB32);
        image.fill(colour);
        Env.Dir.Sub(relative);
        EXPECT_TRUE(image.save(QString::fromStdString(Env.Dir.Sub(relative)), "PNG"));
        return Env.Dir.ProgramPath(relative);
    }

    TfrmFlashForm& Start(std::function<TShockwaveFlash*(QWidget*)> createPlayer = {}) {
        Owner = new QWidget;
        Owner->resize(474, 180);
        Engine = new TKTEngine(Owner);
        TFlashFormHooks hooks;
        hooks.ShowMessage = [this](const std::string& text) { Messages.push_back(text); };
        hooks.CreatePlayer = std::move(createPlayer);
        Panel = std::make_unique<TfrmFlashForm>(Owner, std::move(hooks));
        return *Panel;
    }
    TShockwaveFlash& Player() const { return *Panel->FlashPlayer(); }
    const TFlashCardView& Local() const { return Player().Card(TFlashCard::Local); }
    const TFlashCardView& Target() const { return Player().Card(TFlashCard::Target); }

    // The moments at which the main window and the hide controller drive the panel.
    void SendStop(TfrmFlashForm& f) {
        f.SetIPInfoA("Local", "100", "100");
        f.SetIPInfoA("Target", "100", "100");
        f.Fade("Target", false, 0);
        f.TurnLocal();
        f.SetTextInfo("Ready", kBlue);
    }
    void SendLocalInformation(TfrmFlashForm& f, const std::string& flag) {
        f.SetIPInfo("Local", "True", flag, "81.2.69.160", "United Kingdom", "London, City of", "100", "100");
        f.SetIPInfo("Target", "", flag, "81.2.69.160", "United Kingdom", "London, City of", "100", "100");
        f.SetTextInfo("", 0);
        f.SetTextInfo("Ready", kBlue);
    }
    void SendHide(TfrmFlashForm& f, const std::string& flag) {
        f.SetIPInfo("Target", "True", flag, "203.0.113.9", "Korea, Republic of", "", "0", "100");
        f.Fade("Target", true, 100);
        f.SetIPInfoA("Local", "50", "100");
        f.TurnTarget();
        f.SetTextInfo("You are hiding, behind 203.0.113.9, in Korea", 13421772);
    }

    void Click(QPoint at, Qt::MouseButton button = Qt::LeftButton, QPoint releaseAt = {}) {
        if (releaseAt.isNull()) {
            releaseAt = at;
        }
        QMouseEvent press(QEvent::MouseButtonPress, at, Player().mapToGlobal(at), button, button,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(&Player(), &press);
        QMouseEvent release(QEvent::MouseButtonRelease, releaseAt, Player().mapToGlobal(releaseAt), button,
                            Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&Player(), &release);
    }

    SettingsTestPlatform Env;
    RecordingProcesses* Processes = nullptr;
    QWidget* Owner = nullptr;
    TKTEngine* Engine = nullptr;
    std::unique_ptr<TfrmFlashForm> Panel;
    std::vector<std::string> Messages;
};

TEST_F(FlashFormTest, StartsFromTheResetAndTheStopCommands) {
    WriteMovie(kNoAnimation);
    const std::string logo = WritePicture("prog/res/logo.png", Qt::darkBlue, QSize(120, 24));
    TfrmFlashForm& f = Start();
    EXPECT_TRUE(Messages.empty());
    EXPECT_TRUE(Player().MovieLoaded());
    EXPECT_EQ(Player().Movie(), ExtractFilePath(GetExeName(Env.P)) + "res\\shroud.dat");
    EXPECT_EQ(Player().geometry(), QRect(0, 0, 474, 180));
    EXPECT_EQ(Player().BackgroundFile(), CombinePath(GetAppPath(Env.P), "res\\bg.png"));
    EXPECT_FALSE(Player().BackgroundShown()) << "a missing picture leaves the drawn background";
    EXPECT_EQ(Player().LogoFile(), logo);
    EXPECT_TRUE(Player().LogoShown());

    EXPECT_EQ(Local().Alpha, 0);
    EXPECT_EQ(Target().Alpha, 0);
    EXPECT_EQ(Local().Scale, 100);
    EXPECT_EQ(Player().InfoLine(1).Text, "Verifing from Cloakline server ...");
    EXPECT_EQ(Player().InfoLine(1).Color, 0x444499u);
    EXPECT_EQ(Player().InfoLine(2).Text, "");

    SendStop(f);
    f.SetTextInfo("Verifying", 0);
    EXPECT_EQ(Local().Alpha, 100);
    EXPECT_EQ(Target().Alpha, 0) << "faded out after being raised to 100";
    EXPECT_EQ(Player().Focus(), TFlashCard::Local);
    EXPECT_EQ(Player().InfoLine(1).Text, "Verifying");
    EXPECT_EQ(Player().InfoLine(1).Color, 0u);

    // The main window places the panel in its own area, which it fills.
    QWidget area(Owner);
    area.resize(300, 120);
    Owner->show();
    f.setParent(&area);
    EXPECT_EQ(f.size(), QSize(300, 120));
    area.resize(474, 150);
    EXPECT_EQ(f.size(), QSize(474, 150));
    f.setParent(Owner);

    SetGlobalFlashForm(&f);
    Panel.reset();
    EXPECT_EQ(GlobalFlashForm(), nullptr) << "a freed panel is never reachable";
}

TEST_F(FlashFormTest, LocalInformationHideAndStopLeaveTheirCardsAndTexts) {
    WriteMovie(kNoAnimation);
    const std::string gb = WritePicture("prog/flags/GB.PNG", Qt::red);
    const std::string kr = WritePicture("prog/flags/KR.PNG", Qt::white);
    TfrmFlashForm& f = Start();
    SendStop(f);

    SendLocalInformation(f, gb);
    EXPECT_TRUE(Local().Display);
    EXPECT_EQ(Local().IP, "81.2.69.160");
    EXPECT_EQ(Local().Country, "United Kingdom");
    EXPECT_EQ(Local().City, "London, City of");
    EXPECT_TRUE(Local().FlagShown);
    EXPECT_FALSE(Target().Display);
    EXPECT_EQ(Target().IP, "81.2.69.160");
    EXPECT_EQ(Target().Alpha, 100);
    EXPECT_EQ(Player().InfoLine(1).Text, "Ready");
    EXPECT_EQ(Player().InfoLine(1).Color, 0xFF0000u);

    SendHide(f, kr);
    EXPECT_TRUE(Target().Display);
    EXPECT_EQ(Target().IP, "203.0.113.9");
    EXPECT_EQ(Target().Country, "Korea  Republic of");
    EXPECT_EQ(Target().City, "");
    EXPECT_EQ(Target().Flag, kr);
    EXPECT_EQ(Target().Alpha, 100);
    EXPECT_EQ(Local().Alpha, 50);
    EXPECT_EQ(Player().Focus(), TFlashCard::Target);
    EXPECT_EQ(Player().TurnProgress(), 1);
    EXPECT_EQ(Player().InfoLine(1).Text, "You are hiding, behind 203.0.113.9, in Korea");
    EXPECT_EQ(Player().InfoLine(1).Color, 0xCCCCCCu);

    SendStop(f);
    EXPECT_EQ(Local().Alpha, 100);
    EXPECT_EQ(Target().Alpha, 0);
    EXPECT_EQ(Player().Focus(), TFlashCard::Local);
    EXPECT_EQ(Local().IP, "81.2.69.160") << "the local card keeps its address";

    // A flag known only by its server address waits for a download; this panel has no downloader.
    f.SetIPInfo("Target", "True", "http://srv.example/flags/KR.PNG", "203.0.113.9", "Korea", "", "100",
                "100");
    EXPECT_FALSE(Target().FlagShown);
    f.SetIPInfo("Target", "True", Env.Dir.ProgramPath("prog/flags/XX.PNG"), "1.1.1.1", "X", "", "100", "100");
    EXPECT_FALSE(Target().FlagShown);
}

TEST_F(FlashFormTest, TimedAnimationsStartFromWhatIsShown) {
    WriteMovie("[Timing]\r\nAlphaMs=100000\r\nFadeMs=100000\r\nTurnMs=100000\r\n");
    TfrmFlashForm& f = Start();
    f.SetIPInfo("Target", "True", "", "1.2.3.4", "X", "", "0", "100");
    EXPECT_EQ(Target().Alpha, 0) << "new content appears as given";
    f.Fade("Target", true, 100);
    f.SetIPInfoA("Target", "50", "80");
    f.TurnTarget();
    EXPECT_EQ(Target().Alpha, 0) << "the alpha moves from where it stood";
    EXPECT_EQ(Target().Scale, 100);
    EXPECT_EQ(Player().Focus(), TFlashCard::Target);
    EXPECT_EQ(Player().TurnProgress(), 0);
}

TEST_F(FlashFormTest, WithoutTheMovieFileTheErrorIsShownAndCommandsAreLost) {
    TfrmFlashForm& f = Start();
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0], NativePathFromProgramPath(Player().Movie()).toStdString() + " File Error!");
    EXPECT_FALSE(Player().MovieLoaded());
    SendLocalInformation(f, "");
    EXPECT_EQ(Local().IP, "");
    EXPECT_EQ(Local().Alpha, 0);
    EXPECT_EQ(Player().InfoLine(1).Text, "") << "not even the start text arrived";
    EXPECT_EQ(Player().geometry(), QRect(0, 0, 474, 180)) << "the panel keeps its place";
    Click(Player().rect().center());
    EXPECT_TRUE(Processes->OpenedUrls.empty());
}

TEST_F(FlashFormTest, TheTwoAreasOpenTheCheckAddressAndTheHomePage) {
    WriteMovie(kNoAnimation);
    TfrmFlashForm& f = Start();
    const QRect check = Player().CheckIPArea();
    const QRect home = Player().HomePageArea();
    ASSERT_FALSE(check.isEmpty());
    ASSERT_FALSE(home.isEmpty());
    EXPECT_FALSE(check.intersects(home));

    Click(check.center());
    ASSERT_EQ(Processes->OpenedUrls.size(), 1u);
    EXPECT_EQ(Processes->OpenedUrls[0], "https://check.example/ip");
    Click(home.center());
    ASSERT_EQ(Processes->OpenedUrls.size(), 2u);
    EXPECT_EQ(Processes->OpenedUrls[1].rfind("https://srv.example/home", 0), 0u) << Processes->OpenedUrls[1];
    EXPECT_NE(Processes->OpenedUrls[1].find("ACTION=home"), std::string::npos);

    Click(check.center(), Qt::LeftButton, home.center());
    Click(check.center(), Qt::RightButton);
    Click(QPoint(Player().width() / 2, Player().height() / 2));
    EXPECT_EQ(Processes->OpenedUrls.size(), 2u) << "a press and release must be on the same area";

    f.FlashPlayerFSCommand("cmd", "checkipinfo");
    EXPECT_EQ(Processes->OpenedUrls.size(), 3u);
    EXPECT_EQ(Processes->OpenedUrls.back(), "https://check.example/ip");
    f.FlashPlayerFSCommand("CMD", "QUIT");
    f.FlashPlayerFSCommand("OPEN", "HOMEPAGE");
    EXPECT_EQ(Processes->OpenedUrls.size(), 3u);
}

TEST_F(FlashFormTest, ARightPressReachesThePlayerAsARelease) {
    WriteMovie(kNoAnimation);
    NotingPlayer* noting = nullptr;
    Start([&noting](QWidget* owner) { return noting = new NotingPlayer(owner); });
    ASSERT_NE(noting, nullptr);
    Click(QPoint(30, 40), Qt::RightButton, QPoint(31, 41));
    ASSERT_EQ(noting->Mouse.size(), 2u);
    for (const NotingPlayer::Seen& seen : noting->Mouse) {
        EXPECT_EQ(seen.Type, QEvent::MouseButtonRelease);
        EXPECT_EQ(seen.Button, Qt::RightButton);
    }
    EXPECT_EQ(noting->Mouse[0].Position, QPointF(30, 40)) << "the press's own parameters";
    EXPECT_EQ(noting->Mouse[1].Position, QPointF(31, 41));

    noting->Mouse.clear();
    Click(QPoint(30, 40));
    ASSERT_EQ(noting->Mouse.size(), 2u);
    EXPECT_EQ(noting->Mouse[0].Type, QEvent::MouseButtonPress) << "other buttons pass unchanged";
    EXPECT_EQ(noting->Mouse[0].Button, Qt::LeftButton);
}

TEST_F(FlashFormTest, CardsAreDrawnByTheirAlphaAndTextsAsPlainText) {
    WriteMovie(kNoAnimation);
    const std::string gb = WritePicture("prog/flags/GB.PNG", QColor(200, 16, 46));
    TfrmFlashForm& f = Start();
    auto target = [this] {
        const QImage shot = Player().grab().toImage();
        // The middle of the target card, right half of the panel.
        return shot.copy(QRect(300, 60, 140, 60));
    };
    const QImage hidden = target();
    SendLocalInformation(f, gb);
    const QImage shown = target();
    EXPECT_NE(hidden, shown) << "a card at full alpha is drawn";
    SendHide(f, gb);
    SendStop(f);
    EXPECT_EQ(target(), hidden) << "a faded-out card leaves its place as it was before any Hide";

    EXPECT_EQ(PanelText("<b>a</b>\x01\n\xE2\x80\xAE"
                        "b"),
              QString("<b>a</b>  b"));
    EXPECT_EQ(PanelText(std::string(1000, 'x')).size(), 200);
}

// Pixels of area in the panel as drawn now that have colour, give or take a little.
int PixelsOf(const QImage& shot, const QRect& area, QColor colour) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = shot.pixelColor(x, y);
            n += std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green()) +
                             std::abs(c.blue() - colour.blue()) <=
                         12
                     ? 1
                     : 0;
        }
    }
    return n;
}

TEST_F(FlashFormTest, AfterStopTheFakeCardsPlaceRestsEmptyAndNoArrowPointsAtIt) {
    WriteMovie(kNoAnimation);
    const std::string gb = WritePicture("prog/flags/GB.PNG", QColor(200, 16, 46));
    TfrmFlashForm& f = Start();
    const TFlashMovie look;
    const QColor accent = QColor::fromRgba(look.Accent);
    const QColor border = QColor::fromRgba(look.CardBorder);
    const QRect arrow = Player().ArrowArea();
    const QRect right(arrow.right() + 1, arrow.top(), Player().width() - arrow.right() - 1, arrow.height());
    SendStop(f);
    SendLocalInformation(f, gb);
    SendHide(f, gb);
    QImage shot = Player().grab().toImage();
    EXPECT_GT(PixelsOf(shot, arrow, accent), 30) << "while hiding the arrow points at the fake card";
    const int cardBorder = PixelsOf(shot, right, border);

    SendStop(f);
    shot = Player().grab().toImage();
    EXPECT_EQ(Target().Alpha, 0) << "the commands are followed: the fake card fades out";
    EXPECT_EQ(PixelsOf(shot, arrow, accent), 0) << "no arrow is left pointing at its empty place";
    EXPECT_GT(PixelsOf(shot, right, border), cardBorder + 100) << "its place shows as an empty slot";
}

// Not a check: scripts/panel-screenshot.sh runs it to look at the panel as it
// ships, with the shipped movie file and its timing.
TEST_F(FlashFormTest, DISABLED_Screenshot) {
    const QString shot = qEnvironmentVariable("CLOAKLINE_PANEL_SHOT", "panel.png");
    QFile movie(qEnvironmentVariable("CLOAKLINE_PANEL_MOVIE"));
    ASSERT_TRUE(movie.open(QIODevice::ReadOnly)) << "CLOAKLINE_PANEL_MOVIE names the movie file";
    WriteMovie(movie.readAll().toStdString());
    const std::string gb = WritePicture("prog/flags/GB.PNG", QColor(1, 33, 105));
    const std::string kr = WritePicture("prog/flags/KR.PNG", QColor(245, 245, 245));
    TfrmFlashForm& f = Start();
    ASSERT_TRUE(Player().MovieLoaded());
    SendStop(f);
    SendLocalInformation(f, gb);
    SendHide(f, kr);
    f.SetTextInfo("You are hiding behind 203.0.113.9 (Korea)", 0);
    f.SetTextInfo2("The address changes every 10 minutes", 4474009);
    QEventLoop loop;
    QTimer::singleShot(1500, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_TRUE(Player().grab().save(shot, "PNG"));
    Player().resize(474, 150);
    EXPECT_TRUE(Player().grab().save(QString(shot).replace(".png", "-150.png"), "PNG"));
}

}  // namespace
}  // namespace cloakline::test
