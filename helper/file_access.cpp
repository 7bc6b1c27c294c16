#include "helper/file_access.h"

#include <fcntl.h>
#include <linux/landlock.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace quarnel {
namespace {

// The rights of later kernel versions, which this system's headers may not name yet.
constexpr std::uint64_t kFsRefer = 1ULL << 13;                 // version 2
constexpr std::uint64_t kFsTruncate = 1ULL << 14;              // version 3
constexpr std::uint64_t kFsIoctlDev = 1ULL << 15;              // version 5
constexpr std::uint64_t kNetBindTcp = 1ULL << 0;               // version 4
constexpr std::uint64_t kScopeAbstractUnixSocket = 1ULL << 0;  // version 6
constexpr std::uint64_t kScopeSignal = 1ULL << 1;              // version 6

constexpr std::uint64_t kFsRead = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;

// The ruleset attributes as the newest kernels take them; an older kernel is given only the
// leading fields it knows.
struct RulesetAttributes {
    std::uint64_t handledFs = 0;
    std::uint64_t handledNet = 0;
    std::uint64_t scoped = 0;
};

// Every file-system right the kernel's version knows: none of them is granted beyond reading.
std::uint64_t HandledFsRights(long version) {
    std::uint64_t rights = (LANDLOCK_ACCESS_FS_MAKE_SYM << 1) - 1;  // the rights of version 1
    if (version >= 2)
        rights |= kFsRefer;
    if (version >= 3)
        rights |= kFsTruncate;
    if (version >= 5)
        rights |= kFsIoctlDev;
    return rights;
}

// Certificates: the system's store and where Debian's tools put a local authority; the
// resolver's and the name service's configuration (and the loader's cache the name service's
// modules are found through); the kernel's random source for a library without getrandom.
constexpr const char* kReadablePaths[] = {
    "/etc/ssl",
    "/usr/lib/ssl",
    "/usr/share/ca-certificates",
    "/usr/local/share/ca-certificates",
    "/etc/ca-certificates",
    "/etc/pki",
    "/etc/resolv.conf",
    "/etc/hosts",
    "/etc/nsswitch.conf",
    "/etc/host.conf",
    "/etc/gai.conf",
    "/etc/services",
    "/etc/ld.so.cache",
    "/dev/urandom",
    "/proc/self",
};

// The folders of the shared libraries this process has mapped (the name service loads its
// modules from there as well).
std::set<std::string> LibraryFolders() {
    std::set<std::string> folders;
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        const std::size_t path = line.find('/');
        const std::size_t slash = line.rfind('/');
        if (path == std::string::npos || line.find(".so", slash) == std::string::npos) {
            continue;
        }
        folders.insert(line.substr(path, slash - path));
    }
    return folders;
}

// Lets the process read below path (a folder) or path itself (a file); a path that does not
// exist needs no rule.
bool AllowReading(int ruleset, const std::string& path) {
    const UniqueFd opened(::open(path.c_str(), O_PATH | O_CLOEXEC));
    if (!opened) {
        return errno == ENOENT || errno == ENOTDIR || errno == EACCES;
    }
    struct stat status = {};
    if (::fstat(opened.Get(), &status) != 0) {
        return false;
    }
    landlock_path_beneath_attr rule{};
    rule.allowed_access = S_ISDIR(status.st_mode) ? kFsRead : LANDLOCK_ACCESS_FS_READ_FILE;
    rule.parent_fd = opened.Get();
    return ::syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) == 0;
}

// The entries of a colon-separated list of paths (OpenSSL's SSL_CERT_DIR may name several).
void AddListed(std::set<std::string>& paths, const char* variable) {
    const char* value = std::getenv(variable);
    std::string_view list = value != nullptr ? value : "";
    while (!list.empty()) {
        const std::size_t colon = list.find(':');
        const std::string_view entry = list.substr(0, colon);
        if (!entry.empty() && entry[0] == '/') {
            paths.emplace(entry);
        }
        list.remove_prefix(colon == std::string_view::npos ? list.size() : colon + 1);
    }
}

}  // namespace

FileAccess RestrictFileAccess() {
    const long version =
        ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (version < 1) {
        // Not built in, turned off at boot, or refused by a filter of the service manager or a
        // container: the helper goes on as the system-call filter alone keeps it.
        return errno == ENOSYS || errno == EOPNOTSUPP || errno == EPERM ? FileAccess::Unavailable
                                                                        : FileAccess::Failed;
    }
    RulesetAttributes attributes;
    attributes.handledFs = HandledFsRights(version);
    std::size_t size = sizeof attributes.handledFs;
    if (version >= 4) {
        attributes.handledNet = kNetBindTcp;
        size += sizeof attributes.handledNet;
    }
    if (version >= 6) {
        attributes.scoped = kScopeAbstractUnixSocket | kScopeSignal;
        size += sizeof attributes.scoped;
    }
    const UniqueFd ruleset(
        static_cast<int>(::syscall(SYS_landlock_create_ruleset, &attributes, size, 0)));
    if (!ruleset) {
        return FileAccess::Failed;
    }
    std::set<std::string> paths(std::begin(kReadablePaths), std::end(kReadablePaths));
    AddListed(paths, "SSL_CERT_FILE");
    AddListed(paths, "SSL_CERT_DIR");
    paths.merge(LibraryFolders());
    for (const std::string& path : paths) {
        if (!AllowReading(ruleset.Get(), path)) {
            return FileAccess::Failed;
        }
    }
    return ::syscall(SYS_landlock_restrict_self, ruleset.Get(), 0) == 0 ? FileAccess::Restricted
                                                                        : FileAccess::Failed;
}

}  // namespace quarnel
