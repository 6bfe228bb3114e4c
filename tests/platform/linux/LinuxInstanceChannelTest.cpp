#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "platform/linux/LinuxInstanceChannel.h"
#include "tests/platform/linux/FakeEnv.h"
#include "tests/platform/linux/ForkedChild.h"
#include "tests/support/TempDir.h"

namespace cloakline {
namespace {

namespace fs = std::filesystem;
using test::FakeEnv;
using test::ForkedChild;
using test::SignalPipe;
using test::TempDir;
using SteadyClock = std::chrono::steady_clock;

constexpr const char* kInstallation = "{6A1D5E0B-9C3F-4E2A-B7D8-0F1E2D3C4B5A}";

InstanceMessage Named(std::string_view name, std::int64_t wParam = 0, std::int64_t lParam = 0) {
    InstanceMessage message;
    message.Name = std::string(name);
    message.WParam = wParam;
    message.LParam = lParam;
    return message;
}

// Serves a listener on its own thread until it goes; every poll is short, so it stops promptly.
class ServingThread {
  public:
    ServingThread(IInstanceListener& listener, IInstanceListener::Handler handler)
        : FThread([this, &listener, handler = std::move(handler)] {
              while (!FStop) {
                  pollfd p{static_cast<int>(listener.NativeHandle()), POLLIN, 0};
                  if (::poll(&p, 1, 20) > 0) {
                      listener.ServePending(handler);
                  }
              }
          }) {}
    ~ServingThread() {
        FStop = true;
        FThread.join();
    }

  private:
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

// Remembers what a listener received and answers from a fixed table.
class RecordingHandler {
  public:
    explicit RecordingHandler(std::int64_t appId) : FAppId(appId) {}

    IInstanceListener::Handler Handler() {
        return [this](const InstanceMessage& message) -> std::int64_t {
            std::lock_guard lock(FMutex);
            FReceived.push_back(message);
            return message.Name == kMsgGetAppID ? FAppId : 0;
        };
    }
    std::vector<InstanceMessage> Received() const {
        std::lock_guard lock(FMutex);
        return FReceived;
    }

  private:
    std::int64_t FAppId;
    mutable std::mutex FMutex;
    std::vector<InstanceMessage> FReceived;
};

// A raw client socket connected to a path, for bytes no well-behaved sender writes.
int ConnectRaw(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

class LinuxInstanceChannelTest : public ::testing::Test {
  protected:
    LinuxInstanceChannelTest() : FEnv{{"XDG_RUNTIME_DIR", FRuntime.Path()}} {}

    LinuxInstanceChannel Channel(const std::string& id = kInstallation) const {
        return LinuxInstanceChannel(id, FEnv.Lookup());
    }

    TempDir FRuntime;
    FakeEnv FEnv;
};

TEST_F(LinuxInstanceChannelTest, GetAppIdRoundTrip) {
    LinuxInstanceChannel channel = Channel();
    auto listener = channel.Listen("TfrmMain");
    ASSERT_NE(listener, nullptr);
    RecordingHandler handler(4242);
    ServingThread serving(*listener, handler.Handler());

    const auto windows = channel.FindWindows("TfrmMain");
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(channel.Send(windows[0], Named(kMsgGetAppID), 5000), 4242);
    EXPECT_EQ(channel.Send(windows[0], Named(kMsgIfBusy, -7, 1LL << 40), 5000), 0);

    const auto received = handler.Received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0], Named(kMsgGetAppID));
    EXPECT_EQ(received[1], Named(kMsgIfBusy, -7, 1LL << 40));
}

TEST_F(LinuxInstanceChannelTest, ForwardedTextsArriveByteExact) {
    LinuxInstanceChannel channel = Channel();
    auto listener = channel.Listen("TfrmMain");
    ASSERT_NE(listener, nullptr);
    RecordingHandler handler(1);
    ServingThread serving(*listener, handler.Handler());
    const auto windows = channel.FindWindows("TfrmMain");
    ASSERT_EQ(windows.size(), 1u);

    std::string path = "/home/j\xC3\xBCrgen/\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF/\xF0\x9F\x93\x81 file";
    while (path.size() < 5000) {
        path += "/n\xC3\xA4me";
    }
    const InstanceMessage text = MakeCopyDataMessage(path);
    EXPECT_EQ(channel.Send(windows[0], text, 5000), 0);

    // The largest record the codec carries needs many partial writes and reads.
    InstanceMessage big;
    big.Name = std::string(kMsgCopyData);
    big.HasData = true;
    big.DataTag = 0x1122334455667788ull;
    for (std::size_t i = 0; i < kMaxInstanceData; ++i) {
        big.Data.push_back(static_cast<char>((i * 131) >> 3));
    }
    EXPECT_EQ(channel.Send(windows[0], big, 10000), 0);

    const auto received = handler.Received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0], text);
    EXPECT_EQ(TextFromCopyData(received[0]), path);
    EXPECT_TRUE(received[1] == big);
}

