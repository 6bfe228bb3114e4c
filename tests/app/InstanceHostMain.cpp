// A program built on the real run routine and protocol, whose main window
// records what reaches it, so that tests can watch two processes talk.
//   CLOAKLINE_TEST_EVENTS   file that receives one "<pid> <event>" line per event
//   CLOAKLINE_TEST_BUSY_MS  how long the deferred initialisation waits (busy phase)
#include <unistd.h>

#include <QMainWindow>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ui/KTInstanceHook.h"
#include "app/KTMain.h"
#include "core/framework/GlobalPlatform.h"

namespace hosttest {

void Record(const std::string& event) {
    const char* path = std::getenv("CLOAKLINE_TEST_EVENTS");
    if (path == nullptr) {
        return;
    }
    if (FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "%d %s\n", static_cast<int>(::getpid()), event.c_str());
        std::fclose(f);
    }
}

class TfrmMain : public QMainWindow {
    Q_OBJECT

  public:
    explicit TfrmMain(const cloakline::TAppContext& context) {
        const char* busy = std::getenv("CLOAKLINE_TEST_BUSY_MS");
        auto* hook = new cloakline::TKTInstanceHook(this, context.Instances,
                                                    context.Settings.GetSettingInteger("App.ID"),
                                                    busy != nullptr ? std::atoi(busy) : 0);
        hook->OnInitPost = [this] { Record(std::string("initpost visible=") + (isVisible() ? "1" : "0")); };
        hook->OnBringToFront = [] {
            Record("bringtofront");
            return false;
        };
        hook->Receiver().FOnCmdFile = [](const std::string& file) { Record("cmdfile:" + file); };
        Record(hook->Listening() ? "listening" : "not-listening");
    }
    ~TfrmMain() override { Record("destroyed"); }
};

}  // namespace hosttest

int main(int argc, char** argv) {
    const std::unique_ptr<cloakline::Platform> system = cloakline::CreateSystemPlatform();
    cloakline::SetGlobalPlatform(system.get());
    hosttest::TfrmMain* form = nullptr;
    cloakline::RunApplication(argc, argv, form);
    hosttest::Record("ended");
    cloakline::SetGlobalPlatform(nullptr);
    return 0;
}

#include "InstanceHostMain.moc"
