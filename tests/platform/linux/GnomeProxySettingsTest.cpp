#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/linux/GnomeProxySettings.h"
#include "tests/platform/linux/TempDesktop.h"

namespace cloakline {
namespace {

constexpr uid_t kNobody = 65534;

int Code(ProxyStoreResult result) {
    return static_cast<int>(result);
}

class GnomeProxyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!Desktop.HasGnomeProxySchema()) {
            GTEST_SKIP() << "needs gsettings and the GNOME desktop schemas (libglib2.0-bin, "
                            "gsettings-desktop-schemas)";
        }
    }

    std::optional<int> Apply(const std::optional<TProxyEndpoint>& proxy, uid_t runAs = 0) {
        return Desktop.InChild([&] { return Code(ApplyGnomeProxy(proxy)); }, runAs);
    }
    std::string Get(const std::string& schema, const std::string& key) const {
        return Desktop.GSettingsGet(schema, key);
    }

    test::TempDesktop Desktop;
};

TEST_F(GnomeProxyTest, ManualProxyForEverySchemeIsReadBackByAnotherProcess) {
    ASSERT_TRUE(
        Desktop.GSettingsSet("org.gnome.system.proxy", "ignore-hosts", "['localhost', '127.0.0.0/8']"));
    ASSERT_EQ(Apply(TProxyEndpoint{"1.2.3.4", 8080}), Code(ProxyStoreResult::Written));

    EXPECT_EQ(Get("org.gnome.system.proxy", "mode"), "'manual'\n");
    for (const char* scheme : {"http", "https", "ftp"}) {
        SCOPED_TRACE(scheme);
        const std::string schema = std::string("org.gnome.system.proxy.") + scheme;
        EXPECT_EQ(Get(schema, "host"), "'1.2.3.4'\n");
        EXPECT_EQ(Get(schema, "port"), "8080\n");
    }
    EXPECT_EQ(Get("org.gnome.system.proxy", "ignore-hosts"), "@as []\n") << "no exceptions";
    // The keyfile backend's own file, which the browsers read through GIO.
    const std::string keyfile = Desktop.KeyFile();
    EXPECT_NE(keyfile.find("[system/proxy]"), std::string::npos) << keyfile;
    EXPECT_NE(keyfile.find("mode='manual'"), std::string::npos) << keyfile;
    EXPECT_NE(keyfile.find("[system/proxy/https]"), std::string::npos) << keyfile;
}

TEST_F(GnomeProxyTest, ClearingMeansNoProxyAndANewProxyReplacesTheOld) {
    ASSERT_EQ(Apply(TProxyEndpoint{"1.2.3.4", 8080}), Code(ProxyStoreResult::Written));
    ASSERT_EQ(Apply(std::nullopt), Code(ProxyStoreResult::Written));
    EXPECT_EQ(Get("org.gnome.system.proxy", "mode"), "'none'\n");

    ASSERT_EQ(Apply(TProxyEndpoint{"[2001:db8::7]", 3128}), Code(ProxyStoreResult::Written));
    EXPECT_EQ(Get("org.gnome.system.proxy", "mode"), "'manual'\n");
    EXPECT_EQ(Get("org.gnome.system.proxy.ftp", "host"), "'[2001:db8::7]'\n");
    EXPECT_EQ(Get("org.gnome.system.proxy.ftp", "port"), "3128\n");
    EXPECT_EQ(Get("org.gnome.system.proxy.http", "port"), "3128\n");
}

TEST_F(GnomeProxyTest, MissingSchemasAreSkippedQuietly) {
    // g_settings_new would abort the process here.
    Desktop.Dir.Sub("empty-data/.keep");
    Desktop.Env["XDG_DATA_DIRS"] = Desktop.Dir.Path() + "/empty-data";
    Desktop.Env.erase("GSETTINGS_SCHEMA_DIR");
    EXPECT_EQ(Apply(TProxyEndpoint{"1.2.3.4", 8080}), Code(ProxyStoreResult::Absent));
    EXPECT_EQ(Apply(std::nullopt), Code(ProxyStoreResult::Absent));
    EXPECT_FALSE(Desktop.Dir.Exists("cfg/glib-2.0/settings/keyfile"));
}

TEST_F(GnomeProxyTest, ABackendThatKeepsNothingCountsAsNoStore) {
    Desktop.Env["GSETTINGS_BACKEND"] = "memory";
    EXPECT_EQ(Apply(TProxyEndpoint{"1.2.3.4", 8080}), Code(ProxyStoreResult::Absent));
}

TEST_F(GnomeProxyTest, ARefusedWriteIsAFailureAndLeavesTheModeAlone) {
    ASSERT_EQ(Apply(std::nullopt), Code(ProxyStoreResult::Written));
    // The keyfile backend refuses writes when it cannot write its folder.
    const std::string settings = Desktop.ConfigHome() + "/glib-2.0/settings";
    uid_t runAs = 0;
    if (::geteuid() == 0) {
        runAs = kNobody;  // root may write anywhere; nobody may not write root's folder
    } else {
        ASSERT_EQ(::chmod(settings.c_str(), 0555), 0);
    }
    EXPECT_EQ(Apply(TProxyEndpoint{"1.2.3.4", 8080}, runAs), Code(ProxyStoreResult::Failed));
    ::chmod(settings.c_str(), 0755);
    EXPECT_EQ(Get("org.gnome.system.proxy", "mode"), "'none'\n");
    EXPECT_EQ(Get("org.gnome.system.proxy.http", "host"), "''\n");
}

}  // namespace
}  // namespace cloakline

namespace cloakline {
namespace {

TEST_F(GnomeProxyTest, TheManualHttpProxyIsReadBackAndOtherModesNameNone) {
    // The answer leaves the child as a file.
    const auto read = [&] {
        return Desktop.InChild([&] {
            const auto proxy = ReadGnomeProxy();
            Desktop.Dir.WriteFile("read.txt", proxy ? "[" + *proxy + "]" : "absent");
            return 0;
        });
    };
    ASSERT_TRUE(Desktop.GSettingsSet("org.gnome.system.proxy.http", "host", "'10.0.0.9'"));
    ASSERT_TRUE(Desktop.GSettingsSet("org.gnome.system.proxy.http", "port", "3128"));
    ASSERT_TRUE(Desktop.GSettingsSet("org.gnome.system.proxy", "mode", "'auto'"));
    ASSERT_EQ(read(), 0);
    EXPECT_EQ(Desktop.Dir.ReadFile("read.txt"), "[]");
    ASSERT_TRUE(Desktop.GSettingsSet("org.gnome.system.proxy", "mode", "'manual'"));
    ASSERT_EQ(read(), 0);
    EXPECT_EQ(Desktop.Dir.ReadFile("read.txt"), "[10.0.0.9:3128]");
}

}  // namespace
}  // namespace cloakline
