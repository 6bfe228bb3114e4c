#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>

#include "core/framework/GlobalPlatform.h"
#include "core/framework/KTSettings.h"
#include "core/support/TextEncoding.h"
#include "tests/core/framework/SettingsTestPlatform.h"
#include "tests/support/RecordingProcesses.h"
#include "ui/KTAboutForm.h"
#include "ui/KTEngine.h"
#include "ui/KTSplashForm.h"
#include "ui/PngForm.h"
#include "ui/QtMultiLang.h"

namespace cloakline::test {
namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "framework_dialogs_test";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

void Click(QWidget& widget) {
    const QPointF at(2, 2);
    QMouseEvent press(QEvent::MouseButtonPress, at, widget.mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, widget.mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(&widget, &press);
    QApplication::sendEvent(&widget, &release);
}

QImage SavedPicture(int width, int height, QColor colour) {
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

class FrameworkDialogsTest : public ::testing::Test {
  protected:
    FrameworkDialogsTest() {
        App();
        auto processes = std::make_unique<RecordingProcesses>();
        Processes = processes.get();
        Env.P.Processes = std::move(processes);
        SetGlobalPlatform(&Env.P);
    }
    ~FrameworkDialogsTest() override {
        delete Main;
        ReleaseGlobalSettings();
        SetGlobalPlatform(nullptr);
    }

    TKTEngine& Start(const std::string& constants, const std::string& language) {
        Env.WriteConst(
            "[setting]\r\nApp.Name=Cloakline\r\nApp.Ver=2.5\r\nApp.Copyright=(c) Owner\r\n"
            "URL.support=http://example.test/support\r\nURL.eula=http://example.test/eula\r\n"
            "URL.privary=http://example.test/privacy\r\n" +
            constants);
        Env.Dir.WriteFile(
            "prog/lang/English.lan",
            "[LibRes]\r\nTfrmKTAboutForm.Caption=About Cloakline\r\nbtnOk.Caption=&Close\r\n"
            "TfrmKTAboutForm.CopyRightLine1=Cloakline\r\n"
            "TfrmKTAboutForm.CopyRightLine2=Version {1}\r\n"
            "TfrmKTAboutForm.CopyRightLine3=Translated to {1} by [{2}]\r\nlblSupport.Caption=Help\r\n"
            "[TfrmKTAboutForm]\r\nfrmKTAboutForm.Caption=Info\r\nlbInfo.Caption=Only this\r\n"
            "btnEULA.Caption=Licence terms\r\n");
        Env.Dir.WriteFile("prog/lang/German.lan",
                          "[LibRes]\r\nTfrmKTAboutForm.CopyRightLine3={1} von {2}\r\n"
                          "[TfrmKTAboutForm]\r\nfrmKTAboutForm.Caption=Info\r\nlbInfo.Caption=Nur dies\r\n");
        Main = new QWidget;
        auto* data = new QtKTMultiLangData(*Env.P.Files, CompareTextAscii, Main);
        Engine = new TKTEngine(Main);
        Engine->SetLanguageData(data);
        Engine->Loaded();
        if (!language.empty()) {
            Engine->SetLanguage(language);
        }
        return *Engine;
    }

    SettingsTestPlatform Env;
    RecordingProcesses* Processes = nullptr;
    QWidget* Main = nullptr;
    TKTEngine* Engine = nullptr;
};

TEST_F(FrameworkDialogsTest, AboutBoxTextsAndLinks) {
    Start("about.showlink=1\r\n", "English");
    TfrmKTAboutForm about(Main);
    EXPECT_EQ(about.windowTitle(), "About Cloakline");
    EXPECT_EQ(about.findChild<QPushButton*>("btnOK")->text(), "&Close");
    EXPECT_EQ(about.findChild<QLabel*>("lbInfo")->text(), "Cloakline\r\nVersion 2.5\r\n(c) Owner")
        << "English adds no translator line";
    EXPECT_TRUE(about.findChild<QWidget*>("pnLogo")->isHidden()) << "no about.png";

    for (const char* name : {"lblSupport", "btnEULA", "btnPrivaryPolicy"}) {
        auto* link = about.findChild<TKTLinkLabel*>(name);
        ASSERT_NE(link, nullptr);
        EXPECT_FALSE(link->isHidden()) << name;
        Click(*link);
    }
    ASSERT_EQ(Processes->OpenedUrls.size(), 3u);
    EXPECT_EQ(Processes->OpenedUrls[0].rfind(Engine->GetURL("support", true), 0), 0u);
    EXPECT_EQ(Processes->OpenedUrls[1], Engine->GetURL("eula", true));
    EXPECT_EQ(Processes->OpenedUrls[2], Engine->GetURL("privary", true));
    EXPECT_EQ(about.findChild<QLabel*>("lblSupport")->text(), "Help");
}

TEST_F(FrameworkDialogsTest, AboutBoxTranslatorLineLogoAndHiddenLinks) {
    const QImage logo = SavedPicture(400, 90, Qt::darkCyan);
    ASSERT_TRUE(logo.save(QString::fromStdString(Env.Dir.Sub("prog/res/images/about.png"))));
    Start("", "German");
    TfrmKTAboutForm about(Main);
    EXPECT_TRUE(about.findChild<QLabel*>("lbInfo")->text().endsWith("\r\nGerman von "));
    EXPECT_TRUE(about.findChild<QWidget*>("btnEULA")->isHidden());
    EXPECT_TRUE(about.findChild<QWidget*>("btnPrivaryPolicy")->isHidden());
    EXPECT_FALSE(about.findChild<QWidget*>("lblSupport")->isHidden());
    EXPECT_EQ(about.width(), 400);
    EXPECT_EQ(about.height(), 293 + 90 - 65);

    about.show();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&about, &press);
    EXPECT_TRUE(about.isVisible()) << "closes on release, not on press";
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&about, &release);
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), QDialog::Accepted);
}

