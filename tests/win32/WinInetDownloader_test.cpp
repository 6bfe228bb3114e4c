#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/framework/DownloaderDef.h"
#include "net/SingleDownloader.h"
#include "platform/api/Platform.h"
#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32FileSystem.h"
#include "tests/net/LoopDispatcher.h"
#include "tests/win32/Win32TestSupport.h"

namespace cloakline {
namespace {

using namespace std::chrono_literals;
using test::ReadWholeFile;
using test::TLoopDispatcher;
using test::TScratchFolder;

std::string KnownBytes(std::size_t n) {
    std::string bytes(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<char>((i * 7 + 3) % 251);
    }
    return bytes;
}

// The loopback server that the test runner started on the Linux side; its
// port is in the file that CLOAKLINE_TEST_HTTP_PORTFILE names.
std::string ServerBase() {
    const char* portFile = std::getenv("CLOAKLINE_TEST_HTTP_PORTFILE");
    if (portFile == nullptr) {
        return {};
    }
    std::string path = portFile;
    // Given as a Linux path, seen by Wine through drive Z:.
    if (path.starts_with("/")) {
        path = "Z:" + path;
        std::replace(path.begin(), path.end(), '/', '\\');
    }
    const auto port = ReadWholeFile(path);
    return port && !port->empty() ? "http://127.0.0.1:" + *port : std::string();
}

// Temporary files of a transfer go to a folder of the test's own, where
// anything left over shows.
class TempFolders final : public IDataFolders {
  public:
    explicit TempFolders(std::string temp) : FTemp(std::move(temp)) {}
    std::string GetExeName() const override { return test::ThisProgram(); }
    std::string GetShellFolder(std::string_view) const override { return {}; }
    std::string GetCommonShellFolder(std::string_view) const override { return {}; }
    std::string GetTempDir() const override { return FTemp + "\\"; }

  private:
    std::string FTemp;
};

struct TOutcome {
    int Events = 0;
    bool Error = false;
    std::string Text;
    std::string File;
    std::int32_t FileSize = -1;
    std::vector<std::pair<std::int32_t, std::int32_t>> Progress;
};

class WinInetDownloaderTest : public testing::Test {
  protected:
    void SetUp() override {
        FBase = ServerBase();
        ASSERT_FALSE(FBase.empty())
            << "the loopback server's port file is missing (run through scripts/wine-test.sh)";
        FSystem.Files = std::make_unique<Win32FileSystem>();
        FSystem.Folders = std::make_unique<TempFolders>(FTemp.Path());
        FDownloader = std::make_unique<TSingleDownloader>(
            TDownloaderContext{FDispatcher, &FSystem, nullptr, TWorkerTracker::Create(), {}});
        FDownloader->OnDoneString = [this](TSingleDownloader&, const std::string& text) {
            ++FOutcome.Events;
            FOutcome.Text = text;
        };
        FDownloader->OnDoneFile = [this](TSingleDownloader&, const std::string& file, std::int32_t size) {
            ++FOutcome.Events;
            FOutcome.File = file;
            FOutcome.FileSize = size;
        };
        FDownloader->OnError = [this](TSingleDownloader&) {
            ++FOutcome.Events;
            FOutcome.Error = true;
        };
        FDownloader->OnProgress = [this](TSingleDownloaderThread&, std::int32_t total, std::int32_t readed) {
            FOutcome.Progress.emplace_back(total, readed);
        };
    }

    // Runs the transfer to its one event.
    bool Finish() {
        return FDispatcher->RunUntil([this] { return !FDownloader->Busy(); }, 60s);
    }

    std::vector<std::string> LeftInTemp() const {
        TStringList names;
        Win32FileSystem().ListFiles(FTemp.Path() + "\\*", names, false);
        return std::vector<std::string>(names.begin(), names.end());
    }