TEST_F(LinuxInstanceChannelTest, AListenerThatNeverServesTimesOut) {
    LinuxInstanceChannel channel = Channel();
    auto listener = channel.Listen("TfrmMain");
    ASSERT_NE(listener, nullptr);
    const auto windows = channel.FindWindows("TfrmMain");
    ASSERT_EQ(windows.size(), 1u);

    const auto start = SteadyClock::now();
    EXPECT_EQ(channel.Send(windows[0], Named(kMsgGetAppID), 400), std::nullopt);
    const auto took = SteadyClock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(380));
    EXPECT_LT(took, std::chrono::milliseconds(1400));
}

TEST_F(LinuxInstanceChannelTest, GarbageNeverHurtsTheListener) {
    LinuxInstanceChannel channel = Channel();
    auto listener = channel.Listen("TfrmMain");
    ASSERT_NE(listener, nullptr);
    RecordingHandler handler(99);
    ServingThread serving(*listener, handler.Handler());
    const auto windows = channel.FindWindows("TfrmMain");
    ASSERT_EQ(windows.size(), 1u);
    const std::string& path = windows[0].Address;

    std::string valid = EncodeInstanceRequest(Named(kMsgGetAppID));
    std::string badMagic = valid;
    badMagic[0] = 'X';
    std::string oversized = valid.substr(0, 4) + std::string("\xFF\xFF\xFF\x7F", 4);
    std::string trailing = valid;
    trailing[4] = static_cast<char>(trailing[4] + 1);
    trailing += 'x';
    std::string corruptBody = valid;
    corruptBody[8] = '\xFF';  // a name longer than the frame holds
    for (const std::string& bytes :
         {std::string("garbage that is no frame at all"), badMagic, oversized, trailing, corruptBody,
          valid.substr(0, 5), valid.substr(0, valid.size() - 1)}) {
        const int fd = ConnectRaw(path);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
        ::shutdown(fd, SHUT_WR);
        // Dropped without a reply: the listener closes, and we read end of file
        // (or a reset, when it left some of our bytes unread).
        pollfd p{fd, POLLIN, 0};
        EXPECT_EQ(::poll(&p, 1, 5000), 1);
        char reply[kInstanceReplySize];
        EXPECT_LE(::recv(fd, reply, sizeof reply, 0), 0);
        ::close(fd);
    }
    EXPECT_TRUE(handler.Received().empty());

    // A sender that stalls mid-frame is cut off after the listener's own limit, not ours.
    const int stalled = ConnectRaw(path);
    ASSERT_GE(stalled, 0);
    ASSERT_EQ(::send(stalled, valid.data(), 10, MSG_NOSIGNAL), 10);
    EXPECT_EQ(channel.Send(windows[0], Named(kMsgGetAppID), kInstanceServeTimeoutMs + 3000), 99);
    ::close(stalled);
    EXPECT_EQ(channel.Send(windows[0], Named(kMsgGetAppID), 2000), 99);
    EXPECT_EQ(handler.Received().size(), 2u);
}

TEST_F(LinuxInstanceChannelTest, FindWindowsListsTheClassInNameOrder) {
    LinuxInstanceChannel channel = Channel();
    auto first = channel.Listen("TfrmMain");
    auto second = channel.Listen("TfrmMain");
    auto other = channel.Listen("TfrmOther");
    auto dotted = channel.Listen("TfrmMain.Sub");
    ASSERT_TRUE(first && second && other && dotted);
    RecordingHandler firstHandler(1);
    RecordingHandler secondHandler(2);
    RecordingHandler otherHandler(3);
    ServingThread servingFirst(*first, firstHandler.Handler());
    ServingThread servingSecond(*second, secondHandler.Handler());
    ServingThread servingOther(*other, otherHandler.Handler());

    const auto windows = channel.FindWindows("TfrmMain");
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_LT(windows[0].Address, windows[1].Address);
    std::set<std::int64_t> ids;
    for (const auto& window : windows) {
        const auto id = channel.Send(window, Named(kMsgGetAppID), 5000);
        ASSERT_TRUE(id.has_value());
        ids.insert(*id);
    }
    EXPECT_EQ(ids, (std::set<std::int64_t>{1, 2}));

    const auto others = channel.FindWindows("TfrmOther");
    ASSERT_EQ(others.size(), 1u);
    EXPECT_EQ(channel.Send(others[0], Named(kMsgGetAppID), 5000), 3);
    EXPECT_TRUE(channel.FindWindows("TfrmNone").empty());
}

