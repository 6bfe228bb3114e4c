#include "net/SingleDownloader.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "net/HttpGet.h"
#include "platform/linux/LinuxFileSystem.h"
#include "tests/net/LoopDispatcher.h"
#include "tests/support/FakeDataFolders.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/TinyProxy.h"

namespace cloakline {
namespace {

using namespace std::chrono_literals;
using test::TLoopbackHttpServer;
using test::TScriptedResponse;
using test::TTinyProxy;

constexpr auto kWait = 20s;

TScriptedResponse Reply(const std::function<void(TScriptedResponse&)>& edit) {
    TScriptedResponse response;
    edit(response);
    return response;
}

// The desktop's proxy as the test sets it.
class TFixedProxy : public ISystemProxy {
  public:
    bool ApplyProxy(std::string_view proxy) override {
        Proxy = proxy;
        return true;
    }
    std::string CurrentProxy() const override { return Proxy; }
    std::string Proxy;
};

class SingleDownloaderTest : public ::testing::Test {
  protected:
    SingleDownloaderTest() {
        auto folders = std::make_unique<test::FakeDataFolders>();
        folders->TempDir = Temp.ProgramPath("tmp") + "\\";
        Temp.Sub("tmp/.keep");
        std::filesystem::remove(Temp.Path() + "/tmp/.keep");
        System.Folders = std::move(folders);
        System.Files = std::make_unique<LinuxFileSystem>();
        auto proxy = std::make_unique<TFixedProxy>();
        Proxy = proxy.get();
        System.SystemProxy = std::move(proxy);
    }

    std::unique_ptr<TSingleDownloader> Make(TDownloaderOptions options = {}) {
        TDownloaderContext context;
        context.Dispatcher = Loop;
        context.System = &System;
        context.Pump = &Pump;
        context.Tracker = Tracker;
        context.Options = std::move(options);
        auto d = std::make_unique<TSingleDownloader>(std::move(context));
        d->OnDoneString = [this](TSingleDownloader& sender, const std::string& text) {
            Record(sender, "string:" + text);
        };
        d->OnDoneFile = [this](TSingleDownloader& sender, const std::string& path, std::int32_t size) {
            Record(sender, "file:" + path + ":" + std::to_string(size));
        };
        d->OnError = [this](TSingleDownloader& sender) { Record(sender, "error"); };
        return d;
    }

    void Record(TSingleDownloader& sender, std::string event) {
        EXPECT_TRUE(Loop->IsMainThread());
        Senders.push_back(&sender);
        Events.push_back(std::move(event));
    }

    // Runs the main thread until count events came, then a little longer so
    // that an event too many would show.
    void RunFor(std::size_t count) {
        ASSERT_TRUE(Loop->RunUntil([&] { return Events.size() >= count; }, kWait)) << Events.size();
        Loop->RunUntil([] { return false; }, 100ms);
    }

    // The worker of an aborted request is gone, its temporary file with it.
    void WaitForWorkers() { ASSERT_TRUE(Tracker->WaitAll(kWait)); }

    // Temporary files of downloads, which lie beside their targets; and
    // anything at all in the shared temporary folder.
    std::vector<std::string> TempFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(Temp.Path())) {
            const std::string name = entry.path().filename().string();
            if ((name.starts_with(".") && name.ends_with(".tmp")) ||
                entry.path().parent_path() == std::filesystem::path(Temp.Path() + "/tmp")) {
                names.push_back(name);
            }
        }
        return names;
    }

    struct TPump : IMessagePump {
        explicit TPump(test::TLoopDispatcher& loop) : Loop(loop) {}
        void ProcessUntil(const std::function<bool()>& done) override { Loop.RunUntil(done, kWait); }
        test::TLoopDispatcher& Loop;
    };

    const TCurlGlobal Curl;
    const std::shared_ptr<test::TLoopDispatcher> Loop = test::TLoopDispatcher::Create();
    const std::shared_ptr<TWorkerTracker> Tracker = TWorkerTracker::Create();
    TPump Pump{*Loop};
    test::TempDir Temp;
    Platform System;
    TFixedProxy* Proxy = nullptr;
    TLoopbackHttpServer Server;
    std::vector<std::string> Events;
    std::vector<TSingleDownloader*> Senders;
};

