#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/atomic_file.h"
#include "platform/file_io.h"
#include "platform/unique_fd.h"

namespace quarnel {
namespace {

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool SyncFolder(const std::string& folder) {
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd.Valid() && ::fsync(fd.Get()) == 0;
}

bool WriteFileAtomically(const std::string& path, std::string_view content, unsigned mode) {
    const std::size_t slash = path.rfind('/');
    if (path.empty() || slash == path.size() - 1) {
        errno = EINVAL;
        return false;
    }
    // A hidden name without the target's suffix: programs that scan the folder (systemd, the
    // desktop's autostart) ignore a temporary file that a crash leaves behind.
    std::string temporary = FolderOf(path) + "/." + path.substr(slash + 1) + ".XXXXXX";
    UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd) {
        return false;
    }
    bool written = ::fchmod(fd.Get(), static_cast<mode_t>(mode)) == 0 &&
                   WriteAll(fd.Get(), content.data(), content.size()) && ::fsync(fd.Get()) == 0;
    written = fd.Reset() == 0 && written;
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        errno = error;
        return false;
    }
    return SyncFolder(FolderOf(path));
}

bool RemoveFileDurably(const std::string& path) {
    if (::unlink(path.c_str()) != 0) {
        return errno == ENOENT;
    }
    (void)SyncFolder(FolderOf(path));
    return true;
}

}  // namespace quarnel
