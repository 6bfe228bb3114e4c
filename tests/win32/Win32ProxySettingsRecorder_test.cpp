#include "platform/win32/Win32ProxySettingsRecorder.h"

#include <gtest/gtest.h>

#include <string>

#include "journal/RestoreJournal.h"
#include "platform/win32/Win32FileSystem.h"
#include "platform/win32/Win32Registry.h"
#include "platform/win32/Win32SystemProxy.h"
#include "tests/win32/Win32TestSupport.h"

namespace cloakline {
namespace {

using test::TSavedValue;

const std::string kSettings = std::string(kInternetSettingsKey).substr(1);

// The value's type and bytes as the registry holds them, or "absent".
std::string Raw(const std::string& key, const std::string& name) {
    TRegKey opened = OpenKeyForReading(HKEY_CURRENT_USER, key);
    if (!opened.Valid()) {
        return "absent";
    }
    DWORD type = 0;
    DWORD size = 0;
    const std::wstring wide(name.begin(), name.end());
    if (::RegQueryValueExW(opened.Get(), wide.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
        return "absent";
    }
    std::string bytes(size, '\0');
    ::RegQueryValueExW(opened.Get(), wide.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()),
                       &size);
    return std::to_string(type) + ":" + bytes.substr(0, size);
}

class Win32RecorderTest : public ::testing::Test {
  protected:
    TSavedValue FEnable{HKEY_CURRENT_USER, kSettings, "ProxyEnable"};
    TSavedValue FServer{HKEY_CURRENT_USER, kSettings, "ProxyServer"};
    TSavedValue FOverride{HKEY_CURRENT_USER, kSettings, "ProxyOverride"};
    TSavedValue FPac{HKEY_CURRENT_USER, kSettings, "AutoConfigURL"};
    TSavedValue FDetect{HKEY_CURRENT_USER, kSettings, "AutoDetect"};
    TSavedValue FConnection{HKEY_CURRENT_USER, kSettings + "\\Connections", "DefaultConnectionSettings"};
    TSavedValue FLegacy{HKEY_CURRENT_USER, kSettings + "\\Connections", "SavedLegacySettings"};
    test::TScratchFolder FFolder;
};

TEST_F(Win32RecorderTest, StopPutsTheUsersInternetSettingsBackExactly) {
    // A company setup: a PAC address, a SOCKS server, exceptions; no AutoDetect value at all.
    ASSERT_TRUE(RegWriteDword(HKEY_CURRENT_USER, kSettings, "ProxyEnable", 0));
    ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, kSettings, "ProxyServer", "socks=corp:1080"));
    ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, kSettings, "ProxyOverride", "<local>;*.corp;10.*"));
    ASSERT_TRUE(
        RegWriteString(HKEY_CURRENT_USER, kSettings, "AutoConfigURL", "http://pac.corp/p.pac?a=\xc3\xbc"));
    RegDeleteValue(HKEY_CURRENT_USER, kSettings, "AutoDetect");
    const char* names[] = {"ProxyEnable", "ProxyServer", "ProxyOverride", "AutoConfigURL", "AutoDetect"};
    std::vector<std::string> before;
    for (const char* name : names) {
        before.push_back(Raw(kSettings, name));
    }
    const std::string connection = Raw(kSettings + "\\Connections", "DefaultConnectionSettings");

    Win32FileSystem files;
    Win32ProxySettingsRecorder recorder;
    TRestoreJournal journal(files, recorder, FFolder.File(std::string(kRestoreJournalName)));
    ASSERT_TRUE(journal.RecordBeforeChange());
    ASSERT_TRUE(Win32SystemProxy().ApplyProxy("1.2.3.4:8080"));
    ASSERT_NE(Raw(kSettings, "ProxyServer"), before[1]) << "the switch changed it";
    RegWriteDword(HKEY_CURRENT_USER, kSettings, "AutoDetect", 1);

    ASSERT_TRUE(journal.RestoreAndRemove());
    EXPECT_FALSE(journal.Exists());
    for (std::size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(Raw(kSettings, names[i]), before[i]) << names[i];
    }
    EXPECT_EQ(Raw(kSettings, "AutoDetect"), "absent");
    EXPECT_EQ(Raw(kSettings + "\\Connections", "DefaultConnectionSettings"), connection);
}

}  // namespace
}  // namespace cloakline