TEST_F(SingleDownloaderTest, TextRequestIsAnHttp10GetWhoseBodyArrivesOnTheMainThread) {
    Server.Script("/page", Reply([&](TScriptedResponse& r) {
                      r.Status = 404;
                      r.Body = "not here";
                  }));
    auto d = Make();
    std::vector<std::string> logs;
    std::mutex logMutex;
    d->OnLog = [&](const std::string& line) {
        const std::lock_guard lock(logMutex);
        logs.push_back(line);
    };
    d->URL = Server.Url("/page?q=1");
    d->GetString();
    RunFor(1);

    // An error page with a body is an answer like any other.
    EXPECT_EQ(Events, std::vector<std::string>{"string:not here"});
    EXPECT_EQ(Senders.front(), d.get());
    EXPECT_TRUE(d->Result());
    const auto request = Server.Requests().at(0);
    EXPECT_EQ(request.Method, "GET");
    EXPECT_EQ(request.Version, "HTTP/1.0");
    EXPECT_EQ(request.Target, "/page?q=1");
    EXPECT_EQ(request.Header("Accept"), "*/*");
    EXPECT_EQ(request.Header("Pragma"), "no-cache") << "plain HTTP without the cache is reloaded";
    EXPECT_EQ(request.Header("User-Agent"), "") << "no agent unless one is set";
    const std::string authority = "127.0.0.1:" + std::to_string(Server.Port());
    const std::lock_guard lock(logMutex);
    EXPECT_EQ(logs, (std::vector<std::string>{"ParseURL: " + d->URL, "ParseURL: " + authority,
                                              "ParseURL: /page?q=1", "GET", "HttpOpenRequest ok!"}));
}

TEST_F(SingleDownloaderTest, CacheAgentReferrerAndAcceptTypeShapeTheRequest) {
    Server.Script("/x", Reply([&](TScriptedResponse& r) { r.Body = "ok"; }));
    auto d = Make();
    d->URL = Server.Url("/x");
    d->UseCache = true;
    d->Agent = "Cloakline/1";
    d->Referer = "http://ref.example/";
    d->AcceptTypes = "";
    d->GetString();
    RunFor(1);
    const auto request = Server.Requests().at(0);
    EXPECT_EQ(request.Header("Pragma"), "");
    EXPECT_EQ(request.Header("Cache-Control"), "");
    EXPECT_EQ(request.Header("User-Agent"), "Cloakline/1");
    EXPECT_EQ(request.Header("Referer"), "http://ref.example/");
    EXPECT_EQ(request.Header("Accept"), "*");
}

TEST_F(SingleDownloaderTest, FileArrivesWholeInAFolderMadeForItWithProgressOnTheMainThread) {
    const std::string body(100, 'f');
    Server.Script("/flag.png", Reply([&](TScriptedResponse& r) {
                      r.Body = body;
                      r.SplitAt = 40;
                      r.DelayMidBody = 50ms;
                  }));
    auto d = Make();
    std::vector<std::pair<std::int32_t, std::int32_t>> progress;
    const TSingleDownloaderThread* worker = nullptr;
    d->OnProgress = [&](TSingleDownloaderThread& sender, std::int32_t total, std::int32_t readed) {
        EXPECT_TRUE(Loop->IsMainThread());
        worker = &sender;
        progress.emplace_back(total, readed);
    };
    const std::string target = Temp.ProgramPath("new/deeper/flag.png");
    d->URL = Server.Url("/flag.png");
    d->FileName = target;
    d->BinaryData = true;
    d->GetFile();
    d->FileName = "changed after the start";
    RunFor(1);

    EXPECT_EQ(Events, std::vector<std::string>{"file:" + target + ":100"});
    EXPECT_EQ(Temp.ReadFile("new/deeper/flag.png"), body);
    ASSERT_GE(progress.size(), 2u);
    EXPECT_EQ(progress.back(), std::make_pair(100, 100));
    EXPECT_EQ(progress.front().first, 100);
    EXPECT_NE(worker, nullptr);
    EXPECT_NE(static_cast<const void*>(worker), static_cast<const void*>(d.get()));
    WaitForWorkers();
    EXPECT_TRUE(TempFiles().empty()) << "the temporary file is removed";
}

