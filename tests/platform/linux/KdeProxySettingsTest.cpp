#include <gtest/gtest.h>

#include <filesystem>

#include "platform/linux/KdeProxySettings.h"
#include "tests/platform/linux/FakeEnv.h"
#include "tests/support/TempDir.h"

namespace cloakline {
namespace {

using test::FakeEnv;
using test::TempDir;

class KdeProxyTest : public ::testing::Test {
  protected:
    KdeProxyTest() : Env{{"HOME", Dir.Path() + "/home"}, {"XDG_CONFIG_HOME", Dir.Path() + "/cfg"}} {
        Dir.Sub("home/.keep");
        Dir.Sub("cfg/.keep");
    }

    TempDir Dir;
    FakeEnv Env;
};

TEST_F(KdeProxyTest, WithoutKioslavercOutsideAKdeSessionThereIsNoKdeToSwitch) {
    for (const char* desktops : {"", "GNOME", "X-KDE-Like:XFCE", "kde"}) {
        SCOPED_TRACE(desktops);
        Env.Set("XDG_CURRENT_DESKTOP", desktops);
        EXPECT_EQ(ApplyKdeProxy(Env.Lookup(), TProxyEndpoint{"1.2.3.4", 8080}), ProxyStoreResult::Absent);
        EXPECT_FALSE(Dir.Exists("cfg/kioslaverc"));
        EXPECT_FALSE(Dir.Exists("home/.config/kioslaverc"));
    }
}

TEST_F(KdeProxyTest, AKdeSessionWithoutTheFileGetsOneAndStopLeavesItDirect) {
    Env.Set("XDG_CURRENT_DESKTOP", "ubuntu:KDE");
    Env.Set("XDG_CONFIG_HOME", Dir.Path() + "/fresh/config");
    EXPECT_EQ(ApplyKdeProxy(Env.Lookup(), std::nullopt), ProxyStoreResult::Absent) << "nothing to clear";
    EXPECT_FALSE(Dir.Exists("fresh/config/kioslaverc"));

    ASSERT_EQ(ApplyKdeProxy(Env.Lookup(), TProxyEndpoint{"1.2.3.4", 8080}), ProxyStoreResult::Written);
    EXPECT_EQ(Dir.ReadFile("fresh/config/kioslaverc"),
              "[Proxy Settings]\nProxyType=1\nhttpProxy=http://1.2.3.4 8080\nhttpsProxy=http://1.2.3.4 8080\n"
              "ftpProxy=http://1.2.3.4 8080\nNoProxyFor=\nReversedException=false\n");
    EXPECT_EQ(ReadKdeProxy(Env.Lookup()), "1.2.3.4:8080");

    ASSERT_EQ(ApplyKdeProxy(Env.Lookup(), std::nullopt), ProxyStoreResult::Written);
    EXPECT_EQ(ReadKdeProxy(Env.Lookup()), "");
    EXPECT_NE(Dir.ReadFile("fresh/config/kioslaverc").find("ProxyType=0\n"), std::string::npos);

    // A config home that cannot be made is a failure, not an absent store.
    Dir.WriteFile("blocked", "a file, not a folder");
    Env.Set("XDG_CONFIG_HOME", Dir.Path() + "/blocked/config");
    EXPECT_EQ(ApplyKdeProxy(Env.Lookup(), TProxyEndpoint{"1.2.3.4", 8080}), ProxyStoreResult::Failed);
}

TEST_F(KdeProxyTest, ManualProxyInKdesOwnFormKeepingTheRestOfTheFile) {
    Dir.WriteFile("cfg/kioslaverc",
                  "ProxyUrlDisplayFlags=8\n"
                  "\n"
                  "[$Version]\n"
                  "update_info=kioslave.upd:change_proxy_config\n"
                  "\n"
                  "[Proxy Settings]\n"
                  "Proxy Config Script=\n"
                  "ProxyType=0\n"
                  "httpProxy=http://old 1\n"
                  "socksProxy=socks://keep 1080\n"
                  "\n"
                  "[Other]\n"
                  "Keep=1\n");
    ASSERT_EQ(ApplyKdeProxy(Env.Lookup(), TProxyEndpoint{"1.2.3.4", 8080}), ProxyStoreResult::Written);
    EXPECT_EQ(Dir.ReadFile("cfg/kioslaverc"),
              "ProxyUrlDisplayFlags=8\n"
              "\n"
              "[$Version]\n"
              "update_info=kioslave.upd:change_proxy_config\n"
              "\n"
              "[Proxy Settings]\n"
              "Proxy Config Script=\n"
              "ProxyType=1\n"
              "httpProxy=http://1.2.3.4 8080\n"
              "socksProxy=socks://keep 1080\n"
              "httpsProxy=http://1.2.3.4 8080\n"
              "ftpProxy=http://1.2.3.4 8080\n"
              "NoProxyFor=\n"
              "ReversedException=false\n"
              "\n"
              "[Other]\n"
              "Keep=1\n");

    ASSERT_EQ(ApplyKdeProxy(Env.Lookup(), std::nullopt), ProxyStoreResult::Written);
    const std::string cleared = Dir.ReadFile("cfg/kioslaverc");
    EXPECT_NE(cleared.find("[Proxy Settings]\nProxy Config Script=\nProxyType=0\n"), std::string::npos)
        << cleared;
    EXPECT_NE(cleared.find("[Other]\nKeep=1\n"), std::string::npos);
}

TEST_F(KdeProxyTest, GroupIsAddedToAFileWithoutIt) {
    Dir.WriteFile("cfg/kioslaverc", "[Other]\nKeep=1\n");
    ASSERT_EQ(ApplyKdeProxy(Env.Lookup(), TProxyEndpoint{"proxy.lan", 3128}), ProxyStoreResult::Written);
    EXPECT_EQ(Dir.ReadFile("cfg/kioslaverc"),
              "[Other]\nKeep=1\n\n[Proxy Settings]\nProxyType=1\nhttpProxy=http://proxy.lan 3128\n"
              "httpsProxy=http://proxy.lan 3128\nftpProxy=http://proxy.lan 3128\nNoProxyFor=\n"
              "ReversedException=false\n");
}

TEST_F(KdeProxyTest, ConfigHomeDefaultsToDotConfig) {
    FakeEnv homeOnly{{"HOME", Dir.Path() + "/home"}};
    Dir.WriteFile("home/.config/kioslaverc", "");
    ASSERT_EQ(ApplyKdeProxy(homeOnly.Lookup(), std::nullopt), ProxyStoreResult::Written);
    EXPECT_EQ(Dir.ReadFile("home/.config/kioslaverc"), "[Proxy Settings]\nProxyType=0\n");
}

TEST_F(KdeProxyTest, ALinkedFileStaysALink) {
    Dir.WriteFile("dotfiles/kioslaverc", "[Other]\nKeep=1\n");
    std::filesystem::create_symlink(Dir.Path() + "/dotfiles/kioslaverc", Dir.Path() + "/cfg/kioslaverc");
    ASSERT_EQ(ApplyKdeProxy(Env.Lookup(), std::nullopt), ProxyStoreResult::Written);
    EXPECT_TRUE(std::filesystem::is_symlink(Dir.Path() + "/cfg/kioslaverc"));
    EXPECT_EQ(Dir.ReadFile("dotfiles/kioslaverc"), "[Other]\nKeep=1\n\n[Proxy Settings]\nProxyType=0\n");
}

TEST_F(KdeProxyTest, AFolderOfThatNameIsNoSettingsFile) {
    Dir.Sub("cfg/kioslaverc/.keep");
    EXPECT_EQ(ApplyKdeProxy(Env.Lookup(), std::nullopt), ProxyStoreResult::Absent);
}

}  // namespace
}  // namespace cloakline

