#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/atomic_file.h"
#include "platform/event_log_file.h"
#include "platform/file_io.h"
#include "platform/paths.h"

namespace quarnel {
namespace {

constexpr mode_t kLogFileMode = 0644;
constexpr mode_t kLogFolderMode = 0755;
// A writer that replaces the file renames a new one over it; a process that locked the old one
// meanwhile opens the path again. Bounded, although each retry means another writer progressed.
constexpr int kLockAttempts = 1000;

std::string FolderOf(const std::string& path) {
    const std::size_t cut = path.rfind('/');
    if (cut == std::string::npos) {
        return ".";
    }
    return cut == 0 ? "/" : path.substr(0, cut);
}

int LockRetrying(int fd, int operation) {
    int result;
    do {
        result = ::flock(fd, operation);
    } while (result != 0 && errno == EINTR);
    return result;
}

// Opens path and locks it; the descriptor is returned only while it still names the file at
// path (not one that a writer has just replaced).
UniqueFd OpenLocked(const std::string& path, bool exclusive) {
    for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
        UniqueFd fd(
            exclusive ? ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, kLogFileMode)
                      : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
        if (!fd) {
            return {};
        }
        if (LockRetrying(fd.Get(), exclusive ? LOCK_EX : LOCK_SH) != 0) {
            return {};
        }
        struct stat opened {};
        struct stat named {};
        if (::fstat(fd.Get(), &opened) != 0) {
            return {};
        }
        if (::stat(path.c_str(), &named) == 0 && named.st_dev == opened.st_dev &&
            named.st_ino == opened.st_ino) {
            if (!S_ISREG(opened.st_mode)) {
                return {};
            }
            // The creation mode is narrowed by the umask; every user must be able to read.
            if (exclusive && opened.st_uid == ::geteuid() &&
                (opened.st_mode & 07777) != kLogFileMode) {
                (void)::fchmod(fd.Get(), kLogFileMode);
            }
            return fd;
        }
    }
    return {};
}

bool ReadAll(int fd, std::size_t maxBytes, std::vector<std::uint8_t>& contents) {
    contents.clear();
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_size < 0 ||
        static_cast<std::uint64_t>(info.st_size) > maxBytes) {
        return false;
    }
    contents.resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < contents.size()) {
        const ssize_t got =
            ::pread(fd, contents.data() + done, contents.size() - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

bool WriteAllAt(int fd, const std::uint8_t* data, std::size_t size, off_t offset) {
    while (size > 0) {
        const ssize_t written = ::pwrite(fd, data, size, offset);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
        offset += written;
    }
    return true;
}

// Writes the whole new contents to a temporary file beside path and renames it over path.
bool ReplaceFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    const std::string folder = FolderOf(path);
    std::string temporary = path + ".XXXXXX";
    UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd) {
        return false;
    }
    const bool written = ::fchmod(fd.Get(), kLogFileMode) == 0 &&
                         WriteAllAt(fd.Get(), bytes.data(), bytes.size(), 0) &&
                         ::fsync(fd.Get()) == 0;
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return SyncFolder(folder);
}

// Removes what a writer killed during a rewrite left behind: temporary files beside path. Called
// under the exclusive lock, when no other writer can be writing one.
void RemoveLeftoverTemporaries(const std::string& path) {
    const std::string folder = FolderOf(path);
    const std::string prefix = path.substr(path.rfind('/') + 1) + ".";
    DIR* listing = ::opendir(folder.c_str());
    if (listing == nullptr) {
        return;
    }
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0) {
            ::unlinkat(::dirfd(listing), name.c_str(), 0);
        }
    }
    ::closedir(listing);
}

}  // namespace

bool EditEventLogFile(
    const std::string& path, std::size_t maxBytes,
    const std::function<EventLogFileEdit(const std::vector<std::uint8_t>& contents)>& decide) {
    const std::string folder = FolderOf(path);
    if (!IsDirectory(folder) && !CreateFolders(folder, kLogFolderMode)) {
        return false;
    }
    UniqueFd fd = OpenLocked(path, true);
    if (!fd) {
        return false;
    }
    std::vector<std::uint8_t> contents;
    if (!ReadAll(fd.Get(), maxBytes, contents)) {
        return false;
    }
    RemoveLeftoverTemporaries(path);
    const EventLogFileEdit edit = decide(contents);
    switch (edit.kind) {
        case EventLogFileEdit::Kind::Nothing:
            return true;
        case EventLogFileEdit::Kind::Replace:
            // The lock on the old file is released with fd after the rename; writers waiting
            // for it notice that the path names a new file and open that one.
            return ReplaceFile(path, edit.bytes);
        case EventLogFileEdit::Kind::Append:
            break;
    }
    if (edit.keep > contents.size() || edit.keep > static_cast<std::size_t>(LLONG_MAX)) {
        return false;
    }
    if (edit.keep < contents.size() && ::ftruncate(fd.Get(), static_cast<off_t>(edit.keep)) != 0) {
        return false;
    }
    if (!WriteAllAt(fd.Get(), edit.bytes.data(), edit.bytes.size(),
                    static_cast<off_t>(edit.keep))) {
        // A disk that filled up must not leave part of a record behind.
        (void)::ftruncate(fd.Get(), static_cast<off_t>(edit.keep));
        return false;
    }
    if (::fdatasync(fd.Get()) != 0) {
        return false;
    }
    // The first record also made the file: its name must last as well.
    return !contents.empty() || SyncFolder(folder);
}

bool ReadEventLogFile(const std::string& path, std::size_t maxBytes,
                      std::vector<std::uint8_t>& contents) {
    contents.clear();
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 && errno == ENOENT) {
        return true;  // nothing was ever written: an empty log
    }
    UniqueFd fd = OpenLocked(path, false);
    return fd && ReadAll(fd.Get(), maxBytes, contents);
}

std::string LocalComputerName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}

}  // namespace quarnel
