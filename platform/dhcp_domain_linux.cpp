#include <dirent.h>
#include <fcntl.h>
#include <net/if.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/dhcp_domain.h"
#include "platform/dhcp_lease_parsers.h"
#include "platform/dhcp_networkmanager_linux.h"
#include "platform/paths.h"
#include "platform/unique_fd.h"

namespace quarnel {
namespace {

// A folder with more entries than this is read only this far; lease folders hold a handful.
constexpr std::size_t kMaximumFolderEntries = 256;
// NetworkManager's lease names carry the connection's UUID in its usual 36-character form.
constexpr std::size_t kUuidLength = 36;

enum class FileRead { Read, Missing, Failed };

// Reads a regular file of at most kMaximumLeaseFileSize bytes. Opening does not block (a FIFO
// placed where a lease should be is refused, not waited on).
FileRead ReadLeaseFile(const std::string& path, std::string& text, std::string& problem) {
    text.clear();
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd) {
        if (errno == ENOENT) {
            return FileRead::Missing;
        }
        problem = path + " cannot be opened: " + std::strerror(errno);
        return FileRead::Failed;
    }
    struct stat info = {};
    if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        problem = path + " is not a regular file";
        return FileRead::Failed;
    }
    if (static_cast<std::uint64_t>(info.st_size) > kMaximumLeaseFileSize) {
        problem = path + " is too large (" + std::to_string(info.st_size) + " bytes)";
        return FileRead::Failed;
    }
    char buffer[8192];
    while (true) {
        const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            problem = path + " cannot be read: " + std::strerror(errno);
            return FileRead::Failed;
        }
        if (got == 0) {
            return FileRead::Read;
        }
        // The file may grow after fstat; the bound holds for what is read.
        if (text.size() + static_cast<std::size_t>(got) > kMaximumLeaseFileSize) {
            problem = path + " is too large";
            text.clear();
            return FileRead::Failed;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

struct FolderEntry {
    std::string path;
    std::string name;
    std::int64_t modified = 0;
};

void SortNewestFirst(std::vector<FolderEntry>& entries) {
    std::sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) {
        return a.modified != b.modified ? a.modified > b.modified : a.path < b.path;
    });
}

// The lease files of a folder, newest first (ties by name, so the order is stable).
std::vector<FolderEntry> ListLeaseFiles(const LeaseFolder& folder) {
    std::vector<FolderEntry> entries;
    DIR* directory = ::opendir(folder.path.c_str());
    if (directory == nullptr) {
        return entries;
    }
    std::size_t seen = 0;
    while (const dirent* entry = ::readdir(directory)) {
        if (++seen > kMaximumFolderEntries) {
            break;
        }
        const std::string name = entry->d_name;
        if (!IsLeaseFileName(folder.kind, name)) {
            continue;
        }
        FolderEntry item{folder.path + "/" + name, name, 0};
        struct stat info = {};
        if (::stat(item.path.c_str(), &info) == 0) {
            item.modified =
                static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
        }
        entries.push_back(std::move(item));
    }
    ::closedir(directory);
    SortNewestFirst(entries);
    return entries;
}

// NetworkManager names its lease files <client>-<uuid>-<interface>.lease; the client is
// "internal" (KEY=VALUE) or "dhclient" (dhclient syntax).
bool NetworkManagerLeaseFor(std::string_view name, std::string_view interfaceName,
                            bool& dhclientSyntax) {
    if (!name.ends_with(".lease")) {
        return false;
    }
    name.remove_suffix(6);
    for (const std::string_view client : {"internal-", "dhclient-"}) {
        if (!name.starts_with(client)) {
            continue;
        }
        const std::string_view rest = name.substr(client.size());
        if (rest.size() > kUuidLength + 1 && rest[kUuidLength] == '-' &&
            rest.substr(kUuidLength + 1) == interfaceName) {
            dhclientSyntax = client == "dhclient-";
            return true;
        }
    }
    return false;
}

void NoteRefusedDomain(const std::string& path, const LeaseDomain& lease,
                       DhcpDomainAnswer& answer) {
    if (!lease.problem.empty()) {
        answer.problems.push_back(path + ": " + lease.problem);
    }
}

// Source 1: systemd-networkd keeps one lease file per interface index while it holds a lease.
bool FromNetworkd(const std::string& interfaceName, DhcpDomainAnswer& answer) {
    const unsigned index = ::if_nametoindex(interfaceName.c_str());
    if (index == 0) {
        return false;
    }
    const std::string path = RootedPath("/run/systemd/netif/leases/" + std::to_string(index));
    std::string text;
    std::string problem;
    const FileRead read = ReadLeaseFile(path, text, problem);
    if (read == FileRead::Missing) {
        return false;
    }
    answer.source = "systemd-networkd lease " + path;
    if (read == FileRead::Failed) {
        answer.problems.push_back(problem);
        return true;
    }
    const LeaseDomain lease = ParseKeyValueLease(text);
    if (!lease.wellFormed) {
        answer.problems.push_back(path + " is malformed: " + lease.problem);
        return true;
    }
    NoteRefusedDomain(path, lease, answer);
    answer.domain = lease.domain;
    return true;
}