TEST_F(LinuxInstanceChannelTest, InstallationsDoNotSeeEachOther) {
    LinuxInstanceChannel mine = Channel();
    LinuxInstanceChannel theirs = Channel("{another installation}");
    auto listener = mine.Listen("TfrmMain");
    ASSERT_NE(listener, nullptr);
    EXPECT_EQ(mine.FindWindows("TfrmMain").size(), 1u);
    EXPECT_TRUE(theirs.FindWindows("TfrmMain").empty());
}

TEST_F(LinuxInstanceChannelTest, StaleSocketsOfDeadProcessesAreSkippedAndRemoved) {
    // A real process listens and dies without cleaning up behind itself.
    ForkedChild dead([&] {
        LinuxInstanceChannel channel(kInstallation, FEnv.Lookup());
        auto listener = channel.Listen("TfrmMain");
        if (!listener) {
            return 1;
        }
        ::_exit(0);
    });
    ASSERT_EQ(dead.WaitExit(10000), 0);
    LinuxInstanceChannel channel = Channel();
    const std::string folder = channel.SocketFolder("TfrmMain", false);
    ASSERT_FALSE(folder.empty());
    ASSERT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);

    auto live = channel.Listen("TfrmMain");
    ASSERT_NE(live, nullptr);
    RecordingHandler handler(5);
    ServingThread serving(*live, handler.Handler());
    const auto start = SteadyClock::now();
    const auto windows = channel.FindWindows("TfrmMain");
    EXPECT_LT(SteadyClock::now() - start, std::chrono::milliseconds(1000));
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(channel.Send(windows[0], Named(kMsgGetAppID), 5000), 5);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

TEST_F(LinuxInstanceChannelTest, SendingToAGoneWindowFailsAtOnce) {
    LinuxInstanceChannel channel = Channel();
    InstanceEndpoint gone;
    {
        auto listener = channel.Listen("TfrmMain");
        ASSERT_NE(listener, nullptr);
        const auto windows = channel.FindWindows("TfrmMain");
        ASSERT_EQ(windows.size(), 1u);
        gone = windows[0];
    }
    // The listener took its socket file with it.
    EXPECT_FALSE(fs::exists(gone.Address));
    EXPECT_TRUE(channel.FindWindows("TfrmMain").empty());
    const auto start = SteadyClock::now();
    EXPECT_EQ(channel.Send(gone, Named(kMsgGetAppID), 5000), std::nullopt);
    EXPECT_EQ(channel.Send(InstanceEndpoint{FRuntime.Path() + "/nothing.sock"}, Named(kMsgGetAppID), 5000),
              std::nullopt);
    EXPECT_EQ(channel.Send(InstanceEndpoint{std::string(200, 'x')}, Named(kMsgGetAppID), 5000), std::nullopt);
    EXPECT_LT(SteadyClock::now() - start, std::chrono::milliseconds(500));
}

TEST_F(LinuxInstanceChannelTest, APeerThatHangsUpRaisesNoSigpipe) {
    // A socket that accepts and closes at once, while the sender still writes a large record.
    const std::string path = FRuntime.Path() + "/rude.sock";
    const int server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(server, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(server, 4), 0);
    std::thread rude([server] {
        const int client = ::accept(server, nullptr, nullptr);
        ::close(client);
    });
    InstanceMessage big = MakeCopyDataMessage(std::string(400000, 'x'));
    EXPECT_EQ(Channel().Send(InstanceEndpoint{path}, big, 5000), std::nullopt);
    rude.join();
    ::close(server);
}

TEST_F(LinuxInstanceChannelTest, LongInstallationIdsStillFitASocketAddress) {
    const std::string longId(150, 'L');
    LinuxInstanceChannel channel = Channel(longId);
    const std::string folder = channel.SocketFolder("TfrmMain", true);
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.find(longId.substr(0, 40)), std::string::npos);
    auto listener = channel.Listen("TfrmMain");
    ASSERT_NE(listener, nullptr);
    RecordingHandler handler(8);
    ServingThread serving(*listener, handler.Handler());
    const auto windows = channel.FindWindows("TfrmMain");
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_LT(windows[0].Address.size(), sizeof(sockaddr_un::sun_path));
    EXPECT_EQ(channel.Send(windows[0], Named(kMsgGetAppID), 5000), 8);
    // Another id of the same length lands elsewhere.
    EXPECT_TRUE(Channel(std::string(150, 'M')).FindWindows("TfrmMain").empty());
}

