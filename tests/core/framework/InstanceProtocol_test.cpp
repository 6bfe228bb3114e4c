#include <gtest/gtest.h>

#include <deque>
#include <map>

#include "core/framework/CommandLineSwitches.h"
#include "core/framework/InstanceMessage.h"
#include "core/framework/KTInstanceClient.h"
#include "core/framework/KTInstanceReceiver.h"

namespace cloakline {
namespace {

TEST(InstanceMessageTest, RequestsRoundTripAndGarbageIsRejected) {
    InstanceMessage m = MakeCopyDataMessage("/home/\xC3\xA9l\xC3\xA8ve/My File \xF0\x9F\x98\x80.txt");
    m.WParam = -5;
    m.LParam = 1LL << 40;
    const std::string frame = EncodeInstanceRequest(m);
    ASSERT_EQ(InstanceRequestSize(frame.substr(0, kInstanceHeaderSize)), frame.size());
    EXPECT_EQ(DecodeInstanceRequest(frame), m);

    EXPECT_FALSE(DecodeInstanceRequest(frame.substr(0, frame.size() - 1)));
    EXPECT_FALSE(DecodeInstanceRequest(frame + "x"));
    std::string badMagic = frame;
    badMagic[0] = 'X';
    EXPECT_FALSE(DecodeInstanceRequest(badMagic));
    EXPECT_FALSE(InstanceRequestSize("KTIM\xFF\xFF\xFF\x7F"))
        << "oversized bodies are refused from the header";
    EXPECT_FALSE(InstanceRequestSize("KTI"));
    std::string lying = frame;
    lying[kInstanceHeaderSize] = '\x7F';  // name size beyond the frame
    EXPECT_FALSE(DecodeInstanceRequest(lying));

    EXPECT_EQ(DecodeInstanceReply(EncodeInstanceReply(-1)), -1);
    EXPECT_EQ(DecodeInstanceReply(EncodeInstanceReply(31)), 31);
    EXPECT_FALSE(DecodeInstanceReply("KTIR1234"));
}

TEST(InstanceMessageTest, ForwardedTextIsItsUtf16CodeUnits) {
    // "é" is one unit, the emoji two (a surrogate pair).
    const InstanceMessage m = MakeCopyDataMessage("a\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(m.DataTag, 0u);
    EXPECT_EQ(m.Data.size(), 8u);
    EXPECT_EQ(m.Data.substr(0, 4), std::string("a\0\xE9\0", 4));
    EXPECT_EQ(TextFromCopyData(m), "a\xC3\xA9\xF0\x9F\x98\x80");
    InstanceMessage noData;
    noData.Name = std::string(kMsgCopyData);
    EXPECT_FALSE(TextFromCopyData(noData));
}

// A channel whose windows answer from a script and which records what was sent.
class ScriptedChannel : public IInstanceChannel {
  public:
    struct Window {
        std::string Class;
        std::map<std::string, std::int64_t> Replies;  // a name missing here gets no answer
    };
    std::vector<Window> Windows;
    mutable std::vector<std::pair<std::string, InstanceMessage>> Sent;

    std::vector<InstanceEndpoint> FindWindows(std::string_view className) const override {
        std::vector<InstanceEndpoint> found;
        for (std::size_t i = 0; i < Windows.size(); ++i) {
            if (Windows[i].Class == className) {
                found.push_back({std::to_string(i)});
            }
        }
        return found;
    }
    std::optional<std::int64_t> Send(const InstanceEndpoint& w,
                                     const InstanceMessage& m,
                                     int) const override {
        Sent.emplace_back(w.Address, m);
        const auto& replies = Windows[std::stoul(w.Address)].Replies;
        auto it = replies.find(m.Name);
        return it == replies.end() ? std::nullopt : std::optional<std::int64_t>(it->second);
    }
    std::unique_ptr<IInstanceListener> Listen(std::string_view) override { return nullptr; }

    std::vector<std::string> SentTo(const std::string& address) const {
        std::vector<std::string> names;
        for (const auto& [a, m] : Sent) {
            if (a == address) {
                names.push_back(m.Name);
            }
        }
        return names;
    }
};

TEST(InstanceClientTest, FindsTheFirstWindowWithOurAppId) {
    ScriptedChannel channel;
    channel.Windows = {{"TfrmMain", {{"KT GetAppID", 7}}},
                       {"TfrmOther", {{"KT GetAppID", 42}}},
                       {"TfrmMain", {}},
                       {"TfrmMain", {{"KT GetAppID", 42}}},
                       {"TfrmMain", {{"KT GetAppID", 42}}}};
    TInstanceClient client(channel, 42, 1000);
    const auto found = client.FindRunningInstance("TfrmMain");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->Address, "3");
    EXPECT_TRUE(channel.SentTo("1").empty()) << "another class is never asked";
    EXPECT_TRUE(channel.SentTo("4").empty()) << "the walk stops at the first match";

    TInstanceClient stranger(channel, 99, 1000);
    EXPECT_FALSE(stranger.FindRunningInstance("TfrmMain"));
}

TEST(InstanceClientTest, ActivationSteps) {
    struct Row {
        const char* name;
        std::map<std::string, std::int64_t> replies;
        std::vector<std::string> expected;
    };
    const Row rows[] = {
        {"busy instance is left alone", {{"KT GetAppID", 1}, {"KT IfBusy", 1}}, {"KT GetAppID", "KT IfBusy"}},
        {"restored from the tray",
         {{"KT GetAppID", 1}, {"KT IfBusy", 0}, {"KT BringtoFront", 1}},
         {"KT GetAppID", "KT IfBusy", "KT BringtoFront"}},
        {"forced to the front",
         {{"KT GetAppID", 1}, {"KT IfBusy", 0}, {"KT BringtoFront", 0}},
         {"KT GetAppID", "KT IfBusy", "KT BringtoFront", "KT ForceForeground"}},
        {"no answer to IfBusy still tries",
         {{"KT GetAppID", 1}},
         {"KT GetAppID", "KT IfBusy", "KT BringtoFront", "KT ForceForeground"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedChannel channel;
        channel.Windows = {{"TfrmMain", row.replies}};
        TInstanceClient(channel, 1, 1000).ActivateRunningInstance("TfrmMain");
        EXPECT_EQ(channel.SentTo("0"), row.expected);
    }
}

TEST(InstanceClientTest, CloseAndForwardOnlyReachAMatchingInstance) {
    ScriptedChannel channel;
    channel.Windows = {{"TfrmMain", {{"KT GetAppID", 5}}}};
    TInstanceClient wrong(channel, 6, 1000);
    wrong.CloseRunningInstance("TfrmMain");
    wrong.SendToRunningInstance("TfrmMain", "x");
    EXPECT_EQ(channel.SentTo("0"), (std::vector<std::string>{"KT GetAppID", "KT GetAppID"}));

    channel.Sent.clear();
    TInstanceClient right(channel, 5, 1000);
    right.CloseRunningInstance("TfrmMain");
    right.SendToRunningInstance("TfrmMain", "C:\\x y\\z.txt");
    ASSERT_EQ(channel.Sent.size(), 4u);
    EXPECT_EQ(channel.Sent[1].second.Name, "KT CloseApp");
    EXPECT_EQ(channel.Sent[3].second, MakeCopyDataMessage("C:\\x y\\z.txt"));
}

TEST(InstanceReceiverTest, DispatchFollowsTheProtocol) {
    std::vector<std::string> calls;
    std::deque<InstanceMessage> posted;
    bool hasTray = false;
    InstanceReceiverHooks hooks;
    hooks.AppId = [] { return 77; };
    hooks.CloseApp = [&] { calls.push_back("close"); };
    hooks.InitPost = [&] { calls.push_back("initpost"); };
    hooks.BringToFront = [&] { return hasTray; };
    hooks.PostToSelf = [&](const InstanceMessage& m) { posted.push_back(m); };
    hooks.QueryEndSession = [&] { calls.push_back("queryend"); };
    hooks.Original = [&](const InstanceMessage& m) {
        calls.push_back("original:" + m.Name);
        return std::int64_t{-3};
    };
    TInstanceReceiver r(hooks);
    auto named = [](std::string_view name) {
        InstanceMessage m;
        m.Name = std::string(name);
        return m;
    };

    EXPECT_EQ(r.Dispatch(named(kMsgGetAppID)), 77);
    EXPECT_EQ(r.Dispatch(named(kMsgIfBusy)), 1);
    r.FInInited = false;
    EXPECT_EQ(r.Dispatch(named(kMsgIfBusy)), 0);
    EXPECT_EQ(r.Dispatch(named(kMsgBringToFront)), 0);
    hasTray = true;
    EXPECT_EQ(r.Dispatch(named(kMsgBringToFront)), 1);
    EXPECT_EQ(r.Dispatch(named(kMsgCloseApp)), 0);
    EXPECT_EQ(r.Dispatch(named(kMsgInitPost)), 0);

    // Forwarded text: stored, then handed to the handler from the posted message.
    EXPECT_EQ(r.Dispatch(MakeCopyDataMessage("/tmp/a b.txt")), 0);
    EXPECT_EQ(r.FParamFile, "/tmp/a b.txt");
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(r.Dispatch(posted.front()), -3) << "without a handler CmdParam goes to the window";
    std::string received;
    r.FOnCmdFile = [&](const std::string& f) { received = f; };
    EXPECT_EQ(r.Dispatch(posted.front()), 0);
    EXPECT_EQ(received, "/tmp/a b.txt");

    EXPECT_EQ(r.Dispatch(named(kMsgCopyData)), -3) << "a record without data is the window's";
    EXPECT_EQ(r.Dispatch(named(kMsgQueryEndSession)), -3);
    EXPECT_EQ(r.Dispatch(named("Something else")), -3);
    EXPECT_EQ(calls, (std::vector<std::string>{"close", "initpost", "original:KT CmdParam",
                                               "original:WM_COPYDATA", "queryend",
                                               "original:WM_QUERYENDSESSION", "original:Something else"}));
}

TEST(CommandLineSwitchesTest, SwitchesAfterDashOrSlashInAnyCase) {
    const TCommandLineSwitches s({"file.txt", "-S", "/d", "h", "--x", "/Ab"});
    EXPECT_TRUE(s.Has('s'));
    EXPECT_TRUE(s.Has('S'));
    EXPECT_TRUE(s.Has('d'));
    EXPECT_FALSE(s.Has('h')) << "no switch without - or /";
    EXPECT_FALSE(s.Has('x'));
    EXPECT_FALSE(s.Has('a'));
    ASSERT_NE(s.ForwardableParameter(), nullptr);
    EXPECT_EQ(*s.ForwardableParameter(), "file.txt");
}

TEST(CommandLineSwitchesTest, WhichFirstParameterIsHandedOn) {
    struct Row {
        std::vector<std::string> args;
        bool slashBeginsPaths;
        const char* forwarded;
    };
    const Row rows[] = {
        {{}, false, nullptr},
        {{"-s", "file"}, false, nullptr},
        {{"/s"}, true, nullptr},
        {{"/home/user/My File.txt"}, false, nullptr},
        {{"/home/user/My File.txt", "-d"}, true, "/home/user/My File.txt"},
        {{"C:\\Docs\\a.txt"}, false, "C:\\Docs\\a.txt"},
        {{""}, false, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args.empty() ? "(none)" : row.args.front());
        const TCommandLineSwitches s(row.args, row.slashBeginsPaths);
        if (row.forwarded == nullptr) {
            EXPECT_EQ(s.ForwardableParameter(), nullptr);
        } else {
            ASSERT_NE(s.ForwardableParameter(), nullptr);
            EXPECT_EQ(*s.ForwardableParameter(), row.forwarded);
        }
    }
}

TEST(CommandLineSwitchesTest, DebugMode) {
    // enabled, keys, disabled, switch d -> debug
    const bool rows[][5] = {
        {false, false, false, false, false}, {true, false, false, false, true},
        {false, true, false, false, true},   {true, false, true, false, false},
        {false, true, true, false, false},   {false, false, true, true, true},
        {true, true, true, true, true},      {false, false, false, true, true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r[0] << r[1] << r[2] << r[3]);
        EXPECT_EQ(DecideDebugMode(r[0], r[1], r[2], r[3]), r[4]);
    }
}

}  // namespace
}  // namespace cloakline
