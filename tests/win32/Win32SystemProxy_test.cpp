#include "platform/win32/Win32SystemProxy.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/win32/Win32Browsers.h"
#include "platform/win32/Win32InetApi.h"
#include "platform/win32/Win32Registry.h"
#include "platform/win32/Win32Text.h"
#include "tests/win32/Win32TestSupport.h"

namespace cloakline {
namespace {

using test::TSavedValue;
using test::TScratchFolder;

struct TConnectionOptions {
    DWORD Flags = 0;
    std::wstring Server;
    std::wstring Bypass;
};

// What WinInet itself answers for the LAN connection.
std::optional<TConnectionOptions> QueryConnectionOptions() {
    INTERNET_PER_CONN_OPTIONW options[3] = {};
    options[0].dwOption = INTERNET_PER_CONN_FLAGS;
    options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
    options[2].dwOption = INTERNET_PER_CONN_PROXY_BYPASS;
    INTERNET_PER_CONN_OPTION_LISTW list{};
    list.dwSize = sizeof list;
    list.dwOptionCount = 3;
    list.pOptions = options;
    DWORD size = sizeof list;
    if (!::InternetQueryOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &size)) {
        return std::nullopt;
    }
    TConnectionOptions result;
    result.Flags = options[0].Value.dwValue;
    for (int i = 1; i < 3; ++i) {
        if (options[i].Value.pszValue != nullptr) {
            (i == 1 ? result.Server : result.Bypass) = options[i].Value.pszValue;
            ::GlobalFree(options[i].Value.pszValue);
        }
    }
    return result;
}

// The user's Internet Settings as they were before the test, put back after it.
class InternetSettingsTest : public testing::Test {
  protected:
    TSavedValue FServer{HKEY_CURRENT_USER, std::string(kInternetSettingsKey).substr(1), "ProxyServer"};
    TSavedValue FEnable{HKEY_CURRENT_USER, std::string(kInternetSettingsKey).substr(1), "ProxyEnable"};
    ~InternetSettingsTest() override { SetWinInetProxy(false, "", ""); }
};

TEST_F(InternetSettingsTest, HidingWritesTheValuesAndTheConnectionOptions) {
    Win32SystemProxy proxy;
    ASSERT_TRUE(proxy.ApplyProxy("1.2.3.4:8080"));
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kInternetSettingsKey, "ProxyServer", "<none>"),
              "http=1.2.3.4:8080;ftp=1.2.3.4:8080;https=1.2.3.4:8080;");
    EXPECT_EQ(RegReadDword(HKEY_CURRENT_USER, kInternetSettingsKey, "ProxyEnable"), 1u);
    const auto options = QueryConnectionOptions();
    ASSERT_TRUE(options);
    EXPECT_NE(options->Flags & PROXY_TYPE_PROXY, 0u);
    EXPECT_EQ(proxy.CurrentProxy(), "1.2.3.4:8080");
}

TEST_F(InternetSettingsTest, TheConnectionOptionsAloneCarryTheBareServer) {
    ASSERT_TRUE(SetWinInetProxy(true, "", "5.6.7.8:3128"));
    const auto options = QueryConnectionOptions();
    ASSERT_TRUE(options);
    EXPECT_NE(options->Flags & PROXY_TYPE_PROXY, 0u);
    EXPECT_EQ(options->Server, L"5.6.7.8:3128");
    ASSERT_TRUE(SetWinInetProxy(false, "", ""));
    const auto cleared = QueryConnectionOptions();
    ASSERT_TRUE(cleared);
    EXPECT_EQ(cleared->Flags & PROXY_TYPE_PROXY, 0u);
    EXPECT_NE(cleared->Flags & PROXY_TYPE_DIRECT, 0u);
}

