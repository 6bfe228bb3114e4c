#include "platform/linux/LinuxFileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <memory>

#include "platform/linux/NativePath.h"
#include "platform/linux/PosixIo.h"

namespace cloakline {

namespace {

constexpr std::int64_t kUnixEpochInFileTimeSeconds = 11644473600;
constexpr std::uint32_t kGenericAll = 0x10000000u;
constexpr std::uint32_t kGenericExecute = 0x20000000u;
constexpr std::uint32_t kFileReadData = 0x0001u;
constexpr std::uint32_t kFileWriteData = 0x0002u;
constexpr std::uint32_t kFileAppendData = 0x0004u;
constexpr std::uint32_t kFileExecute = 0x0020u;

// "dir/name" -> ("dir", "name"); a bare name lives in ".".
std::pair<std::string, std::string> SplitNative(const std::string& native) {
    const auto slash = native.rfind('/');
    if (slash == std::string::npos) {
        return {".", native};
    }
    return {slash == 0 ? std::string("/") : native.substr(0, slash), native.substr(slash + 1)};
}

constexpr std::size_t kSuffixLength = 8;

std::string RandomSuffix() {
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char raw[kSuffixLength] = {};
    if (getrandom(raw, sizeof raw, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof raw)) {
        // Uniqueness comes from O_EXCL; randomness only avoids retries.
        static unsigned counter = 0;
        const auto mix = static_cast<unsigned>(getpid()) * 2654435761u + ++counter;
        for (std::size_t i = 0; i < sizeof raw; ++i) {
            raw[i] = static_cast<unsigned char>(mix >> ((i % 4) * 8)) ^ static_cast<unsigned char>(i * 37);
        }
    }
    std::string suffix;
    for (unsigned char b : raw) {
        suffix += kAlphabet[b % (sizeof kAlphabet - 1)];
    }
    return suffix;
}

// The file mode the kernel would give a new file, umask and default ACLs
// included, comes for free by creating the temporary file with 0666.
UniqueFd CreateTemporaryBeside(const std::string& folder, const std::string& name, std::string& tempPath) {
    // Keep the temporary name within NAME_MAX however long the target's name is.
    const std::string stem = name.substr(0, 200);
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = folder + "/." + stem + "." + RandomSuffix();
        const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0) {
            return UniqueFd(fd);
        }
        if (errno != EEXIST) {
            break;
        }
    }
    tempPath.clear();
    return UniqueFd();
}

// A temporary file this old belongs to a save that was killed before its rename.
constexpr time_t kAbandonedAfterSeconds = 60;

void RemoveAbandonedTemporaries(const std::string& folder, const std::string& stem) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) {
        return;
    }
    const std::string prefix = "." + stem + ".";
    const time_t now = ::time(nullptr);
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name.size() != prefix.size() + kSuffixLength || !name.starts_with(prefix)) {
            continue;
        }
        const std::string path = folder + "/" + std::string(name);
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            now - st.st_mtime > kAbandonedAfterSeconds) {
            ::unlink(path.c_str());
        }
    }
}

void SyncFolder(const std::string& folder) {
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Valid()) {
        ::fsync(dir.Get());
    }
}

// Windows wildcards know only "*" and "?"; a "[" is an ordinary character there.
std::string WindowsMaskToPattern(std::string_view mask) {
    if (mask == "*.*") {
        return "*";
    }
    std::string pattern;
    for (char c : mask) {
        if (c == '[') {
            pattern += "[[]";
        } else {
            pattern += c;
        }
    }
    return pattern;
}