TEST_F(SingleDownloaderTest, AFailedFileTransferNeverTouchesTheTarget) {
    Server.Script("/nolength", Reply([&](TScriptedResponse& r) {
                      r.Body = "abc";
                      r.AnnounceLength = false;
                  }));
    Server.Script("/cut", Reply([&](TScriptedResponse& r) {
                      r.Body = std::string(5000, 'c');
                      r.SplitAt = 100;
                      r.CloseMidBody = true;
                  }));
    Server.Script("/missing", Reply([&](TScriptedResponse& r) {
                      r.Status = 404;
                      r.Body = "<html>not here</html>";
                  }));
    Temp.WriteFile("old.bin", "old");
    struct TCase {
        std::string Url;
        bool Binary;
    };
    const std::vector<TCase> cases = {
        {Server.Url("/nolength"), true},                                                  // length required
        {Server.Url("/cut"), false},                                                      // cut short
        {Server.Url("/missing"), false},                                                  // an error page
        {"http://127.0.0.1:" + std::to_string(test::UnusedLoopbackPort()) + "/", false},  // unreachable
        {"127.0.0.1", false},  // nothing after the host: no server name
    };
    auto d = Make();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].Url);
        d->URL = cases[i].Url;
        d->BinaryData = cases[i].Binary;
        d->FileName = Temp.ProgramPath("old.bin");
        d->GetFile();
        RunFor(i + 1);
        EXPECT_EQ(Events.back(), "error");
        EXPECT_FALSE(d->Result());
        EXPECT_EQ(Temp.ReadFile("old.bin"), "old");
    }
    WaitForWorkers();
    EXPECT_TRUE(TempFiles().empty());

    // Without BinaryData an unannounced length is fine once data came.
    d->URL = Server.Url("/nolength");
    d->BinaryData = false;
    d->GetFile();
    RunFor(cases.size() + 1);
    EXPECT_EQ(Events.back(), "file:" + Temp.ProgramPath("old.bin") + ":0");
    EXPECT_EQ(Temp.ReadFile("old.bin"), "abc");
}

TEST_F(SingleDownloaderTest, TextFailuresAreErrorsAndTheCharsetDecodes) {
    Server.Script("/empty", Reply([&](TScriptedResponse& r) { r.Body = ""; }));
    Server.Script("/big", Reply([&](TScriptedResponse& r) { r.Body = std::string(3000, 'b'); }));
    Server.Script("/utf16", Reply([&](TScriptedResponse& r) { r.Body = std::string("h\0i\0!", 5); }));
    TDownloaderOptions options;
    options.MaxTextBytes = 2000;
    auto d = Make(options);
    d->URL = Server.Url("/empty");
    d->GetString();
    RunFor(1);
    d->URL = Server.Url("/big");
    d->GetString();
    RunFor(2);
    EXPECT_EQ(Events, (std::vector<std::string>{"error", "error"}));

    d->URL = Server.Url("/utf16");
    d->HttpCharset = THttpCharset::KUnicode;
    d->GetString();
    RunFor(3);
    EXPECT_EQ(Events.back(), "string:hi");
}

TEST_F(SingleDownloaderTest, OneRequestAtATimeAndAbortSilencesIt) {
    auto gate = std::make_shared<test::TGate>();
    Server.Script("/slow", Reply([&](TScriptedResponse& r) {
                      r.Body = "late";
                      r.HoldBeforeHeaders = gate;
                  }));
    Server.Script("/fast", Reply([&](TScriptedResponse& r) { r.Body = "fast"; }));
    auto d = Make();
    d->URL = Server.Url("/slow");
    d->GetString();
    d->URL = Server.Url("/fast");
    d->GetString();  // dropped: busy
    ASSERT_TRUE(Server.WaitForRequests(1, kWait));
    EXPECT_TRUE(d->Busy());

    d->Abort();
    EXPECT_FALSE(d->Busy());
    d->GetString();  // the component is free again at once
    RunFor(1);
    EXPECT_EQ(Events, std::vector<std::string>{"string:fast"});

    gate->Open();
    ASSERT_TRUE(Server.WaitForFinished(2, kWait));
    WaitForWorkers();
    Loop->RunUntil([] { return false; }, 200ms);
    EXPECT_EQ(Events, std::vector<std::string>{"string:fast"}) << "nothing of the aborted request";
    EXPECT_EQ(Server.Requests().size(), 2u);

    // A component that goes away mid-transfer hears nothing either.
    auto gate2 = std::make_shared<test::TGate>();
    Server.Script("/slow", Reply([&](TScriptedResponse& r) {
                      r.Body = "late";
                      r.HoldBeforeHeaders = gate2;
                  }));
    d->URL = Server.Url("/slow");
    d->GetString();
    ASSERT_TRUE(Server.WaitForRequests(3, kWait));
    d.reset();
    gate2->Open();
    WaitForWorkers();
    Loop->RunUntil([] { return false; }, 200ms);
    EXPECT_EQ(Events.size(), 1u);
}