namespace cloakline {
namespace {

class KdeProxyReadTest : public ::testing::Test {
  protected:
    KdeProxyReadTest() : Env{{"HOME", Dir.Path() + "/home"}, {"XDG_CONFIG_HOME", Dir.Path() + "/cfg"}} {
        Dir.Sub("home/.keep");
        Dir.Sub("cfg/.keep");
    }
    test::TempDir Dir;
    test::FakeEnv Env;
};

TEST_F(KdeProxyReadTest, TheManualHttpProxyIsReadBackInBothSpellings) {
    EXPECT_EQ(ReadKdeProxy(Env.Lookup()), std::nullopt);
    Dir.WriteFile("cfg/kioslaverc", "[Other]\nhttpProxy=http://no 1\n");
    ASSERT_EQ(ApplyKdeProxy(Env.Lookup(), TProxyEndpoint{"1.2.3.4", 8080}), ProxyStoreResult::Written);
    EXPECT_EQ(ReadKdeProxy(Env.Lookup()), "1.2.3.4:8080");

    Dir.WriteFile("cfg/kioslaverc", "[Proxy Settings]\nProxyType=1\nhttpProxy=http://proxy.example:3128/\n");
    EXPECT_EQ(ReadKdeProxy(Env.Lookup()), "proxy.example:3128");
    Dir.WriteFile("cfg/kioslaverc", "[Proxy Settings]\nProxyType=2\nhttpProxy=http://proxy.example 3128\n");
    EXPECT_EQ(ReadKdeProxy(Env.Lookup()), "") << "an automatic configuration names no proxy";
    ASSERT_EQ(ApplyKdeProxy(Env.Lookup(), std::nullopt), ProxyStoreResult::Written);
    EXPECT_EQ(ReadKdeProxy(Env.Lookup()), "");
}

}  // namespace
}  // namespace cloakline
