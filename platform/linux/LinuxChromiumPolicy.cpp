#include "platform/linux/LinuxChromiumPolicy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "platform/linux/LinuxFileSystem.h"
#include "platform/linux/NativePath.h"

namespace cloakline {

namespace {

constexpr std::string_view kPolicy = "{\"WebRtcIPHandlingPolicy\": \"disable_non_proxied_udp\"}\n";
constexpr std::string_view kNoPolicy = "{}\n";

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Writes over a file in place: its folder is not ours, so no new file can
// take its place.
bool OverwriteInPlace(const std::string& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ::close(fd);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    const bool synced = ::fsync(fd) == 0;
    return ::close(fd) == 0 && synced;
}

}  // namespace

LinuxChromiumPolicy::LinuxChromiumPolicy(std::vector<std::string> folders) : FFolders(std::move(folders)) {}

bool LinuxChromiumPolicy::Apply(bool hiding) {
    bool ok = true;
    bool anyWritten = false;
    bool anyMissed = false;
    LinuxFileSystem files;
    for (const std::string& folder : FFolders) {
        if (!IsFolder(folder)) {
            continue;  // that browser's policies are not installed here
        }
        const std::string file = folder + "/" + std::string(kChromiumPolicyFileName);
        const bool fileThere = ::access(file.c_str(), F_OK) == 0;
        if (::access(folder.c_str(), W_OK) == 0) {
            if (hiding) {
                const bool written = files.ReplaceFile(ToProgramPath(file), kPolicy);
                // A policy file must be readable by the browser, whoever runs it.
                ok = written && ::chmod(file.c_str(), 0644) == 0 && ok;
                anyWritten = anyWritten || written;
                anyMissed = anyMissed || !written;
            } else if (fileThere && ::unlink(file.c_str()) != 0) {
                ok = false;
            }
        } else if (fileThere && ::access(file.c_str(), W_OK) == 0) {
            const bool written = OverwriteInPlace(file, hiding ? kPolicy : kNoPolicy);
            ok = written && ok;
            anyWritten = anyWritten || (hiding && written);
            anyMissed = anyMissed || (hiding && !written);
        } else if (hiding) {
            anyMissed = true;
        }
    }
    FApplied = hiding && anyWritten && !anyMissed;
    return ok;
}

}  // namespace cloakline