TEST_F(SingleDownloaderTest, WaitThreadReturnsOnceTheCompletionRan) {
    Server.Script("/x", Reply([&](TScriptedResponse& r) {
                      r.Body = "done";
                      r.DelayBeforeHeaders = 100ms;
                  }));
    auto d = Make();
    d->URL = Server.Url("/x");
    d->WaitThread = true;
    d->GetString();
    EXPECT_EQ(Events, std::vector<std::string>{"string:done"});
    EXPECT_FALSE(d->Busy());
}

TEST_F(SingleDownloaderTest, BodiesGoOutAsBuilt) {
    Server.Script("/post", Reply([&](TScriptedResponse& r) { r.Body = "ok"; }));
    auto d = Make();
    d->URL = Server.Url("/post");
    d->SetPostValues(TStringList{"a=x y", "b=1&2"});
    d->GetString();
    RunFor(1);
    auto request = Server.Requests().at(0);
    EXPECT_EQ(request.Method, "POST");
    EXPECT_EQ(request.Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(request.Body, "a=x+y&b=1%262");

    Temp.WriteFile("pic.png", std::string("\x89PNG\0\r\n", 7));
    ASSERT_TRUE(d->SetUploadFiles(TStringList{"v=1"}, TStringList{"f=" + Temp.ProgramPath("pic.png")}));
    d->GetString();
    RunFor(2);
    request = Server.Requests().at(1);
    EXPECT_EQ(request.Header("Content-Type"),
              "multipart/form-data; boundary=---------------------------989989989");
    EXPECT_EQ(request.Body, d->PostQuery);
    EXPECT_NE(request.Body.find(std::string("\x89PNG\0\r\n", 7)), std::string::npos);

    // An unreadable file leaves the body as it was.
    const std::string before = d->PostQuery;
    EXPECT_FALSE(d->SetUploadFiles(TStringList{}, TStringList{"f=" + Temp.ProgramPath("missing.png")}));
    EXPECT_EQ(d->PostQuery, before);

    d->SetPostValues(TStringList{});
    d->GetString();
    RunFor(3);
    EXPECT_EQ(Server.Requests().at(2).Method, "GET");
}

TEST_F(SingleDownloaderTest, RequestsTravelThroughTheDesktopsProxyReadAtEachStart) {
    TLoopbackHttpServer proxy;
    const std::string origin = "http://127.0.0.1:" + std::to_string(test::UnusedLoopbackPort());
    proxy.Script("/update", Reply([&](TScriptedResponse& r) { r.Body = "via proxy"; }));
    Proxy->Proxy = "127.0.0.1:" + std::to_string(proxy.Port());
    auto d = Make();
    d->URL = origin + "/update";
    d->GetString();
    RunFor(1);
    EXPECT_EQ(Events, std::vector<std::string>{"string:via proxy"});
    ASSERT_EQ(proxy.Requests().size(), 1u);
    EXPECT_EQ(proxy.Requests()[0].Target, origin + "/update");

    Proxy->Proxy.clear();  // back to a direct connection
    Server.Script("/direct", Reply([&](TScriptedResponse& r) { r.Body = "direct"; }));
    d->URL = Server.Url("/direct");
    d->GetString();
    RunFor(2);
    EXPECT_EQ(Events.back(), "string:direct");
    EXPECT_EQ(proxy.Requests().size(), 1u);
}

TEST_F(SingleDownloaderTest, ARealProxyCarriesTheTextAndTheErrorPageWithItsBody) {
    if (!TTinyProxy::Installed()) {
        GTEST_SKIP() << "needs tinyproxy (package tinyproxy, scripts/setup.sh)";
    }
    TTinyProxy tinyproxy(Temp);
    ASSERT_TRUE(tinyproxy.WaitListening(kWait));
    Server.Script("/update", Reply([&](TScriptedResponse& r) { r.Body = "magicword=w\r\nResult=0"; }));
    Server.Script("/gone", Reply([&](TScriptedResponse& r) {
                      r.Status = 404;
                      r.Body = "no such page";
                  }));
    Proxy->Proxy = tinyproxy.Proxy();
    auto d = Make();
    d->URL = Server.Url("/update?ACTION=Update");
    d->GetString();
    RunFor(1);
    d->URL = Server.Url("/gone");
    d->GetString();
    RunFor(2);
    EXPECT_EQ(Events, (std::vector<std::string>{"string:magicword=w\r\nResult=0", "string:no such page"}));
    const auto requests = Server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Target, "/update?ACTION=Update");
    EXPECT_NE(requests[0].Header("Via").find("tinyproxy"), std::string::npos) << "it came through the proxy";
}