TEST_F(LinuxInstanceChannelTest, SocketFoldersArePrivate) {
    LinuxInstanceChannel channel = Channel();
    auto listener = channel.Listen("TfrmMain");
    ASSERT_NE(listener, nullptr);
    const std::string folder = channel.SocketFolder("TfrmMain", false);
    EXPECT_EQ(fs::path(folder).parent_path(), fs::path(FRuntime.Path()));
    EXPECT_EQ(fs::path(folder).filename(), "cloakline-_6A1D5E0B-9C3F-4E2A-B7D8-0F1E2D3C4B5A_");
    EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST(LinuxInstanceChannelFolders, PrivateFoldersRefuseLinksAndStrangers) {
    TempDir dir;
    const std::string fresh = dir.Path() + "/fresh";
    EXPECT_TRUE(PreparePrivateFolder(fresh, true));
    EXPECT_EQ(fs::status(fresh).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_FALSE(PreparePrivateFolder(dir.Path() + "/absent", false));
    EXPECT_FALSE(fs::exists(dir.Path() + "/absent"));

    const std::string loose = dir.Path() + "/loose";
    fs::create_directory(loose);
    fs::permissions(loose, fs::perms::all);
    EXPECT_TRUE(PreparePrivateFolder(loose, true));
    EXPECT_EQ(fs::status(loose).permissions() & fs::perms::all, fs::perms::owner_all);

    fs::create_directory_symlink(fresh, dir.Path() + "/link");
    EXPECT_FALSE(PreparePrivateFolder(dir.Path() + "/link", true));
    dir.WriteFile("file", "x");
    EXPECT_FALSE(PreparePrivateFolder(dir.Path() + "/file", true));

    if (::geteuid() == 0) {
        const std::string foreign = dir.Path() + "/foreign";
        fs::create_directory(foreign);
        ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
        EXPECT_FALSE(PreparePrivateFolder(foreign, true));
    }
}

TEST(LinuxInstanceChannelFolders, WithoutAUsableRuntimeFolderTmpServes) {
    TempDir dir;
    FakeEnv broken{{"XDG_RUNTIME_DIR", dir.Path() + "/missing"}};
    FakeEnv relative{{"XDG_RUNTIME_DIR", "relative/dir"}};
    const std::string expected = "/tmp/cloakline-" + std::to_string(::geteuid());
    EXPECT_EQ(LinuxInstanceChannel(kInstallation, broken.Lookup()).RuntimeFolder(true), expected);
    EXPECT_EQ(LinuxInstanceChannel(kInstallation, relative.Lookup()).RuntimeFolder(false), expected);
    struct stat st {};
    ASSERT_EQ(::lstat(expected.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, ::geteuid());
}

TEST_F(LinuxInstanceChannelTest, TwoProcessesTalk) {
    SignalPipe ready;
    const std::string forwarded = "/home/u/Documents/\xC3\xA9t\xC3\xA9 2024/report.skn";
    ForkedChild first([&] {
        LinuxInstanceChannel channel(kInstallation, FEnv.Lookup());
        auto listener = channel.Listen("TfrmMain");
        if (!listener) {
            return 1;
        }
        ready.Notify();
        bool closing = false;
        std::string received;
        const auto deadline = SteadyClock::now() + std::chrono::seconds(20);
        while (!closing && SteadyClock::now() < deadline) {
            pollfd p{static_cast<int>(listener->NativeHandle()), POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) {
                listener->ServePending([&](const InstanceMessage& message) -> std::int64_t {
                    if (message.Name == kMsgGetAppID) {
                        return 777;
                    }
                    if (message.Name == kMsgCopyData) {
                        received = TextFromCopyData(message).value_or("");
                    }
                    closing = message.Name == kMsgCloseApp;
                    return 0;
                });
            }
        }
        return closing && received == forwarded ? 0 : 2;
    });
    ASSERT_TRUE(ready.Wait(10000).has_value());

    LinuxInstanceChannel channel = Channel();
    const auto windows = channel.FindWindows("TfrmMain");
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_NE(windows[0].Address.find("." + std::to_string(first.Pid()) + ".sock"), std::string::npos);
    EXPECT_EQ(channel.Send(windows[0], Named(kMsgGetAppID), 5000), 777);
    EXPECT_EQ(channel.Send(windows[0], MakeCopyDataMessage(forwarded), 5000), 0);
    EXPECT_EQ(channel.Send(windows[0], Named(kMsgCloseApp), 5000), 0);
    EXPECT_EQ(first.WaitExit(10000), 0);
    // It ended normally, so its listener removed its socket.
    EXPECT_TRUE(channel.FindWindows("TfrmMain").empty());
}

}  // namespace
}  // namespace cloakline
