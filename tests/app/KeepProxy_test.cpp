// The real program hiding while another program changes the desktop's proxy
// settings: GSettings in GIO's key file and KDE's kioslaverc, changed by the
// real "gsettings" command and by plain file writes.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/app/ProgramInstallation.h"
#include "tests/support/GnomeKeyFile.h"
#include "tests/support/LoopbackHttpServer.h"

namespace cloakline::test {
namespace {

constexpr int kPutBackMs = 3000;

class KeepProxyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::filesystem::exists(kGSettings)) {
            GTEST_SKIP() << "needs gsettings (libglib2.0-bin) and the GNOME desktop schemas";
        }
        TScriptedResponse info;
        info.Body = "IP=81.2.69.160\r\nCOUNTRY_SHORT=GB\r\nCOUNTRY_LONG=United Kingdom\r\nCITY=London";
        Server.Script("/getinfo", info);
    }

    // An installation with one proxy, an update already had and the desktop switched.
    std::unique_ptr<Installation> Install(bool keep) {
        auto inst =
            std::make_unique<Installation>("URL.GetInfo=" + Server.Url("/getinfo") +
                                           "\r\nSWITCH.IE=1\r\nUpdate.Times=1\r\nUpdate.BeginAuto=0\r\n"
                                           "NORMAL_IPS=10.0.0.1:8080|United States|US\r\n"
                                           "Guard.KeepProxy=" +
                                           (keep ? "1" : "0") + "\r\n");
        // The window's texts in English.
        std::filesystem::copy(CLOAKLINE_SOURCE_DIR "/data/lang", inst->Dir.Sub("install/lang"));
        return inst;
    }
    pid_t StartHiding(Installation& inst, Installation::Environment extra = {}) {
        extra["GSETTINGS_BACKEND"] = "keyfile";
        extra["XDG_CURRENT_DESKTOP"] = "GNOME";
        extra["CLOAKLINE_TEST_HIDE"] = "1";
        const pid_t p = inst.Start({}, extra);
        EXPECT_TRUE(inst.WaitEvent(p, "hiding"))
            << inst.Dir.ReadFile("events.log") << inst.Dir.ReadFile("stderr.log");
        return p;
    }
    // Another program changes a GNOME setting.
    static bool OtherProgramSets(Installation& inst,
                                 const std::string& schema,
                                 const std::string& key,
                                 const std::string& value) {
        const pid_t p =
            inst.Spawn(kGSettings, {"set", schema, key, value}, {{"GSETTINGS_BACKEND", "keyfile"}});
        return inst.WaitExit(p, 10000) == 0;
    }
    static std::string Gnome(const Installation& inst, const std::string& section, const std::string& key) {
        return IniSectionValue(inst.Dir.ReadFile("cfg/glib-2.0/settings/keyfile"), section, key)
            .value_or("<unset>");
    }
    static std::string KdeType(const Installation& inst) {
        return IniSectionValue(inst.Dir.ReadFile("cfg/kioslaverc"), "Proxy Settings", "ProxyType")
            .value_or("<unset>");
    }
    // How often the panel's second line has been given a text containing part.
    static int Said(const Installation& inst, pid_t p, const std::string& part) {
        int n = 0;
        for (const std::string& e : inst.EventsOf(p)) {
            n += e.rfind("panel2 ", 0) == 0 && e.find(part) != std::string::npos ? 1 : 0;
        }
        return n;
    }

    static constexpr const char* kGSettings = "/usr/bin/gsettings";
    TLoopbackHttpServer Server;
};

TEST_F(KeepProxyTest, AnotherProgramsChangesArePutBackAFewTimesThenLeftAndTheWindowSaysSo) {
    auto inst = Install(true);
    // A KDE file of the user's, which hiding points at the proxy too.
    inst->Dir.WriteFile("cfg/kioslaverc", "[Proxy Settings]\nProxyType=0\n");
    const pid_t p = StartHiding(*inst);
    ASSERT_EQ(Gnome(*inst, "system/proxy", "mode"), "'manual'");
    ASSERT_EQ(Gnome(*inst, "system/proxy/http", "host"), "'10.0.0.1'");
    ASSERT_EQ(KdeType(*inst), "1");

    ASSERT_TRUE(OtherProgramSets(*inst, "org.gnome.system.proxy", "mode", "'none'"));
    EXPECT_TRUE(WaitUntil([&] { return Gnome(*inst, "system/proxy", "mode") == "'manual'"; }, kPutBackMs));
    EXPECT_TRUE(WaitUntil([&] { return Said(*inst, p, "Cloakline put them back") == 1; }, kPutBackMs))
        << inst->Dir.ReadFile("events.log");

    inst->Dir.WriteFile("cfg/kioslaverc", "[Proxy Settings]\nProxyType=0\n");
    EXPECT_TRUE(WaitUntil([&] { return KdeType(*inst) == "1"; }, kPutBackMs)) << "a KDE edit is noticed too";
    EXPECT_TRUE(WaitUntil([&] { return Said(*inst, p, "Cloakline put them back") == 2; }, kPutBackMs));

    ASSERT_TRUE(OtherProgramSets(*inst, "org.gnome.system.proxy.http", "host", "'192.0.2.5'"));
    EXPECT_TRUE(
        WaitUntil([&] { return Gnome(*inst, "system/proxy/http", "host") == "'10.0.0.1'"; }, kPutBackMs));
    EXPECT_TRUE(WaitUntil([&] { return Said(*inst, p, "Cloakline put them back") == 3; }, kPutBackMs));

    // A program that keeps changing them back is not fought forever.
    ASSERT_TRUE(OtherProgramSets(*inst, "org.gnome.system.proxy", "mode", "'auto'"));
    EXPECT_TRUE(WaitUntil([&] { return Said(*inst, p, "stopped putting them back") == 1; }, kPutBackMs))
        << inst->Dir.ReadFile("events.log");
    EXPECT_EQ(Gnome(*inst, "system/proxy", "mode"), "'auto'");
    EXPECT_EQ(Said(*inst, p, "Cloakline put them back"), 3);
}

TEST_F(KeepProxyTest, WithTheOptionOffTheChangeStaysAndTheWindowSaysSo) {
    auto inst = Install(false);
    // Also where Qt's loop does not run GLib's: the watch is pumped.
    const pid_t p = StartHiding(*inst, {{"QT_NO_GLIB", "1"}});
    ASSERT_EQ(Gnome(*inst, "system/proxy", "mode"), "'manual'");

    ASSERT_TRUE(OtherProgramSets(*inst, "org.gnome.system.proxy", "mode", "'none'"));
    EXPECT_TRUE(WaitUntil([&] { return Said(*inst, p, "Cloakline left them") == 1; }, kPutBackMs))
        << inst->Dir.ReadFile("events.log") << inst->Dir.ReadFile("stderr.log");
    EXPECT_EQ(Gnome(*inst, "system/proxy", "mode"), "'none'");
    EXPECT_EQ(Said(*inst, p, "put them back"), 0);
}

}  // namespace
}  // namespace cloakline::test
