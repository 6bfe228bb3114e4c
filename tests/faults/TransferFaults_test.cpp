// A server that goes away in the middle of an answer.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "net/HttpGet.h"
#include "net/SingleDownloader.h"
#include "platform/linux/LinuxFileSystem.h"
#include "tests/net/LoopDispatcher.h"
#include "tests/support/FakeDataFolders.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TempDir.h"

namespace cloakline {
namespace {

using namespace std::chrono_literals;
using test::TLoopbackHttpServer;
using test::TScriptedResponse;

constexpr auto kWait = 20s;

class DirectProxy : public ISystemProxy {
  public:
    bool ApplyProxy(std::string_view) override { return true; }
    std::string CurrentProxy() const override { return {}; }
};

class TransferFaultsTest : public ::testing::Test {
  protected:
    TransferFaultsTest() {
        auto folders = std::make_unique<test::FakeDataFolders>();
        Temp.Sub("tmp/.keep");
        folders->TempDir = Temp.ProgramPath("tmp") + "\\";
        System.Folders = std::move(folders);
        System.Files = std::make_unique<LinuxFileSystem>();
        System.SystemProxy = std::make_unique<DirectProxy>();
    }

    std::unique_ptr<TSingleDownloader> Make() {
        TDownloaderContext context;
        context.Dispatcher = Loop;
        context.System = &System;
        context.Tracker = Tracker;
        auto d = std::make_unique<TSingleDownloader>(std::move(context));
        d->OnDoneString = [this](TSingleDownloader&, const std::string& text) {
            Events.push_back("string:" + text);
        };
        d->OnDoneFile = [this](TSingleDownloader&, const std::string&, std::int32_t) {
            Events.push_back("file");
        };
        d->OnError = [this](TSingleDownloader&) { Events.push_back("error"); };
        d->OnProgress = [this](TSingleDownloaderThread&, std::int32_t, std::int32_t) { ++Progress; };
        return d;
    }

    // Half of a body whose whole length was announced, then the connection closes.
    static TScriptedResponse CutHalfway(std::chrono::milliseconds pause) {
        TScriptedResponse r;
        r.Body = std::string(200'000, 'x');
        r.SplitAt = 100'000;
        r.DelayMidBody = pause;
        r.CloseMidBody = true;
        return r;
    }

    void Settle() {
        ASSERT_TRUE(Tracker->WaitAll(kWait));
        Loop->RunUntil([] { return false; }, 200ms);
    }

    const TCurlGlobal Curl;
    const std::shared_ptr<test::TLoopDispatcher> Loop = test::TLoopDispatcher::Create();
    const std::shared_ptr<TWorkerTracker> Tracker = TWorkerTracker::Create();
    test::TempDir Temp;
    // Temporary files of downloads beside their targets.
    std::vector<std::string> PartFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(Temp.Path())) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with(".") && name.ends_with(".tmp")) {
                names.push_back(name);
            }
        }
        return names;
    }

    Platform System;
    TLoopbackHttpServer Server;
    std::vector<std::string> Events;
    int Progress = 0;
};

TEST_F(TransferFaultsTest, AServerGoneHalfwayFailsTheTransferAndKeepsTheTarget) {
    Server.Script("/cut", CutHalfway(0ms));
    Temp.WriteFile("target.bin", "old");
    auto d = Make();
    d->URL = Server.Url("/cut");
    d->FileName = Temp.ProgramPath("target.bin");
    d->GetFile();
    ASSERT_TRUE(Loop->RunUntil([&] { return !Events.empty(); }, kWait));
    d->GetString();
    ASSERT_TRUE(Loop->RunUntil([&] { return Events.size() >= 2; }, kWait));
    Settle();
    EXPECT_EQ(Events, (std::vector<std::string>{"error", "error"}));
    EXPECT_FALSE(d->Result());
    EXPECT_EQ(Temp.ReadFile("target.bin"), "old");
    EXPECT_TRUE(PartFiles().empty()) << "the part received is not left behind";
}

TEST_F(TransferFaultsTest, AbortWhileTheBodyArrivesSilencesTheTransferBeforeTheServerGoes) {
    for (const bool toFile : {true, false}) {
        SCOPED_TRACE(toFile ? "GetFile" : "GetString");
        Events.clear();
        Progress = 0;
        const std::size_t finishedBefore = Server.Finished();
        Server.Script("/slow", CutHalfway(1500ms));
        auto d = Make();
        d->URL = Server.Url("/slow");
        d->FileName = Temp.ProgramPath("aborted.bin");
        toFile ? d->GetFile() : d->GetString();
        // Half of the body is on its way: the worker is inside the transfer.
        ASSERT_TRUE(Server.WaitForRequests(toFile ? 1 : 2, kWait));
        Loop->RunUntil([&] { return Progress > 0 || !toFile; }, 5s);
        if (toFile) {
            // The part received lies beside its target, the user's alone.
            const std::vector<std::string> parts = PartFiles();
            ASSERT_EQ(parts.size(), 1u);
            EXPECT_TRUE(parts[0].starts_with(".aborted.bin.")) << parts[0];
            EXPECT_EQ(std::filesystem::status(Temp.Path() + "/" + parts[0]).permissions(),
                      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
            EXPECT_TRUE(std::filesystem::is_empty(Temp.Path() + "/tmp")) << "nothing in the shared folder";
        }
        d->Abort();
        EXPECT_FALSE(d->Busy());
        ASSERT_TRUE(Server.WaitForFinished(finishedBefore + 1, kWait)) << "the server cut the connection";
        Settle();
        EXPECT_TRUE(Events.empty()) << Events.front();
        EXPECT_FALSE(Temp.Exists("aborted.bin"));
    }
    EXPECT_TRUE(PartFiles().empty());
}

}  // namespace
}  // namespace cloakline
