#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/file_io.h"
#include "platform/instance.h"
#include "platform/paths.h"
#include "platform/unique_fd.h"

namespace quarnel {
namespace {

// The wire form of a code: four bytes, little-endian.
constexpr std::size_t kCodeSize = 4;
constexpr mode_t kUserFolderMode = 0700;
constexpr mode_t kMachineFolderMode = 0755;
// Only the owner may open the lock file: whoever can open it can also lock it.
constexpr mode_t kLockFileMode = 0600;
constexpr mode_t kSocketMode = 0600;
// /tmp itself, when a test root has none yet.
constexpr mode_t kSharedTemporaryMode = 01777;

std::string LockName(std::string_view guidText) {
    return std::string(guidText) + ".lock";
}

std::string SocketName(std::string_view guidText) {
    return std::string(guidText) + ".socket";
}

// Sets the mode, and the owner when one is given, of the entry name in folder through a
// descriptor, never through a path: the entry lies in a folder that a user can write, so the
// user may have put a link (or a hard link to a file of root's) in its place at any moment. The
// descriptor is opened without following a link and without becoming a controlling terminal,
// and must be of the expected kind, have no other name and belong to this process or already
// to the owner. A socket cannot be opened for reading, so it is reached through an O_PATH
// descriptor and its /proc/self/fd name, which names exactly the inode opened.
bool SetModeAndOwnerAt(int folder, const std::string& name, mode_t kind, mode_t mode,
                       std::optional<std::uint32_t> owner) {
    const bool socket = kind == S_IFSOCK;
    const UniqueFd fd(
        ::openat(folder, name.c_str(),
                 (socket ? O_PATH : O_RDONLY | O_NONBLOCK) | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    struct stat info = {};
    if (!fd || ::fstat(fd.Get(), &info) != 0 || (info.st_mode & S_IFMT) != kind ||
        (kind != S_IFDIR && info.st_nlink != 1) ||
        (info.st_uid != ::geteuid() && (!owner || info.st_uid != *owner))) {
        errno = EPERM;
        return false;
    }
    const std::string self = "/proc/self/fd/" + std::to_string(fd.Get());
    const bool moded = socket ? ::chmod(self.c_str(), mode) == 0 : ::fchmod(fd.Get(), mode) == 0;
    return moded && (!owner || info.st_uid == *owner ||
                     ::fchownat(fd.Get(), "", *owner, static_cast<gid_t>(-1), AT_EMPTY_PATH) == 0);
}

std::string ParentOf(const std::string& path) {
    const std::size_t cut = path.rfind('/');
    return cut == std::string::npos || cut == 0 ? std::string("/") : path.substr(0, cut);
}

// The folder of a user's markers and whether it is the shared-temporary fallback.
std::string UserFolder(std::uint32_t user, bool& inSharedTemporary) {
    inSharedTemporary = false;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (user == ::geteuid() && runtime != nullptr && runtime[0] == '/') {
        return RootedPath(runtime) + "/quarnel-updater";
    }
    // A root process acting for the user who started it (sudo, pkexec) finds that user's
    // runtime folder where the session manager keeps it.
    const std::string userRuntime = RootedPath("/run/user/" + std::to_string(user));
    struct stat info = {};
    if (::lstat(userRuntime.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == user) {
        return userRuntime + "/quarnel-updater";
    }
    inSharedTemporary = true;
    return RootedPath("/tmp/quarnel-updater-" + std::to_string(user));
}

// Opens the folder of the markers, creating it when missing, and checks that nobody but its
// owner (the user, or root for the machine-wide folder) can change what lies in it.
UniqueFd OpenMarkerFolder(std::optional<std::uint32_t> user) {
    const std::string path = InstanceFolder(user);
    if (!user) {
        if (!IsDirectory(path) && !CreateFolders(path, kMachineFolderMode)) {
            return {};
        }
    } else {
        bool inSharedTemporary = false;
        (void)UserFolder(*user, inSharedTemporary);
        const std::string parent = ParentOf(path);
        if (!IsDirectory(parent) &&
            !CreateFolders(parent, inSharedTemporary ? kSharedTemporaryMode : kUserFolderMode)) {
            return {};
        }
        if (::mkdir(path.c_str(), kUserFolderMode) == 0) {
            // Made by root for the user who started it: the user's own processes use it too.
            const UniqueFd parentFolder(
                ::open(ParentOf(path).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
            const std::string name = path.substr(path.rfind('/') + 1);
            if (!parentFolder ||
                !SetModeAndOwnerAt(parentFolder.Get(), name, S_IFDIR, kUserFolderMode,
                                   *user != ::geteuid() ? user : std::nullopt)) {
                return {};
            }
        } else if (errno != EEXIST) {
            return {};
        }
    }
    UniqueFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info = {};
    if (!folder || ::fstat(folder.Get(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return {};
    }
    const bool trusted =
        user ? info.st_uid == *user && (info.st_mode & 077) == 0
             : (info.st_uid == 0 || info.st_uid == ::geteuid()) && (info.st_mode & 022) == 0;
    if (!trusted) {
        errno = EPERM;
        return {};
    }
    return folder;
}

// Whether anybody holds a flock on the file name in folder, for a process that may not open it:
// the kernel lists every lock with its file's device and inode.
bool SomebodyLocks(int folder, const std::string& name) {
    struct stat info = {};
    if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(info.st_mode)) {
        return false;
    }
    std::ifstream locks("/proc/locks");
    std::string line;
    for (int lines = 0; lines < 100000 && std::getline(locks, line); ++lines) {
        std::istringstream fields(line);
        std::string number;
        std::string kind;
        std::string advisory;
        std::string access;
        std::string pid;
        std::string file;
        if (!(fields >> number >> kind >> advisory >> access >> pid >> file) || kind != "FLOCK") {
            continue;  // "->" marks a process still waiting for a lock, not one holding it
        }
        unsigned major = 0;
        unsigned minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(file.c_str(), "%x:%x:%llu", &major, &minor, &inode) == 3 &&
            major == ::major(info.st_dev) && minor == ::minor(info.st_dev) &&
            inode == static_cast<unsigned long long>(info.st_ino)) {
            return true;
        }
    }
    return false;
}

// The address of a socket path. A path too long for an address is reached through the
// process's descriptor of its folder, which folder then holds.
bool SocketAddress(const std::string& path, UniqueFd& folder, sockaddr_un& address,
                   socklen_t& length) {
    address = {};
    address.sun_family = AF_UNIX;
    std::string usable = path;
    if (usable.size() >= sizeof address.sun_path) {
        folder = UniqueFd(::open(ParentOf(path).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!folder) {
            return false;
        }
        usable = "/proc/self/fd/" + std::to_string(folder.Get()) + path.substr(path.rfind('/'));
        if (usable.size() >= sizeof address.sun_path) {
            return false;
        }
    }
    if (usable.empty()) {
        return false;
    }
    std::memcpy(address.sun_path, usable.data(), usable.size());
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + usable.size() + 1);
    return true;
}

}  // namespace

std::string InstanceFolder(std::optional<std::uint32_t> userId) {
    if (!userId) {
        return RuntimeFolder();
    }
    bool inSharedTemporary = false;
    return UserFolder(*userId, inSharedTemporary);
}

std::string InstanceSocketPath(std::string_view guidText, std::optional<std::uint32_t> userId) {
    return InstanceFolder(userId) + "/" + SocketName(guidText);
}

InstanceClaim ClaimInstanceMarker(std::string_view guidText, std::optional<std::uint32_t> userId,
                                  InstanceMarker& marker) {
    if (guidText.empty() || guidText.find('/') != std::string_view::npos) {
        return InstanceClaim::Failed;
    }
    const UniqueFd folder = OpenMarkerFolder(userId);
    if (!folder) {
        return InstanceClaim::Failed;
    }
    const std::string lockName = LockName(guidText);
    UniqueFd lock(::openat(folder.Get(), lockName.c_str(),
                           O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, kLockFileMode));
    if (!lock) {
        if (errno == EACCES || errno == EPERM) {
            return SomebodyLocks(folder.Get(), lockName) ? InstanceClaim::HeldElsewhere
                                                         : InstanceClaim::Failed;
        }
        return InstanceClaim::Failed;
    }
    struct stat info = {};
    // A hard link that a user put there to a file of root's is no lock file of ours.
    if (::fstat(lock.Get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1 ||
        (info.st_uid != ::geteuid() && (!userId || info.st_uid != *userId))) {
        return InstanceClaim::Failed;
    }
    // Root holding a user's marker for that user leaves the file to the user's own processes.
    if (userId && *userId != ::geteuid() && info.st_uid != *userId &&
        ::fchown(lock.Get(), *userId, static_cast<gid_t>(-1)) != 0) {
        return InstanceClaim::Failed;
    }
    int locked;
    do {
        locked = ::flock(lock.Get(), LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        return errno == EWOULDBLOCK ? InstanceClaim::HeldElsewhere : InstanceClaim::Failed;
    }

    // The lock proves that no live process listens on a socket left at the path.
    const std::string socketName = SocketName(guidText);
    if (::unlinkat(folder.Get(), socketName.c_str(), 0) != 0 && errno != ENOENT) {
        return InstanceClaim::Failed;
    }
    UniqueFd endpoint(::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!endpoint) {
        return InstanceClaim::Failed;
    }
    // Set before binding, so that no datagram can be queued without its sender's credentials.
    const int on = 1;
    if (::setsockopt(endpoint.Get(), SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0) {
        return InstanceClaim::Failed;
    }
    UniqueFd addressFolder;
    sockaddr_un address{};
    socklen_t length = 0;
    if (!SocketAddress(InstanceSocketPath(guidText, userId), addressFolder, address, length) ||
        ::bind(endpoint.Get(), reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
        !SetModeAndOwnerAt(folder.Get(), socketName, S_IFSOCK, kSocketMode,
                           userId && *userId != ::geteuid() ? userId : std::nullopt)) {
        return InstanceClaim::Failed;
    }
    marker.lock = IntoHandle(std::move(lock));
    marker.endpoint = IntoHandle(std::move(endpoint));
    return InstanceClaim::Held;
}

InstanceReceive ReceiveInstanceCode(NativeHandle endpoint, std::uint32_t listeningUser,
                                    std::int32_t& code) {
    std::uint8_t data[kCodeSize + 1];
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    iovec vector{data, sizeof data};
    msghdr message{};
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t got;
    do {
        got = ::recvmsg(DescriptorOf(endpoint), &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        return InstanceReceive::Nothing;
    }
    const ucred* sender = nullptr;
    for (cmsghdr* item = CMSG_FIRSTHDR(&message); item != nullptr;
         item = CMSG_NXTHDR(&message, item)) {
        if (item->cmsg_level == SOL_SOCKET && item->cmsg_type == SCM_CREDENTIALS &&
            item->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
            sender = reinterpret_cast<const ucred*>(CMSG_DATA(item));
        }
    }
    if (sender == nullptr || got != static_cast<ssize_t>(kCodeSize) ||
        (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0) {
        return InstanceReceive::Refused;
    }
    const std::uint32_t uid = sender->uid;
    if (uid != 0 && uid != ::geteuid() && uid != listeningUser) {
        return InstanceReceive::Refused;
    }
    code = static_cast<std::int32_t>(static_cast<std::uint32_t>(data[0]) | (data[1] << 8) |
                                     (data[2] << 16) | (static_cast<std::uint32_t>(data[3]) << 24));
    return InstanceReceive::Code;
}

UniqueHandle CreateInstanceSender() {
    return UniqueHandle(::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
}

bool SendInstanceCode(NativeHandle sender, const std::string& socketPath, std::int32_t code) {
    UniqueFd addressFolder;
    sockaddr_un address{};
    socklen_t length = 0;
    if (!SocketAddress(socketPath, addressFolder, address, length)) {
        return false;
    }
    const auto value = static_cast<std::uint32_t>(code);
    const std::uint8_t data[kCodeSize] = {
        static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
        static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    ssize_t sent;
    do {
        sent = ::sendto(DescriptorOf(sender), data, sizeof data, MSG_DONTWAIT | MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&address), length);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(sizeof data);
}

}  // namespace quarnel