// "openssl s_server" on loopback with a certificate made for the test.
class TTlsServer {
  public:
    // subjectAltName of the certificate, e.g. "IP:127.0.0.1".
    TTlsServer(const test::TempDir& dir, const std::string& name, const std::string& altName)
        : Cert(dir.Path() + "/" + name + ".pem"), FPort(test::UnusedLoopbackPort()) {
        const std::string key = dir.Path() + "/" + name + ".key";
        const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=" + name +
                                 " -addext subjectAltName=" + altName + " -keyout " + key + " -out " + Cert +
                                 " >/dev/null 2>&1";
        if (std::system(make.c_str()) != 0) {
            return;
        }
        const std::string accept = "127.0.0.1:" + std::to_string(FPort);
        FPid = ::fork();
        if (FPid == 0) {
            ::execlp("openssl", "openssl", "s_server", "-quiet", "-accept", accept.c_str(), "-cert",
                     Cert.c_str(), "-key", key.c_str(), "-www", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 100 && FPid > 0 && !FReady; ++i) {
            std::this_thread::sleep_for(50ms);
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(FPort);
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            FReady = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
            ::close(fd);
        }
    }
    ~TTlsServer() {
        if (FPid > 0) {
            ::kill(FPid, SIGKILL);
            ::waitpid(FPid, nullptr, 0);
        }
    }
    TTlsServer(const TTlsServer&) = delete;
    TTlsServer& operator=(const TTlsServer&) = delete;

    bool Ready() const { return FReady; }
    std::string Url() const { return "HTTPS://127.0.0.1:" + std::to_string(FPort) + "/"; }

    const std::string Cert;

  private:
    const std::uint16_t FPort;
    pid_t FPid = -1;
    bool FReady = false;
};

TEST_F(SingleDownloaderTest, OnlyAVerifiedCertificateForTheHostGivesAnAnswer) {
    TTlsServer right(Temp, "right", "IP:127.0.0.1");
    TTlsServer wrong(Temp, "wrong", "DNS:other.example");
    if (!right.Ready() || !wrong.Ready()) {
        GTEST_SKIP() << "needs the openssl command (package openssl)";
    }
    struct TCase {
        const TTlsServer& Server;
        std::string CaFile;
        bool Answers;
    };
    const std::vector<TCase> cases = {
        {right, right.Cert, true},   // trusted and made for 127.0.0.1
        {right, "", false},          // unknown to the system's store
        {wrong, wrong.Cert, false},  // trusted, but for another name
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        TDownloaderOptions options;
        options.CaFile = cases[i].CaFile;
        auto d = Make(options);
        d->URL = cases[i].Server.Url();
        d->GetString();
        RunFor(i + 1);
        EXPECT_EQ(Events.back().starts_with("string:"), cases[i].Answers) << Events.back().substr(0, 80);
    }
}

}  // namespace
}  // namespace cloakline
