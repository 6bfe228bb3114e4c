#include "platform/linux/LinuxBrowserInventory.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "core/proxy/FirefoxProfiles.h"
#include "core/proxy/SocketTable.h"
#include "platform/linux/LinuxDataFolders.h"
#include "platform/linux/LinuxFirefox.h"
#include "platform/linux/NativePath.h"

namespace cloakline {

namespace {

struct TChromiumProduct {
    std::string_view Name;
    // Program names on the search path.
    std::vector<std::string_view> Programs;
    // The profile folder under the configuration folder.
    std::string_view ConfigFolder;
    // Names its processes go by (the name, or the program file's).
    std::vector<std::string_view> Processes;
};

const std::vector<TChromiumProduct>& ChromiumProducts() {
    static const std::vector<TChromiumProduct> products = {
        {"Chromium",
         {"chromium", "chromium-browser"},
         "chromium",
         {"chromium", "chromium-browser", "chromium-browse"}},
        {"Google Chrome",
         {"google-chrome", "google-chrome-stable", "google-chrome-beta"},
         "google-chrome",
         {"chrome", "google-chrome"}},
        {"Brave", {"brave-browser", "brave"}, "BraveSoftware/Brave-Browser", {"brave", "brave-browser"}},
        {"Microsoft Edge", {"microsoft-edge", "microsoft-edge-stable"}, "microsoft-edge", {"msedge"}},
        {"Vivaldi", {"vivaldi", "vivaldi-stable"}, "vivaldi", {"vivaldi-bin", "vivaldi"}},
        {"Opera", {"opera"}, "opera", {"opera"}},
    };
    return products;
}

constexpr std::string_view kFirefoxProcesses[] = {"firefox", "firefox-esr", "firefox-bin"};

// Flatpak application ids and snap names of browsers.
constexpr std::string_view kFlatpakBrowsers[] = {
    "org.chromium.Chromium",
    "com.google.Chrome",
    "com.brave.Browser",
    "com.microsoft.Edge",
    "com.vivaldi.Vivaldi",
    "com.opera.Opera",
    "org.mozilla.firefox",
    "io.gitlab.librewolf-community",
    "net.waterfox.waterfox",
    "one.ablaze.floorp",
    "org.gnome.Epiphany",
    "io.github.ungoogled_software.ungoogled_chromium",
    "org.torproject.torbrowser-launcher",
};
constexpr std::string_view kSnapBrowsers[] = {"chromium", "firefox",   "brave", "opera",
                                              "vivaldi",  "librewolf", "midori"};

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ReadSmall(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text;
    std::getline(in, text, '\0');
    return text;
}

std::string WholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string BaseName(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// A profile of a Snap or Flatpak Firefox belongs to that install's line.
bool InSandbox(const std::string& profile) {
    return profile.find("\\snap\\") != std::string::npos ||
           profile.find("\\.var\\app\\") != std::string::npos;
}

std::vector<std::string> NumericEntries(const std::string& folder) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) {
        return names;
    }
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name(entry->d_name);
        if (!name.empty() && name.find_first_not_of("0123456789") == std::string_view::npos) {
            names.emplace_back(name);
        }
    }
    return names;
}

}  // namespace

TBrowserRoots SystemBrowserRoots(const EnvLookup& env) {
    TBrowserRoots roots;
    roots.Home = UserHomeFolder(env);
    roots.ConfigHome = UserConfigHome(env);
    if (const char* path = NonEmptyEnv(env, "PATH")) {
        roots.SearchPath = path;
    }
    roots.UsualPrograms = {"/usr/lib/chromium/chromium", "/opt/google/chrome/chrome",
                           "/opt/brave.com/brave/brave", "/opt/microsoft/msedge/msedge",
                           "/opt/vivaldi/vivaldi",       "/usr/lib/x86_64-linux-gnu/opera/opera"};
    roots.FlatpakRoots = {"/var/lib/flatpak/app"};
    if (!roots.Home.empty()) {
        roots.FlatpakRoots.push_back(roots.Home + "/.local/share/flatpak/app");
    }
    roots.SnapRoot = "/snap";
    roots.Proc = "/proc";
    auto firefox = std::make_shared<LinuxFirefox>(env);
    roots.FirefoxProfiles = [firefox] { return firefox->ProfileFolders(); };
    roots.ProfileInUse = FirefoxProfileInUse;
    return roots;
}

LinuxBrowserInventory::LinuxBrowserInventory(TBrowserRoots roots) : FRoots(std::move(roots)) {}

bool LinuxBrowserInventory::ProgramFound(const std::vector<std::string>& names) const {
    const std::string_view all(FRoots.SearchPath);
    std::size_t start = 0;
    while (start < all.size()) {
        std::size_t end = all.find(':', start);
        if (end == std::string_view::npos) {
            end = all.size();
        }
        const std::string folder(all.substr(start, end - start));
        if (!folder.empty() && folder.front() == '/') {
            for (const std::string& name : names) {
                if (IsExecutableFile(folder + "/" + name)) {
                    return true;
                }
            }
        }
        start = end + 1;
    }
    for (const std::string& usual : FRoots.UsualPrograms) {
        for (const std::string& name : names) {
            if (BaseName(usual) == name && IsExecutableFile(usual)) {
                return true;
            }
        }
    }
    return false;
}

