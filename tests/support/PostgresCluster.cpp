#include "tests/support/PostgresCluster.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace cloakline::test {

namespace fs = std::filesystem;

namespace {

// The newest installed server's bin folder ("/usr/lib/postgresql/15/bin"), or "".
std::string FindBinDir() {
    std::error_code ec;
    int best = -1;
    std::string found;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() ||
            !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            continue;
        }
        const fs::path bin = entry.path() / "bin";
        if (access((bin / "initdb").c_str(), X_OK) != 0 || access((bin / "pg_ctl").c_str(), X_OK) != 0) {
            continue;
        }
        if (const int version = std::stoi(name); version > best) {
            best = version;
            found = bin.string();
        }
    }
    return found;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct TRunResult {
    int Status = -1;
    std::string Output;
};

// Runs argv with stdout and stderr into log; as nobody when we are root
// (PostgreSQL refuses to run as root). cwd is dir, readable by that user.
TRunResult Run(std::vector<std::string> argv, const std::string& dir, bool unprivileged) {
    if (unprivileged && geteuid() == 0) {
        argv.insert(argv.begin(),
                    {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"});
    }
    const std::string log = dir + "/run.log";
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        return {-1, "cannot write " + log};
    }
    std::vector<char*> args;
    for (std::string& a : argv) {
        args.push_back(a.data());
    }
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, 0);
        dup2(out, 1);
        dup2(out, 2);
        if (chdir(dir.c_str()) != 0) {
            _exit(126);
        }
        execv(args[0], args.data());
        _exit(127);
    }
    close(out);
    TRunResult result;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
        result.Status = WEXITSTATUS(status);
    }
    result.Output = ReadAll(log);
    return result;
}

std::string Describe(const std::string& what, const TRunResult& r) {
    return what + " failed (status " + std::to_string(r.Status) + "): " + r.Output;
}

constexpr const char* kPrefix = "cl-pg-";

// Clusters left running by a test process that was killed (a time-out):
// stopped and removed, so that they do not pile up.
void RemoveOrphans(const std::string& bin) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(fs::temp_directory_path(), ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(kPrefix, 0) != 0) {
            continue;
        }
        const std::string owner = ReadAll((entry.path() / "owner.pid").string());
        const long pid = std::strtol(owner.c_str(), nullptr, 10);
        if (pid <= 0 || kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) {
            continue;
        }
        Run({bin + "/pg_ctl", "stop", "-w", "-m", "immediate", "-D", entry.path().string() + "/data"},
            entry.path().string(), true);
        fs::remove_all(entry.path(), ec);
    }
}

}  // namespace

std::unique_ptr<TPostgresCluster> TPostgresCluster::Start(std::string& whyNot) {
    const std::string bin = FindBinDir();
    if (bin.empty()) {
        whyNot =
            "no PostgreSQL server installed (/usr/lib/postgresql/*/bin/initdb; Debian package postgresql)";
        return nullptr;
    }
    const bool root = geteuid() == 0;
    const passwd* nobody = root ? getpwnam("nobody") : nullptr;
    if (root && (!nobody || access("/usr/bin/setpriv", X_OK) != 0)) {
        whyNot = "running as root without user nobody or setpriv to start PostgreSQL as";
        return nullptr;
    }
    // Short, so that the socket's path stays within its 107 bytes.
    RemoveOrphans(bin);
    std::string dir = (fs::temp_directory_path() / (std::string(kPrefix) + "XXXXXX")).string();
    if (!mkdtemp(dir.data())) {
        whyNot = "cannot create a temporary folder";
        return nullptr;
    }
    std::ofstream(dir + "/owner.pid") << getpid();
    if (root && chown(dir.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
        whyNot = "cannot hand " + dir + " to nobody";
        fs::remove_all(dir);
        return nullptr;
    }
    std::unique_ptr<TPostgresCluster> cluster(new TPostgresCluster(bin, dir));
    const std::string data = dir + "/data";
    const TRunResult init = Run(
        {bin + "/initdb", "-D", data, "-U", kUser, "--auth=trust", "--no-sync", "-E", "UTF8", "--locale=C"},
        dir, true);
    if (init.Status != 0) {
        whyNot = Describe("initdb", init);
        return nullptr;
    }
    // Only the socket in our folder; durability does not matter for a test.
    const std::string serverOptions = "-c listen_addresses='' -c unix_socket_directories='" + dir +
                                      "' -c fsync=off -c synchronous_commit=off -c full_page_writes=off";
    const TRunResult start = Run({bin + "/pg_ctl", "start", "-w", "-t", "60", "-D", data, "-l",
                                  dir + "/server.log", "-o", serverOptions},
                                 dir, true);
    if (start.Status != 0) {
        whyNot = Describe("pg_ctl start", start) + ReadAll(dir + "/server.log");
        return nullptr;
    }
    cluster->FRunning = true;
    return cluster;
}

TPostgresCluster::~TPostgresCluster() {
    if (FRunning) {
        Run({FBin + "/pg_ctl", "stop", "-w", "-m", "immediate", "-D", FDir + "/data"}, FDir, true);
    }
    std::error_code ec;
    fs::remove_all(FDir, ec);
}

void TPostgresCluster::CreateDatabase(const std::string& name) {
    const TRunResult r = Run({FBin + "/createdb", "-h", FDir, "-U", kUser, name}, FDir, true);
    if (r.Status != 0) {
        throw std::runtime_error(Describe("createdb " + name, r));
    }
}

std::string TPostgresCluster::Url(const std::string& database) const {
    return "postgresql:///" + database + "?host=" + FDir + "&user=" + kUser;
}

}  // namespace cloakline::test