bool IsRegularEntry(int dirFd, const dirent& entry) {
    if (entry.d_type == DT_REG) {
        return true;
    }
    if (entry.d_type != DT_UNKNOWN && entry.d_type != DT_LNK) {
        return false;
    }
    // A link counts as what it points at, the way Windows lists a link's target kind.
    struct stat st {};
    return ::fstatat(dirFd, entry.d_name, &st, 0) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

TFileTime UnixTimeToFileTime(std::int64_t seconds, std::uint32_t nanoseconds) {
    if (seconds < -kUnixEpochInFileTimeSeconds) {
        return 0;
    }
    return static_cast<TFileTime>(seconds + kUnixEpochInFileTimeSeconds) * 10000000u + nanoseconds / 100u;
}

std::optional<std::string> LinuxFileSystem::ReadFile(std::string_view path, std::size_t maxBytes) const {
    const std::string native = ToNativePath(path);
    UniqueFd fd(::open(native.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) {
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || S_ISDIR(st.st_mode)) {
        return std::nullopt;
    }
    if (st.st_size > 0 && static_cast<std::uintmax_t>(st.st_size) > maxBytes) {
        return std::nullopt;
    }
    // The size is only a hint: the file may grow while it is read, and /proc files report 0.
    std::string content;
    content.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        if (content.size() + static_cast<std::size_t>(n) > maxBytes) {
            return std::nullopt;
        }
        content.append(buffer, static_cast<std::size_t>(n));
    }
    return content;
}

bool LinuxFileSystem::ReplaceFile(std::string_view path, std::string_view bytes) {
    const std::string target = ToNativePath(path);
    if (target.empty() || target.back() == '/') {
        return false;
    }
    const auto [folder, name] = SplitNative(target);
    std::string tempPath;
    UniqueFd fd = CreateTemporaryBeside(folder, name, tempPath);
    if (!fd.Valid()) {
        return false;
    }
    bool ok = true;
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0) {
        if (!S_ISREG(old.st_mode)) {
            ok = false;
        } else {
            // Keep who owns the file when we may (root editing a user's file);
            // ownership before mode, since chown clears set-id bits.
            if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
                [[maybe_unused]] const int ignored = ::fchown(fd.Get(), old.st_uid, old.st_gid);
            }
            ok = ::fchmod(fd.Get(), old.st_mode & 07777) == 0;
        }
    }
    ok = ok && WriteAll(fd.Get(), bytes);
    ok = ok && ::fsync(fd.Get()) == 0;
    ok = fd.Close() && ok;
    ok = ok && ::rename(tempPath.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(tempPath.c_str());
        return false;
    }
    // The new content is in place now; a failed folder sync cannot be undone
    // and only risks the rename itself after a crash.
    SyncFolder(folder);
    RemoveAbandonedTemporaries(folder, name.substr(0, 200));
    return true;
}

bool LinuxFileSystem::WriteTextFile(std::string_view bytes, std::string_view path) {
    const std::string native = ToNativePath(path);
    UniqueFd fd(::open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!fd.Valid()) {
        return false;
    }
    const bool written = WriteAll(fd.Get(), bytes);
    return fd.Close() && written;
}

