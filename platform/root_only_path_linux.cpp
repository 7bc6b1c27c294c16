#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/root_only_path.h"

namespace quarnel {
namespace {

std::string FolderAbove(const std::string& path) {
    const std::size_t cut = path.rfind('/');
    return cut == std::string::npos || cut == 0 ? std::string("/") : path.substr(0, cut);
}

std::string UserName(uid_t uid) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    const bool named =
        ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr;
    return (named ? std::string(entry.pw_name) + " " : std::string()) + "(uid " +
           std::to_string(uid) + ")";
}

std::string GroupName(gid_t gid) {
    std::vector<char> buffer(16384);
    group entry{};
    group* found = nullptr;
    const bool named =
        ::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr;
    return (named ? std::string(entry.gr_name) + " " : std::string()) + "(gid " +
           std::to_string(gid) + ")";
}

// Who besides root could change the entry at path, as a sentence; empty when nobody could.
std::string ChangeableBy(const std::string& path, const struct stat& info, bool anyGroup,
                         bool protectsBelow) {
    const bool sticky = S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX) != 0 && protectsBelow;
    if (info.st_uid != 0) {
        return path + " belongs to " + UserName(info.st_uid);
    }
    if ((info.st_mode & S_IWGRP) != 0 && (info.st_gid != 0 || anyGroup) && !sticky) {
        return path + " can be written by the group " + GroupName(info.st_gid);
    }
    if ((info.st_mode & S_IWOTH) != 0 && !sticky) {
        return path + " can be written by everybody";
    }
    return {};
}

}  // namespace

std::string FindChangeableByOthers(const std::string& path, bool anyGroup) {
    std::string existing = path;
    struct stat info = {};
    while (::lstat(existing.c_str(), &info) != 0 && existing != "/") {
        existing = FolderAbove(existing);
    }
    // The nearest entry that exists stands for what is still missing below it.
    bool protectsBelow = existing == path;
    const std::unique_ptr<char, decltype(&std::free)> resolved(
        ::realpath(existing.c_str(), nullptr), &std::free);
    if (!resolved) {
        return existing + " cannot be examined";
    }
    std::string current = resolved.get();
    for (int depth = 0; depth < PATH_MAX; ++depth) {
        if (::lstat(current.c_str(), &info) != 0) {
            return current + " cannot be examined";
        }
        if (std::string changeable = ChangeableBy(current, info, anyGroup, protectsBelow);
            !changeable.empty()) {
            return changeable;
        }
        if (current == "/") {
            break;
        }
        protectsBelow = true;
        current = FolderAbove(current);
    }
    return {};
}

RootOnlyEntry OpenRootOnly(const std::string& path, int flags) {
    RootOnlyEntry entry;
    const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                               &std::free);
    if (!resolved) {
        entry.refusal = path + " cannot be examined";
        return entry;
    }
    const std::string target = resolved.get();
    UniqueFd current(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    std::string walked = "/";
    std::size_t start = 1;
    while (true) {
        const std::size_t end = std::min(target.find('/', start), target.size());
        const bool last = end >= target.size();
        struct stat info = {};
        if (!current || ::fstat(current.Get(), &info) != 0) {
            entry.refusal = walked + " cannot be examined";
            return entry;
        }
        // Only the folders above the last entry are protected by their sticky bit.
        const bool top = walked == target;
        if (std::string changeable = ChangeableBy(walked, info, true, !top); !changeable.empty()) {
            entry.refusal = std::move(changeable);
            return entry;
        }
        if (top) {
            entry.fd = std::move(current);
            return entry;
        }
        const std::string name = target.substr(start, end - start);
        const int opening = last ? flags : O_PATH | O_DIRECTORY;
        current.Reset(::openat(current.Get(), name.c_str(), opening | O_NOFOLLOW | O_CLOEXEC));
        walked = target.substr(0, end);
        start = end + 1;
    }
}

}  // namespace quarnel
