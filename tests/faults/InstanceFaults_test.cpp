// A starting instance facing a first instance that holds its place but never
// answers, or answers only in part.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/framework/KTInstanceClient.h"
#include "platform/linux/LinuxInstanceChannel.h"
#include "tests/platform/linux/FakeEnv.h"
#include "tests/platform/linux/ForkedChild.h"
#include "tests/support/TempDir.h"

namespace cloakline::test {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr const char* kInstallation = "{F0A1B2C3-D4E5-4F60-8172-93A4B5C6D7E8}";
constexpr const char* kClass = "TfrmMain";
constexpr int kReplyTimeoutMs = 400;

long long MsSince(SteadyClock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count();
}

class InstanceFaultsTest : public ::testing::Test {
  protected:
    InstanceFaultsTest() {
        const std::string run = Dir.Sub("run/.keep");
        ::chmod((Dir.Path() + "/run").c_str(), 0700);
        Env.Set("XDG_RUNTIME_DIR", Dir.Path() + "/run");
    }

    // What a second start does in turn: find, raise, forward. Each step ends
    // on its own, so all of them together take a few reply bounds at most.
    void StartSecondInstance() {
        LinuxInstanceChannel channel(kInstallation, Env.Lookup());
        const TInstanceClient client(channel, 4242, kReplyTimeoutMs);
        const auto started = SteadyClock::now();
        EXPECT_FALSE(client.FindRunningInstance(kClass).has_value());
        client.ActivateRunningInstance(kClass);
        client.SendToRunningInstance(kClass, "/home/user/file.txt");
        client.CloseRunningInstance(kClass);
        // Four lookups of one reply bound each, with room for a slow machine.
        EXPECT_LT(MsSince(started), 4 * kReplyTimeoutMs + 5000);
    }

    // A first instance that holds its listening socket and never serves it,
    // as a hung main thread does; nullptr when it did not come up.
    std::unique_ptr<ForkedChild> StartSilentFirstInstance() {
        SignalPipe listening;
        auto first = std::make_unique<ForkedChild>([&] {
            LinuxInstanceChannel channel(kInstallation, Env.Lookup());
            auto listener = channel.Listen(kClass);
            if (!listener) {
                return 1;
            }
            listening.Notify();
            std::this_thread::sleep_for(std::chrono::seconds(60));
            return 0;
        });
        if (!listening.Wait(10'000).has_value()) {
            return nullptr;
        }
        return first;
    }

    TempDir Dir;
    FakeEnv Env;
};

TEST_F(InstanceFaultsTest, AFirstInstanceThatNeverAnswersIsGivenUpWithinTheBound) {
    const auto first = StartSilentFirstInstance();
    ASSERT_NE(first, nullptr);
    LinuxInstanceChannel channel(kInstallation, Env.Lookup());
    ASSERT_EQ(channel.FindWindows(kClass).size(), 1u) << "the first instance is there";
    StartSecondInstance();
}

TEST_F(InstanceFaultsTest, AReplyCutShortIsNoReplyAndTheStartGoesOn) {
    SignalPipe listening;
    SignalPipe cutShort;
    ForkedChild first([&] {
        LinuxInstanceChannel channel(kInstallation, Env.Lookup());
        auto listener = channel.Listen(kClass);
        if (!listener) {
            return 1;
        }
        listening.Notify();
        // Reads each request and answers with the first bytes of a reply
        // only, holding the connection open as a hung writer would.
        const int fd = static_cast<int>(listener->NativeHandle());
        std::vector<int> held;
        for (;;) {
            pollfd waiting{fd, POLLIN, 0};
            ::poll(&waiting, 1, 1000);
            const int peer = ::accept(fd, nullptr, nullptr);
            if (peer < 0) {
                continue;
            }
            char request[512];
            if (::read(peer, request, sizeof request) <= 0) {
                ::close(peer);  // a lookup's probe that hung up, not a request
                continue;
            }
            if (::send(peer, "KTIR\x92\x10", 6, MSG_NOSIGNAL) == 6) {
                cutShort.Notify();
            }
            held.push_back(peer);
        }
    });
    ASSERT_TRUE(listening.Wait(10'000).has_value());
    LinuxInstanceChannel channel(kInstallation, Env.Lookup());
    const auto windows = channel.FindWindows(kClass);
    ASSERT_EQ(windows.size(), 1u) << "the first instance is there";
    InstanceMessage ask;
    ask.Name = std::string(kMsgGetAppID);
    EXPECT_FALSE(channel.Send(windows.front(), ask, kReplyTimeoutMs).has_value());
    EXPECT_TRUE(cutShort.Wait(5000).has_value()) << "the request was read and answered in part";
    StartSecondInstance();
    EXPECT_TRUE(cutShort.Wait(5000).has_value()) << "the second start asked the first instance too";
}

TEST_F(InstanceFaultsTest, AStoppedFirstInstanceIsGivenUpWithinTheBound) {
    const auto first = StartSilentFirstInstance();
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(::kill(first->Pid(), SIGSTOP), 0);
    StartSecondInstance();
    ::kill(first->Pid(), SIGCONT);
}

}  // namespace
}  // namespace cloakline::test