bool LinuxFileSystem::RemoveFile(std::string_view path) {
    const std::string native = ToNativePath(path);
    struct stat st {};
    if (native.empty() || (::lstat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) {
        return false;
    }
    if (::unlink(native.c_str()) != 0) {
        return errno == ENOENT;
    }
    SyncFolder(SplitNative(native).first);
    return true;
}

bool LinuxFileSystem::RenameFile(std::string_view from, std::string_view to) {
    const std::string source = ToNativePath(from);
    const std::string target = ToNativePath(to);
    if (source.empty() || target.empty() || ::rename(source.c_str(), target.c_str()) != 0) {
        return false;
    }
    SyncFolder(SplitNative(target).first);
    return true;
}

bool LinuxFileSystem::FileExists(std::string_view path) const {
    struct stat st {};
    return !path.empty() && ::stat(ToNativePath(path).c_str(), &st) == 0;
}

bool LinuxFileSystem::DirectoryExists(std::string_view path) const {
    struct stat st {};
    return !path.empty() && ::stat(ToNativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool LinuxFileSystem::ForceDirectories(std::string_view path) {
    const std::string native = ToNativePath(path);
    if (native.empty()) {
        return false;
    }
    // Walk down from the root so that every missing parent is made in order.
    for (std::size_t pos = native.find('/', 1); pos != std::string::npos; pos = native.find('/', pos + 1)) {
        const std::string prefix = native.substr(0, pos);
        if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
            break;
        }
    }
    ::mkdir(native.c_str(), 0777);
    return DirectoryExists(path);
}

bool LinuxFileSystem::CheckFileAccess(std::uint32_t accessMask, std::string_view path) const {
    if (path.empty()) {
        return false;
    }
    int mode = 0;
    if ((accessMask & (GENERIC_READ_ACCESS | kGenericAll | kFileReadData)) != 0) {
        mode |= R_OK;
    }
    if ((accessMask & (GENERIC_WRITE_ACCESS | kGenericAll | kFileWriteData | kFileAppendData)) != 0) {
        mode |= W_OK;
    }
    if ((accessMask & (kGenericExecute | kGenericAll | kFileExecute)) != 0) {
        mode |= X_OK;
    }
    // AT_EACCESS: the effective ids decide, as the Windows check uses the process token.
    return ::faccessat(AT_FDCWD, ToNativePath(path).c_str(), mode == 0 ? F_OK : mode, AT_EACCESS) == 0;
}

bool LinuxFileSystem::GetFileCreationTime(std::string_view path, TFileTime& time) const {
    if (path.empty()) {
        return false;
    }
    struct statx stx {};
    if (::statx(AT_FDCWD, ToNativePath(path).c_str(), AT_STATX_SYNC_AS_STAT, STATX_BTIME, &stx) != 0) {
        return false;
    }
    if ((stx.stx_mask & STATX_BTIME) == 0 || stx.stx_btime.tv_sec < -kUnixEpochInFileTimeSeconds) {
        return false;
    }
    time = UnixTimeToFileTime(stx.stx_btime.tv_sec, stx.stx_btime.tv_nsec);
    return true;
}

void LinuxFileSystem::ListFiles(std::string_view mask, TStringList& list, bool withFolder) const {
    const auto separator = mask.find_last_of("\\/");
    const std::string_view folderPart =
        separator == std::string_view::npos ? std::string_view() : mask.substr(0, separator + 1);
    const std::string_view namePart = mask.substr(folderPart.size());
    if (namePart.empty()) {
        return;
    }
    std::string folder = ToNativePath(folderPart);
    if (folder.empty()) {
        folder = ".";
    }
    const std::string pattern = WindowsMaskToPattern(namePart);

    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
    if (!dir) {
        return;
    }
    const int dirFd = ::dirfd(dir.get());
    while (const dirent* entry = ::readdir(dir.get())) {
        // No FNM_PERIOD: hidden files match "*" as Windows lists hidden files.
        if (::fnmatch(pattern.c_str(), entry->d_name, FNM_NOESCAPE) != 0 || !IsRegularEntry(dirFd, *entry)) {
            continue;
        }
        list.Add(withFolder ? std::string(folderPart) + entry->d_name : std::string(entry->d_name));
    }
}

bool LinuxFileSystem::MakePrivate(std::string_view path) {
    const std::string native = ToNativePath(path);
    if (native.empty()) {
        return false;
    }
    // O_NOFOLLOW: a planted link must not hand its target's mode to us.
    UniqueFd fd(::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat st {};
    if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0 || st.st_uid != ::geteuid()) {
        return false;
    }
    const mode_t wanted =
        (st.st_mode & 07777 & ~static_cast<mode_t>(077)) | (S_ISDIR(st.st_mode) ? 0700 : 0600);
    return (st.st_mode & 07777) == wanted || ::fchmod(fd.Get(), wanted) == 0;
}

std::string LinuxFileSystem::GetLongPath(std::string_view path) const {
    // Linux file systems have no short 8.3 aliases to expand.
    return std::string(path);
}

}  // namespace cloakline
