#include <gtest/gtest.h>

#include <string>

#include "core/framework/KTInstanceClient.h"
#include "core/support/RandomGenerator.h"
#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32InstanceChannel.h"
#include "platform/win32/Win32SingleInstance.h"
#include "tests/win32/Win32TestSupport.h"

namespace cloakline {
namespace {

using namespace std::chrono_literals;
using test::FinishChild;
using test::ReadWholeFile;
using test::RunChild;
using test::StartChild;
using test::TScratchFolder;
using test::WaitFor;

constexpr std::uint32_t kCreated = 0;

InstanceMessage Named(std::string_view name) {
    InstanceMessage message;
    message.Name = std::string(name);
    return message;
}
constexpr std::uint32_t kExisted = 3;

std::string UniqueName(const std::string& stem) {
    RandomGenerator::EnsureSeeded();
    return stem + std::to_string(::GetCurrentProcessId()) + "-" +
           std::to_string(RandomGenerator::Next(0xFFFFFF));
}

TEST(Win32SingleInstance, TheSecondProcessFindsTheMutexOfTheFirst) {
    const std::string name = UniqueName("Global\\CloaklineTest-");
    Win32SingleInstance instance;
    ASSERT_TRUE(instance.CreateUniqueMutex(name));
    EXPECT_EQ(RunChild({"mutex", name}), kExisted);
    // Held for the whole process: a second call here sees it too.
    EXPECT_FALSE(instance.CreateUniqueMutex(name));
    EXPECT_EQ(RunChild({"mutex", UniqueName("Global\\CloaklineOther-")}), kCreated);
}

TEST(Win32SingleInstance, AMutexGoesWithTheProcessThatHeldIt) {
    const std::string name = UniqueName("Global\\CloaklineGone-");
    EXPECT_EQ(RunChild({"mutex", name}), kCreated);
    EXPECT_EQ(RunChild({"mutex", name}), kCreated);
}

// A second process with a hidden main window of the class; it ends when
// asked to close, or after half a minute.
class RunningInstance {
  public:
    RunningInstance(const std::string& className,
                    std::int32_t appId,
                    const std::string& file,
                    bool hang = false)
        : FProcess(StartChild(
              hang ? std::vector<std::string>{"listener", className, std::to_string(appId), file, "hang"}
                   : std::vector<std::string>{"listener", className, std::to_string(appId), file})) {}
    ~RunningInstance() {
        if (FProcess != nullptr) {
            FinishChild(FProcess, 1ms);
        }
    }
    std::optional<std::uint32_t> Finish() {
        void* process = FProcess;
        FProcess = nullptr;
        return FinishChild(process, 30s);
    }
    bool Started() const { return FProcess != nullptr; }

  private:
    void* FProcess;
};

TEST(Win32InstanceChannel, AStartingInstanceFindsTheRunningOneAndForwardsAWholePath) {
    TScratchFolder folder;
    const std::string className = UniqueName("TfrmMainTest");
    RunningInstance other(className, 4711, folder.File("other.txt"));
    RunningInstance first(className, 1234, folder.File("received.txt"));
    ASSERT_TRUE(first.Started() && other.Started());
    Win32InstanceChannel channel;
    const TInstanceClient client(channel, 1234, 5000);
    std::optional<InstanceEndpoint> found;
    ASSERT_TRUE(WaitFor(
        [&] {
            found = channel.FindWindows(className).size() == 2 ? client.FindRunningInstance(className)
                                                               : std::nullopt;
            return found.has_value();
        },
        30s));
    EXPECT_EQ(channel.Send(*found, Named(kMsgGetAppID), 5000), 1234);
    // The window that answers with another installation's id is not ours.
    const TInstanceClient stranger(channel, 999, 5000);
    EXPECT_FALSE(stranger.FindRunningInstance(className).has_value());

    const std::string path =
        "C:\\Users\\Gr\xC3\xBC\xC3\x9F"
        "e\\Documents\\" +
        std::string(300, 'x') + "\\\xE6\x97\xA5\xE6\x9C\xAC \"file\".txt";
    client.SendToRunningInstance(className, path);
    EXPECT_EQ(ReadWholeFile(folder.File("received.txt")), path);
    EXPECT_FALSE(ReadWholeFile(folder.File("other.txt")).has_value());

    client.CloseRunningInstance(className);
    EXPECT_EQ(first.Finish(), 0u);
    EXPECT_FALSE(client.FindRunningInstance(className).has_value());
    ASSERT_TRUE(channel.FindWindows(className).size() == 1);
    EXPECT_EQ(channel.Send(channel.FindWindows(className)[0], Named(kMsgCloseApp), 5000), 0);
    EXPECT_EQ(other.Finish(), 0u);
    EXPECT_TRUE(channel.FindWindows(className).empty());
}

TEST(Win32InstanceChannel, AHungInstanceCannotHoldUpTheSender) {
    TScratchFolder folder;
    const std::string className = UniqueName("TfrmMainHung");
    RunningInstance hung(className, 77, folder.File("found.txt"), true);
    ASSERT_TRUE(hung.Started());
    Win32InstanceChannel channel;
    std::vector<InstanceEndpoint> windows;
    ASSERT_TRUE(WaitFor(
        [&] {
            windows = channel.FindWindows(className);
            return windows.size() == 1 && channel.Send(windows[0], Named(kMsgGetAppID), 2000);
        },
        30s));
    ASSERT_TRUE(WaitFor([&] { return ReadWholeFile(folder.File("found.txt")).has_value(); }, 10s));
    // It no longer handles messages: the bounded wait gives up.
    EXPECT_EQ(channel.Send(windows[0], Named(kMsgGetAppID), 300), std::nullopt);
}

TEST(Win32InstanceChannel, ThisProcesssListenerAnswersWithItsHandler) {
    const std::string className = UniqueName("TfrmMainSelf");
    Win32InstanceChannel channel;
    auto listener = channel.Listen(className);
    ASSERT_NE(listener, nullptr);
    std::vector<InstanceMessage> seen;
    listener->ServePending([&](const InstanceMessage& message) -> std::int64_t {
        seen.push_back(message);
        return message.Name == kMsgIfBusy ? 1 : -5;
    });
    const auto windows = channel.FindWindows(className);
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0].Address, WindowAddress(reinterpret_cast<HWND>(listener->NativeHandle())));
    // Sent from this thread, the window's procedure runs at once.
    EXPECT_EQ(channel.Send(windows[0], Named(kMsgIfBusy), 1000), 1);
    EXPECT_EQ(channel.Send(windows[0], Named(kMsgBringToFront), 1000), -5);
    const InstanceMessage noData = Named(kMsgCopyData);
    EXPECT_EQ(channel.Send(windows[0], noData, 1000), -5);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].Name, kMsgIfBusy);
    EXPECT_EQ(seen[2].Name, kMsgCopyData);
    EXPECT_FALSE(seen[2].HasData);
    EXPECT_EQ(channel.Send(InstanceEndpoint{"12345"}, Named(kMsgIfBusy), 100), std::nullopt);
    EXPECT_EQ(channel.Send(InstanceEndpoint{"garbage"}, Named(kMsgIfBusy), 100), std::nullopt);
    listener.reset();
    EXPECT_TRUE(channel.FindWindows(className).empty());
}

}  // namespace
}  // namespace cloakline
