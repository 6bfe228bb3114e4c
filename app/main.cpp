#include "app/KTMain.h"
#include "app/uMain.h"
#include "core/framework/GlobalPlatform.h"

int main(int argc, char** argv) {
    using namespace cloakline;
    const std::unique_ptr<Platform> system = CreateSystemPlatform();
    SetGlobalPlatform(system.get());
    if (CheckSystemRegion(*system->SystemInfo,
                          [&](const std::string& text) { ShowPlainMessage(argc, argv, text); })) {
        TfrmMain* frmMain = nullptr;
        RunApplication(argc, argv, frmMain);
    }
    SetGlobalPlatform(nullptr);
    return 0;
}