TEST_F(InternetSettingsTest, StopWritesADirectConnection) {
    Win32SystemProxy proxy;
    ASSERT_TRUE(proxy.ApplyProxy("1.2.3.4:8080"));
    ASSERT_TRUE(proxy.ApplyProxy(""));
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kInternetSettingsKey, "ProxyServer", "<none>"),
              "http=;ftp=;https=;");
    EXPECT_EQ(RegReadDword(HKEY_CURRENT_USER, kInternetSettingsKey, "ProxyEnable"), 0u);
    const auto options = QueryConnectionOptions();
    ASSERT_TRUE(options);
    EXPECT_EQ(options->Flags & PROXY_TYPE_PROXY, 0u);
    EXPECT_EQ(proxy.CurrentProxy(), "");
}

TEST_F(InternetSettingsTest, AMalformedProxyChangesNothing) {
    Win32SystemProxy proxy;
    ASSERT_TRUE(proxy.ApplyProxy("9.9.9.9:99"));
    EXPECT_FALSE(proxy.ApplyProxy("1.2.3.4:80;http=evil:1"));
    EXPECT_FALSE(proxy.ApplyProxy("no port"));
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kInternetSettingsKey, "ProxyServer", ""),
              "http=9.9.9.9:99;ftp=9.9.9.9:99;https=9.9.9.9:99;");
    EXPECT_EQ(proxy.CurrentProxy(), "9.9.9.9:99");
}

TEST(Win32SystemProxy, TheHttpServerIsPickedOutOfAServerList) {
    EXPECT_EQ(HttpProxyOfServerList("http=a:1;ftp=b:2;https=c:3;"), "a:1");
    EXPECT_EQ(HttpProxyOfServerList("ftp=b:2; HTTP = d:4 "), "d:4");
    EXPECT_EQ(HttpProxyOfServerList("proxy:8080"), "proxy:8080");
    EXPECT_EQ(HttpProxyOfServerList("ftp=b:2;"), "");
    EXPECT_EQ(HttpProxyOfServerList("http=;ftp=;https=;"), "");
}

constexpr const char* kMozillaKey = "SOFTWARE\\Mozilla\\Mozilla Firefox";
constexpr const char* kMozillaMainKey = "SOFTWARE\\Mozilla\\Mozilla Firefox\\99.0 (x64 en-US)\\Main";

TEST(Win32Firefox, TheInstallersEntryIsFoundAndThePortableOneWins) {
    const TSavedValue version(HKEY_LOCAL_MACHINE, kMozillaKey, "CurrentVersion");
    const TSavedValue main(HKEY_LOCAL_MACHINE, kMozillaMainKey, "PathToExe");
    const TSavedValue portable(HKEY_CURRENT_USER, "Software\\Kestrel", "");
    RegDeleteValue(HKEY_CURRENT_USER, "Software\\Kestrel", "");
    Win32Firefox firefox;
    ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kMozillaKey, "CurrentVersion", "99.0 (x64 en-US)"));
    ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kMozillaMainKey, "PathToExe",
                               "C:\\Program Files\\Mozilla Firefox\\firefox.exe"));
    EXPECT_EQ(firefox.FindInstalledProgram(), "C:\\Program Files\\Mozilla Firefox\\firefox.exe");
    ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, "Software\\Kestrel", "", "D:\\Portable"));
    EXPECT_EQ(firefox.FindInstalledProgram(), "D:\\Portable\\Kestrel.exe");
    EXPECT_FALSE(firefox.IsRunning());
}

TEST(Win32Firefox, StartingAMissingProgramFailsQuietlyAndABadProxyStartsNothing) {
    TScratchFolder folder;
    Win32Firefox firefox;
    EXPECT_FALSE(firefox.ApplyProxy(folder.File("firefox.exe"), "1.2.3.4:8080"));
    EXPECT_FALSE(firefox.ApplyProxy(test::ThisProgram(), "1.2.3.4:8080\" -evil"));
    EXPECT_FALSE(firefox.InstallExtension(folder.File("firefox.exe"), folder.File("ffextension.xpi")));
}

}  // namespace
}  // namespace cloakline
