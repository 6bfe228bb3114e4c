#include "server/ServerApp.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "server/store/OpenProxyStore.h"
#include "server/store/StoreName.h"

namespace cloakline::server {

namespace {

// How long a process answers from what it read of the healthy list and the
// release record; other processes' writes show after at most this.
constexpr std::chrono::seconds kReadCacheTtl{3};

// Where a client on this machine reaches the listening socket.
std::string ReachableHost(const std::string& listen) {
    return listen == "0.0.0.0" || listen.empty() ? "127.0.0.1" : listen;
}

}  // namespace

std::string DefaultFlagsDir() {
    // An installed server (/usr/bin) serves its package's flags
    // (/usr/share/cloakline-server/flags); a build tree has none there.
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const std::filesystem::path installed =
            exe.parent_path().parent_path() / "share" / "cloakline-server" / "flags";
        if (std::filesystem::is_directory(installed, ec)) {
            return installed.string();
        }
    }
#ifdef CLOAKLINE_SERVER_FLAGS_DIR
    return CLOAKLINE_SERVER_FLAGS_DIR;
#else
    return "flags";
#endif
}

TServerApp::TServerApp(TServerOptions options) : FOptions(std::move(options)) {}

TServerApp::~TServerApp() {
    Stop();
}

std::string TServerApp::ListenUrl() const {
    return "http://" + FOptions.Listen + ":" + std::to_string(FPort);
}

bool TServerApp::Start(std::string& error) {
    try {
        FLog = std::make_unique<TServerLog>(FOptions.LogPath);
        FLog->SetRefusalLinesPerSecond(FOptions.LogLinesPerSecond);
        FStore = OpenProxyStore(FOptions.DbPath);
        FCachedReads =
            std::make_unique<TCachedReadsStore>(*FStore, kReadCacheTtl, std::chrono::steady_clock::now);
        FTouches = std::make_unique<TTouchBatchingStore>(*FCachedReads, TTouchBatchOptions{},
                                                         std::chrono::steady_clock::now,
                                                         [this](const std::string& why) { FLog->Line(why); });
        FTouches->Start();

        TAddressRanges ranges;
        if (!FOptions.RangesPath.empty()) {
            std::ifstream in(FOptions.RangesPath, std::ios::binary);
            if (!in) {
                error = "cannot read the range table " + FOptions.RangesPath;
                return false;
            }
            std::ostringstream text;
            text << in.rdbuf();
            TAddressRanges::TParseError wrong;
            auto parsed = TAddressRanges::Parse(text.str(), wrong);
            if (!parsed) {
                error = FOptions.RangesPath + ":" + std::to_string(wrong.Line) + ": " + wrong.Reason;
                return false;
            }
            ranges = std::move(*parsed);
        }
        auto countries = TGeoIpCountries::Open(FOptions.GeoIpPath);
        if (!countries) {
            FLog->Line("no country database at " + FOptions.GeoIpPath +
                       "; only the range table places addresses");
        }
        FLocator = std::make_unique<TAddressLocator>(std::move(ranges), std::move(countries));

        FHttp = std::make_unique<THttpService>(*FTouches, *FLocator, *FLog);
        FPort = FHttp->Bind(FOptions.Listen, FOptions.Port);
        if (FPort < 0) {
            error = "cannot listen on " + FOptions.Listen + ":" + std::to_string(FOptions.Port);
            return false;
        }
        const std::string reachable =
            "http://" + ReachableHost(FOptions.Listen) + ":" + std::to_string(FPort);
        THttpServiceSettings settings;
        settings.MagicWord = FOptions.MagicWord;
        settings.Pages.PublicBase = FOptions.PublicBase.empty() ? reachable : FOptions.PublicBase;
        settings.Pages.CheckIpUrl =
            FOptions.CheckIpUrl.empty() ? settings.Pages.PublicBase + "/checkip" : FOptions.CheckIpUrl;
        settings.FlagsDir = FOptions.FlagsDir.empty() ? DefaultFlagsDir() : FOptions.FlagsDir;
        settings.Threads = FOptions.Threads;
        settings.IoThreads = FOptions.IoThreads;
        settings.TrustedProxies = FOptions.TrustedProxies;
        settings.MaxConnectionsPerClient = FOptions.MaxConnectionsPerClient;
        FHttp->Configure(std::move(settings));
        FServing = std::thread([this] { FHttp->Run(); });
        if (!FHttp->WaitRunning(std::chrono::seconds(5))) {
            error = "the HTTP service did not start";
            return false;
        }

        THealthOptions health;
        health.Interval = std::chrono::seconds(FOptions.HealthIntervalSeconds);
        health.Url = FOptions.HealthUrl.empty() ? reachable + "/checkip" : FOptions.HealthUrl;
        FHealth = std::make_unique<THealthChecker>(*FStore, *FLog, health);
        FHealth->Start();
        FLog->Line("listening on " + ListenUrl() + ", store " + ShownStoreName(FOptions.DbPath));
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

void TServerApp::Stop() {
    if (FHealth) {
        FHealth->Stop();
    }
    if (FHttp) {
        FHttp->Stop();
    }
    if (FServing.joinable()) {
        FServing.join();
    }
    if (FTouches) {
        FTouches->Stop();
    }
}

}  // namespace cloakline::server
