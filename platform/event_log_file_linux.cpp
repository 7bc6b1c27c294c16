#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/event_log_file.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/unique_fd.h"

namespace quarnel {
namespace {

constexpr mode_t kLogFileMode = 0644;
constexpr mode_t kLogFolderMode = 0755;
// The writers' lock: only its owner may open it, so no reader can hold it.
constexpr mode_t kLockFileMode = 0600;
// How long a writer waits for another writer: a record that cannot be written by then is
// dropped, so the update cycle and a stop never wait on somebody else's lock.
constexpr auto kWriterLockWait = std::chrono::milliseconds(1000);
constexpr auto kWriterLockPoll = std::chrono::milliseconds(5);

std::string FolderOf(const std::string& path) {
    const std::size_t cut = path.rfind('/');
    if (cut == std::string::npos) {
        return ".";
    }
    return cut == 0 ? "/" : path.substr(0, cut);
}

// Takes the writers' lock beside the log, waiting at most kWriterLockWait. The lock file must be
// this process's own and private: one that another user made or may open is no lock of ours.
UniqueFd LockWriters(const std::string& path) {
    UniqueFd lock(::open(EventLogLockPath(path).c_str(),
                         O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, kLockFileMode));
    struct stat info = {};
    if (!lock || ::fstat(lock.Get(), &info) != 0) {
        return {};
    }
    if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid() ||
        ((info.st_mode & 077) != 0 && ::fchmod(lock.Get(), kLockFileMode) != 0)) {
        errno = EPERM;
        return {};
    }
    const auto deadline = std::chrono::steady_clock::now() + kWriterLockWait;
    for (;;) {
        if (::flock(lock.Get(), LOCK_EX | LOCK_NB) == 0) {
            return lock;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            return {};
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            errno = ETIMEDOUT;
            return {};
        }
        std::this_thread::sleep_for(kWriterLockPoll);
    }
}

bool ReadAll(int fd, std::size_t maxBytes, std::vector<std::uint8_t>& contents) {
    contents.clear();
    struct stat info = {};
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
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            // Cut by a writer meanwhile (a torn tail removed): what was read is all there is.
            contents.resize(done);
            break;
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
// under the writers' lock, when no other writer can be writing one.
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

std::string EventLogLockPath(const std::string& path) {
    return path + ".lock";
}

bool EditEventLogFile(
    const std::string& path, std::size_t maxBytes,
    const std::function<EventLogFileEdit(const std::vector<std::uint8_t>& contents)>& decide) {
    const std::string folder = FolderOf(path);
    if (!IsDirectory(folder) && !CreateFolders(folder, kLogFolderMode)) {
        return false;
    }
    const UniqueFd lock = LockWriters(path);
    if (!lock) {
        return false;
    }
    UniqueFd fd(
        ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, kLogFileMode));
    struct stat opened = {};
    if (!fd || ::fstat(fd.Get(), &opened) != 0 || !S_ISREG(opened.st_mode)) {
        return false;
    }
    // The creation mode is narrowed by the umask; every user must be able to read.
    if (opened.st_uid == ::geteuid() && (opened.st_mode & 07777) != kLogFileMode) {
        (void)::fchmod(fd.Get(), kLogFileMode);
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
            // Readers that opened the old file keep reading it whole; the next open finds the
            // new one.
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
    struct stat info = {};
    if (::stat(path.c_str(), &info) != 0 && errno == ENOENT) {
        return true;  // nothing was ever written: an empty log
    }
    // No lock: a reader must never be able to hold up a writer. What it reads may end in a record
    // still being written, which the record checks then skip.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
    struct stat opened = {};
    return fd && ::fstat(fd.Get(), &opened) == 0 && S_ISREG(opened.st_mode) &&
           ReadAll(fd.Get(), maxBytes, contents);
}

std::string LocalComputerName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}

}  // namespace quarnel