// Source 2, without the bus: the newest lease file NetworkManager wrote for the interface.
bool FromNetworkManagerFiles(const std::string& interfaceName, DhcpDomainAnswer& answer) {
    const LeaseFolder folder{RootedPath("/var/lib/NetworkManager"),
                             LeaseFolderKind::NetworkManager};
    for (const FolderEntry& entry : ListLeaseFiles(folder)) {
        bool dhclientSyntax = false;
        if (!NetworkManagerLeaseFor(entry.name, interfaceName, dhclientSyntax)) {
            continue;
        }
        answer.source = "NetworkManager lease " + entry.path;
        std::string text;
        std::string problem;
        if (ReadLeaseFile(entry.path, text, problem) != FileRead::Read) {
            answer.problems.push_back(problem.empty() ? entry.path + " vanished" : problem);
            return true;
        }
        const LeaseDomain lease =
            dhclientSyntax ? ParseDhclientLeases(text, interfaceName) : ParseKeyValueLease(text);
        if (!lease.wellFormed) {
            answer.problems.push_back(entry.path + " is malformed: " + lease.problem);
            return true;
        }
        NoteRefusedDomain(entry.path, lease, answer);
        answer.domain = lease.domain;
        return true;
    }
    return false;
}

// Source 3: dhclient's lease lists, newest file first across both folders. A file that cannot be
// read or parsed may or may not be about this interface, so it is noted and passed over.
bool FromDhclient(const std::string& interfaceName, DhcpDomainAnswer& answer) {
    std::vector<FolderEntry> files;
    for (const char* folderPath : {"/var/lib/dhcp", "/var/lib/dhclient"}) {
        for (FolderEntry& entry :
             ListLeaseFiles({RootedPath(folderPath), LeaseFolderKind::Dhclient})) {
            files.push_back(std::move(entry));
        }
    }
    SortNewestFirst(files);
    for (const FolderEntry& entry : files) {
        std::string text;
        std::string problem;
        if (ReadLeaseFile(entry.path, text, problem) != FileRead::Read) {
            if (!problem.empty()) {
                answer.problems.push_back(problem);
            }
            continue;
        }
        const LeaseDomain lease = ParseDhclientLeases(text, interfaceName);
        if (!lease.wellFormed) {
            answer.problems.push_back(entry.path + " is malformed: " + lease.problem);
            continue;
        }
        if (lease.leaseFound) {
            NoteRefusedDomain(entry.path, lease, answer);
            answer.source = "dhclient lease " + entry.path;
            answer.domain = lease.domain;
            return true;
        }
    }
    return false;
}

}  // namespace

std::vector<LeaseFolder> DhcpLeaseFolders() {
    return {{RootedPath("/run/systemd/netif/leases"), LeaseFolderKind::Networkd},
            {RootedPath("/var/lib/NetworkManager"), LeaseFolderKind::NetworkManager},
            {RootedPath("/var/lib/dhcp"), LeaseFolderKind::Dhclient},
            {RootedPath("/var/lib/dhclient"), LeaseFolderKind::Dhclient}};
}

bool IsLeaseFileName(LeaseFolderKind kind, std::string_view name) {
    if (name.empty() || name.front() == '.') {
        // Hidden names are the clients' temporary files before their rename.
        return false;
    }
    switch (kind) {
        case LeaseFolderKind::Networkd:
            return name.find_first_not_of("0123456789") == std::string_view::npos;
        case LeaseFolderKind::NetworkManager:
            return name.ends_with(".lease");
        case LeaseFolderKind::Dhclient:
            return name.starts_with("dhclient") && !name.starts_with("dhclient6") &&
                   (name.ends_with(".leases") || name.ends_with(".lease"));
    }
    return false;
}

DhcpDomainAnswer FindDhcpDomain(const std::string& interfaceName) {
    DhcpDomainAnswer answer;
    if (interfaceName.empty() || interfaceName.find('/') != std::string::npos) {
        return answer;
    }
    if (FromNetworkd(interfaceName, answer)) {
        return answer;
    }
    const NetworkManagerDhcp manager = AskNetworkManagerDhcp(interfaceName);
    if (!manager.problem.empty() && manager.onBus) {
        answer.problems.push_back(manager.problem);
    }
    if (manager.onBus) {
        if (manager.managesInterface) {
            answer.source = "NetworkManager over D-Bus";
            answer.domain = manager.domain;
            if (!answer.domain.empty() && !IsAcceptableDomainName(answer.domain)) {
                answer.problems.push_back(
                    "NetworkManager's domain name holds characters a domain cannot have");
                answer.domain.clear();
            }
            return answer;
        }
    } else if (FromNetworkManagerFiles(interfaceName, answer)) {
        return answer;
    }
    FromDhclient(interfaceName, answer);
    return answer;
}

}  // namespace quarnel
