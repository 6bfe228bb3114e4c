// Hides and stops as the program does, without the windows: the journal
// first, then the switches, and at Stop the journal's restore. The random-kill
// test ends it with SIGKILL at any moment and then runs it with "restore",
// the start-up's Stop.
//   journal_kill_host JOURNAL loop      writes "r" to stdout once ready, then loops
//   journal_kill_host JOURNAL restore   exit code 0 when everything was restored
#include <unistd.h>

#include <string>
#include <string_view>

#include "core/framework/KTSettings.h"
#include "core/proxy/SHRUtils.h"
#include "journal/RestoreJournal.h"

using namespace cloakline;

int main(int argc, char** argv) {
    if (argc != 3) {
        return 64;
    }
    auto system = CreateSystemPlatform();
    if (!system->ProxyRecorder) {
        return 65;
    }
    TRestoreJournal journal(*system->Files, *system->ProxyRecorder, argv[1]);
    if (std::string_view(argv[2]) == "restore") {
        return journal.RestoreAndRemove() && !journal.Exists() ? 0 : 1;
    }
    TKTSettings settings(*system, "");
    for (const char* name : {"SWITCH.IE", "SWITCH.FF", "SWITCH.OPERA"}) {
        settings.SetSettingBool(name, true);
    }
    const TSwitchServices with{settings, *system};
    if (::write(STDOUT_FILENO, "r", 1) != 1) {
        return 66;
    }
    // Bounded: the test kills it long before.
    for (int round = 0; round < 100000; ++round) {
        if (!journal.RecordBeforeChange()) {
            return 2;
        }
        // Two proxies, so that a later Hide over a kept journal changes something too.
        const TSwitchReport report =
            SwitchAllBrowsers(with, round % 2 == 0 ? "1.2.3.4:8080" : "5.6.7.8:3128");
        if (!report.Failed.empty()) {
            return 3;
        }
        if (round % 3 != 2 && !journal.RestoreAndRemove()) {
            return 4;
        }
    }
    return 0;
}
