#include "platform/linux/LinuxSingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/PosixIo.h"

namespace cloakline {

namespace {

bool IsPortableNameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

// Opens the lock file without following a planted link. A file that another
// user created (before we made lock files 0666, or with another umask) can
// still be locked through a read-only descriptor.
UniqueFd OpenLockFile(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
    if (fd.Valid()) {
        // The umask must not keep other users from locking it later.
        ::fchmod(fd.Get(), 0666);
        return fd;
    }
    if (errno != EEXIST) {
        return fd;
    }
    // Without O_CREAT, so that protected_regular does not refuse another user's file.
    fd.Reset(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    if (!fd.Valid() && errno == EACCES) {
        fd.Reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
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
    if (::access("/run/lock", W_OK | X_OK) == 0) {
        return "/run/lock";
    }
    return "/tmp";
}

bool LinuxSingleInstance::CreateUniqueMutex(std::string_view name) {
    const std::string path = LockFolder() + "/" + LockFileName(name);
    UniqueFd fd = OpenLockFile(path);
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