std::vector<TInstalledBrowser> LinuxBrowserInventory::Installed() const {
    std::vector<TInstalledBrowser> found;
    for (const TChromiumProduct& product : ChromiumProducts()) {
        std::vector<std::string> names(product.Programs.begin(), product.Programs.end());
        names.insert(names.end(), product.Processes.begin(), product.Processes.end());
        const bool profile = !FRoots.ConfigHome.empty() &&
                             IsFolder(FRoots.ConfigHome + "/" + std::string(product.ConfigFolder));
        if (profile || ProgramFound(names)) {
            found.push_back({TBrowserKind::ChromiumBased, std::string(product.Name), false, false});
        }
    }
    if (FRoots.FirefoxProfiles) {
        for (const std::string& folder : FRoots.FirefoxProfiles()) {
            if (InSandbox(folder)) {
                continue;
            }
            const std::string native = ToNativePath(folder);
            const TFirefoxPrefFiles files{WholeFile(native + "/" + std::string(kFirefoxPrefsJs)),
                                          WholeFile(native + "/" + std::string(kFirefoxUserJs))};
            found.push_back({TBrowserKind::FirefoxProfile, BaseName(native),
                             FirefoxOwnProxyType(files) != kFirefoxSystemProxyType,
                             FRoots.ProfileInUse && FRoots.ProfileInUse(folder)});
        }
    }
    for (const std::string& root : FRoots.FlatpakRoots) {
        for (std::string_view id : kFlatpakBrowsers) {
            const bool seen = std::any_of(found.begin(), found.end(), [id](const TInstalledBrowser& browser) {
                return browser.Kind == TBrowserKind::Flatpak && browser.Name == id;
            });
            if (!seen && IsFolder(root + "/" + std::string(id))) {
                found.push_back({TBrowserKind::Flatpak, std::string(id), false, false});
            }
        }
    }
    if (!FRoots.SnapRoot.empty()) {
        for (std::string_view name : kSnapBrowsers) {
            if (IsFolder(FRoots.SnapRoot + "/" + std::string(name))) {
                found.push_back({TBrowserKind::Snap, std::string(name), false, false});
            }
        }
    }
    return found;
}

std::string BrowserOfProcess(std::string_view comm, std::string_view exe) {
    constexpr std::string_view kDeleted = " (deleted)";
    if (exe.ends_with(kDeleted)) {
        exe.remove_suffix(kDeleted.size());
    }
    const std::string program = BaseName(exe);
    for (std::string_view name : {comm, std::string_view(program)}) {
        if (name.empty()) {
            continue;
        }
        for (std::string_view firefox : kFirefoxProcesses) {
            if (name == firefox) {
                return "Firefox";
            }
        }
        for (const TChromiumProduct& product : ChromiumProducts()) {
            for (std::string_view process : product.Processes) {
                if (name == process) {
                    return std::string(product.Name);
                }
            }
        }
    }
    return {};
}

std::vector<TRunningBrowser> LinuxBrowserInventory::Running(std::uint16_t gatewayPort) const {
    std::set<std::uint64_t> clients;
    if (gatewayPort != 0) {
        for (const char* table : {"/net/tcp", "/net/tcp6"}) {
            const auto sockets = ParseTcpTable(WholeFile(FRoots.Proc + table));
            const auto inodes = LoopbackClientInodes(sockets, gatewayPort);
            clients.insert(inodes.begin(), inodes.end());
        }
    }
    std::map<std::string, int> connections;
    const uid_t me = ::getuid();
    for (const std::string& pid : NumericEntries(FRoots.Proc)) {
        const std::string folder = FRoots.Proc + "/" + pid;
        struct stat st {};
        if (::stat(folder.c_str(), &st) != 0 || st.st_uid != me) {
            continue;
        }
        std::string comm = ReadSmall(folder + "/comm");
        while (!comm.empty() && (comm.back() == '\n' || comm.back() == '\0')) {
            comm.pop_back();
        }
        char target[4096];
        const ssize_t n = ::readlink((folder + "/exe").c_str(), target, sizeof target - 1);
        const std::string exe = n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
        const std::string browser = BrowserOfProcess(comm, exe);
        if (browser.empty()) {
            continue;
        }
        int& count = connections[browser];
        if (clients.empty()) {
            continue;
        }
        for (const std::string& fd : NumericEntries(folder + "/fd")) {
            const ssize_t length = ::readlink((folder + "/fd/" + fd).c_str(), target, sizeof target - 1);
            if (length <= 0) {
                continue;
            }
            const auto inode = SocketInodeOfLink(std::string_view(target, static_cast<std::size_t>(length)));
            if (inode && clients.contains(*inode)) {
                ++count;
            }
        }
    }
    std::vector<TRunningBrowser> running;
    for (const auto& [name, count] : connections) {
        running.push_back({name, count});
    }
    return running;
}

}  // namespace cloakline
