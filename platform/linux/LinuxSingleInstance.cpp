#include "platform/linux/LinuxSingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/LinuxInstanceChannel.h"
#include "platform/linux/PosixIo.h"

namespace cloakline {

namespace {

bool IsPortableNameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

// Opens our own lock file without following a planted link. It lives in a
// folder only we can enter and is ours alone (0600): nobody else can hold it
// and keep this user's program from starting.
UniqueFd OpenLockFile(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    struct stat st {};
    if (fd.Valid() && (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))) {
        fd.Reset();
    }
    return fd;
}

}  // namespace

std::string LockFileName(std::string_view mutexName) {
    std::string name(mutexName);
    for (char& c : name) {
        if (!IsPortableNameChar(c)) {
            c = '_';
        }
    }
    return name + ".lock";
}

LinuxSingleInstance::LinuxSingleInstance(EnvLookup env) : FEnv(std::move(env)) {}

std::string LinuxSingleInstance::LockFolder() const {
    if (const char* configured = NonEmptyEnv(FEnv, "CLOAKLINE_LOCK_DIR")) {
        return configured;
    }
    // The folder of the user's session that the instances' sockets use too.
    return LinuxInstanceChannel(std::string(), FEnv).RuntimeFolder(true);
}

bool LinuxSingleInstance::CreateUniqueMutex(std::string_view name) {
    const std::string folder = LockFolder();
    if (folder.empty()) {
        return true;
    }
    UniqueFd fd = OpenLockFile(folder + "/" + LockFileName(name));
    if (!fd.Valid()) {
        // Nothing proves that another instance runs; refusing to start would
        // lock the user out over a stray file, so let this one run.
        return true;
    }
    // flock locks belong to the open file description, so a second open in
    // this same process conflicts too, as a second CreateMutex sees the first.
    while (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EINTR) {
            return errno != EWOULDBLOCK;
        }
    }
    // Held until the process ends: the descriptor is deliberately never closed.
    fd.Release();
    return true;
}

}  // namespace cloakline