TEST_F(FrameworkDialogsTest, AboutBoxCaptionAndVersionLinesAreNotOverriddenByAFormSection) {
    Start("about.showlink=1\r\n", "English");
    TfrmKTAboutForm about(Main);
    auto* eula = about.findChild<QLabel*>("btnEULA");
    EXPECT_EQ(eula->text(), "Licence terms") << "the form section translates the rest of the box";
    for (const char* language : {"German", "English"}) {
        Engine->SetLanguage(language);
        SCOPED_TRACE(language);
        EXPECT_EQ(about.windowTitle(), "About Cloakline") << "the framework's string of the set-up only";
        EXPECT_EQ(about.findChild<QLabel*>("lbInfo")->text(), "Cloakline\r\nVersion 2.5\r\n(c) Owner");
        EXPECT_EQ(about.findChild<QLabel*>("lblSupport")->text(), "Help");
    }
    EXPECT_EQ(eula->text(), "Licence terms");
}

TEST(SplashPosition, CentresWithHalvesTruncatedTowardZero) {
    EXPECT_EQ(SplashPosition(QSize(1920, 1080), QSize(300, 200)), QPoint(810, 440));
    EXPECT_EQ(SplashPosition(QSize(801, 601), QSize(300, 200)), QPoint(250, 200));
    EXPECT_EQ(SplashPosition(QSize(800, 600), QSize(1001, 703)), QPoint(-100, -51));
}

TEST_F(FrameworkDialogsTest, SplashPrefersThePartnerPictureAndClosesOnDeactivation) {
    Env.WriteConst("[setting]\r\n");
    ASSERT_TRUE(SavedPicture(300, 200, QColor(0, 0, 255, 128))
                    .save(QString::fromStdString(Env.Dir.Sub("prog/oem.splash.png"))));
    ASSERT_TRUE(SavedPicture(450, 250, Qt::red)
                    .save(QString::fromStdString(Env.Dir.Sub("prog/res/images/splash.png"))));
    QPointer<TfrmKTSplashForm> splash = new TfrmKTSplashForm;
    EXPECT_EQ(splash->PngForm().PngImage().size(), QSize(300, 200));
    EXPECT_EQ(splash->size(), QSize(300, 200));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(splash->pos(), screen.topLeft() + SplashPosition(screen.size(), QSize(300, 200)));
    EXPECT_TRUE(splash->windowFlags().testFlag(Qt::FramelessWindowHint));

    splash->show();
    const QImage drawn = splash->grab().toImage();
    EXPECT_EQ(qAlpha(drawn.pixel(10, 10)), 128) << "the picture's own alpha reaches the window";
    QApplication::processEvents();
    EXPECT_FALSE(splash.isNull()) << "stays while nothing else is active";

    QWidget other;
    other.show();
    other.activateWindow();
    QApplication::setActiveWindow(&other);
    for (int i = 0; i < 20 && splash; ++i) {
        QApplication::processEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    EXPECT_TRUE(splash.isNull()) << "another window became active";
}

TEST_F(FrameworkDialogsTest, SplashWithoutPictureClosesItselfAndPngFormNeedsAForm) {
    Env.WriteConst("[setting]\r\n");
    QPointer<TfrmKTSplashForm> splash = new TfrmKTSplashForm;
    for (int i = 0; i < 5 && splash; ++i) {
        QApplication::processEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    EXPECT_TRUE(splash.isNull());

    QWidget window;
    QWidget child(&window);
    EXPECT_THROW(TspPngForm{&child}, EInvalidCast);
    QObject plain;
    EXPECT_THROW(TspPngForm{&plain}, EInvalidCast);
}

TEST(ShippedPictures, SplashHasRealTransparencyAndAboutFitsTheBox) {
    const QImage splash(QStringLiteral(CLOAKLINE_ARTWORK_DIR "/splash.png"));
    ASSERT_FALSE(splash.isNull());
    EXPECT_EQ(splash.size(), QSize(450, 250));
    EXPECT_TRUE(splash.hasAlphaChannel());
    EXPECT_EQ(qAlpha(splash.pixel(0, 0)), 0) << "corners show the desktop";
    EXPECT_EQ(qAlpha(splash.pixel(225, 125)), 255) << "the card itself is opaque";
    const QImage about(QStringLiteral(CLOAKLINE_ARTWORK_DIR "/about.png"));
    ASSERT_FALSE(about.isNull());
    EXPECT_EQ(about.width(), 373) << "the box keeps its designed width";
}

}  // namespace
}  // namespace cloakline::test
