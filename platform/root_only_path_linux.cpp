#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <string>
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
        const bool sticky = S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX) != 0 && protectsBelow;
        if (info.st_uid != 0) {
            return current + " belongs to " + UserName(info.st_uid);
        }
        if ((info.st_mode & S_IWGRP) != 0 && (info.st_gid != 0 || anyGroup) && !sticky) {
            return current + " can be written by the group " + GroupName(info.st_gid);
        }
        if ((info.st_mode & S_IWOTH) != 0 && !sticky) {
            return current + " can be written by everybody";
        }
        if (current == "/") {
            break;
        }
        protectsBelow = true;
        current = FolderAbove(current);
    }
    return {};
}

}  // namespace quarnel