    std::string FBase;
    TScratchFolder FTemp;
    TScratchFolder FTarget;
    Platform FSystem;
    std::shared_ptr<TLoopDispatcher> FDispatcher = TLoopDispatcher::Create();
    std::unique_ptr<TSingleDownloader> FDownloader;
    TOutcome FOutcome;
};

TEST_F(WinInetDownloaderTest, ATextComesBackFromTheServersOwnPort) {
    FDownloader->URL = FBase + "/text";
    FDownloader->GetString();
    // A second start while busy is dropped.
    FDownloader->GetString();
    ASSERT_TRUE(Finish());
    EXPECT_EQ(FOutcome.Events, 1);
    EXPECT_EQ(FOutcome.Text, "hello from the loopback server");
    ASSERT_FALSE(FOutcome.Progress.empty());
    EXPECT_EQ(FOutcome.Progress.back(), std::make_pair(30, 30));
    EXPECT_TRUE(FDownloader->Result());
}

TEST_F(WinInetDownloaderTest, TheHostHeaderNamesThePort) {
    FDownloader->URL = FBase + "/host";
    FDownloader->GetString();
    ASSERT_TRUE(Finish());
    EXPECT_EQ(FOutcome.Text, FBase.substr(std::string("http://").size()));
}

TEST_F(WinInetDownloaderTest, AnUtf8AnswerIsDecodedAsUtf8) {
    FDownloader->URL = FBase + "/utf8";
    FDownloader->HttpCharset = THttpCharset::KUTF8;
    FDownloader->GetString();
    ASSERT_TRUE(Finish());
    EXPECT_EQ(FOutcome.Text,
              "Gr\xC3\xBC\xC3\x9F"
              "e \xE2\x80\x93 \xE6\x97\xA5\xE6\x9C\xAC");
}

TEST_F(WinInetDownloaderTest, AnErrorPageIsATextButNoFile) {
    FDownloader->URL = FBase + "/missing";
    FDownloader->GetString();
    ASSERT_TRUE(Finish());
    EXPECT_EQ(FOutcome.Text, "<html>no such page</html>");

    FOutcome = {};
    const std::string target = FTarget.File("flag.png");
    Win32FileSystem().WriteTextFile("old flag", target);
    FDownloader->FileName = target;
    FDownloader->GetFile();
    ASSERT_TRUE(Finish());
    EXPECT_TRUE(FOutcome.Error);
    EXPECT_EQ(FOutcome.Events, 1);
    EXPECT_EQ(ReadWholeFile(target), "old flag");
    EXPECT_TRUE(LeftInTemp().empty());
}

TEST_F(WinInetDownloaderTest, AFileArrivesWholeInAFolderMadeForIt) {
    const std::string target = FTarget.File("flags\\short\\DE.PNG");
    FDownloader->URL = FBase + "/bytes/200000";
    FDownloader->FileName = target;
    FDownloader->BinaryData = true;
    FDownloader->GetFile();
    ASSERT_TRUE(Finish());
    ASSERT_FALSE(FOutcome.Error);
    EXPECT_EQ(FOutcome.File, target);
    EXPECT_EQ(FOutcome.FileSize, 200000);
    EXPECT_EQ(ReadWholeFile(target), KnownBytes(200000));
    ASSERT_FALSE(FOutcome.Progress.empty());
    EXPECT_EQ(FOutcome.Progress.back(), std::make_pair(200000, 200000));
    for (std::size_t i = 1; i < FOutcome.Progress.size(); ++i) {
        EXPECT_GT(FOutcome.Progress[i].second, FOutcome.Progress[i - 1].second);
    }
    // The temporary "sg*.tmp" took the target's place.
    EXPECT_TRUE(LeftInTemp().empty());
}

TEST_F(WinInetDownloaderTest, WithoutAnAnnouncedLengthBinaryDataFailsAndTheTargetStays) {
    const std::string target = FTarget.File("kept.bin");
    Win32FileSystem().WriteTextFile("kept", target);
    FDownloader->URL = FBase + "/nolength";
    FDownloader->FileName = target;
    FDownloader->BinaryData = true;
    FDownloader->GetFile();
    ASSERT_TRUE(Finish());
    EXPECT_TRUE(FOutcome.Error);
    EXPECT_EQ(ReadWholeFile(target), "kept");

    // Without BinaryData a normal end with data is a whole file.
    FOutcome = {};
    FDownloader->BinaryData = false;
    FDownloader->GetFile();
    ASSERT_TRUE(Finish());
    ASSERT_FALSE(FOutcome.Error);
    EXPECT_EQ(FOutcome.FileSize, 0);
    EXPECT_EQ(ReadWholeFile(target), KnownBytes(5000));
    EXPECT_TRUE(LeftInTemp().empty());
}

TEST_F(WinInetDownloaderTest, APostCarriesItsBodyAndType) {
    TStringList values;
    values.Add("a=x y");
    values.Add("b=1&2");
    FDownloader->SetPostValues(values);
    FDownloader->URL = FBase + "/echo";
    FDownloader->GetString();
    ASSERT_TRUE(Finish());
    EXPECT_EQ(FOutcome.Text, "POST|application/x-www-form-urlencoded|a=x+y&b=1%262");
}

TEST_F(WinInetDownloaderTest, AbortEndsTheTransferWithoutAnyEvent) {
    const std::string target = FTarget.File("never.bin");
    FDownloader->URL = FBase + "/slow";
    FDownloader->FileName = target;
    FDownloader->GetFile();
    ASSERT_TRUE(FDispatcher->RunUntil([this] { return !FOutcome.Progress.empty(); }, 30s));
    FDownloader->Abort();
    EXPECT_FALSE(FDownloader->Busy());
    // The component is free at once; the next request runs meanwhile.
    FDownloader->OnProgress = nullptr;
    FDownloader->URL = FBase + "/text";
    FDownloader->GetString();
    ASSERT_TRUE(Finish());
    EXPECT_EQ(FOutcome.Events, 1);
    EXPECT_EQ(FOutcome.Text, "hello from the loopback server");
    EXPECT_FALSE(ReadWholeFile(target).has_value());
}

TEST_F(WinInetDownloaderTest, UnusableAddressesAndDeadServersFail) {
    for (const std::string& url : {std::string("127.0.0.1"), std::string("http://127.0.0.1:1/text"),
                                   std::string("http://127.0.0.1:x/text")}) {
        FOutcome = {};
        FDownloader->URL = url;
        FDownloader->GetString();
        ASSERT_TRUE(Finish()) << url;
        EXPECT_TRUE(FOutcome.Error) << url;
        EXPECT_EQ(FOutcome.Events, 1) << url;
    }
}

}  // namespace
}  // namespace cloakline
