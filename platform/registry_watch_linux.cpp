#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/registry_watch.h"
#include "platform/unique_fd.h"

namespace quarnel::registry_store {
namespace {

constexpr std::string_view kValueSuffix = ".value";
// A subtree watch of a store this size is damage or abuse; stop adding watches there.
constexpr std::size_t kMaximumWatchedFolders = 4096;

constexpr std::uint32_t kFolderMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                      IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR |
                                      IN_DONT_FOLLOW;

class KeyWatchEvent final : public WaitEvent {
  public:
    KeyWatchEvent(UniqueFd fd, bool subtree, std::int64_t deadline)
        : WaitEvent(IntoHandle(std::move(fd))), subtree_(subtree), deadline_(deadline) {}

    // Watches folder (and, for a subtree, every folder below it); false when folder itself
    // cannot be watched.
    bool AddFolder(const std::string& folder, bool top) {
        if (watched_.size() >= kMaximumWatchedFolders) {
            return !top;
        }
        const int wd = ::inotify_add_watch(DescriptorOf(Handle()), folder.c_str(), kFolderMask);
        if (wd < 0) {
            return false;
        }
        if (top) {
            topWatch_ = wd;
        }
        watched_[wd] = folder;
        if (subtree_) {
            AddSubfolders(folder);
        }
        return true;
    }

    bool TakeSignal() override {
        bool changed = false;
        alignas(struct inotify_event) char buffer[16384];
        // Bounded: a store that never stops changing still returns control.
        for (int round = 0; round < 64; ++round) {
            const ssize_t got = ::read(DescriptorOf(Handle()), buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            for (ssize_t offset = 0; offset < got;) {
                const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + offset);
                changed = Consider(*event) || changed;
                offset += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
            }
        }
        if (deadline_ >= 0 && MonotonicMilliseconds() > deadline_) {
            StopWatching();
            return false;
        }
        return changed;
    }

  private:
    void AddSubfolders(const std::string& folder) {
        std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
        if (!dir) {
            return;
        }
        std::vector<std::string> children;
        while (const dirent* entry = ::readdir(dir.get())) {
            if (IsTransientEntryName(entry->d_name)) {
                continue;  // also "." and ".."
            }
            struct stat info = {};
            if (::fstatat(::dirfd(dir.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISDIR(info.st_mode)) {
                children.push_back(folder + "/" + entry->d_name);
            }
        }
        dir.reset();
        for (const std::string& child : children) {
            AddFolder(child, false);
        }
    }

    // Whether one event is a change of the watched keys; keeps the subtree's watches current.
    bool Consider(const struct inotify_event& event) {
        if (event.mask & IN_Q_OVERFLOW) {
            return true;  // events were lost: something changed
        }
        if (event.mask & IN_IGNORED) {
            watched_.erase(event.wd);  // its folder is gone; the parent reported the deletion
            return false;
        }
        if (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
            return event.wd == topWatch_;  // below the top, the parent's event counts
        }
        const std::string_view name = event.len > 0 ? std::string_view(event.name) : "";
        if (name.empty() || IsTransientEntryName(name)) {
            return false;
        }
        if (event.mask & IN_ISDIR) {
            if (subtree_ && (event.mask & (IN_CREATE | IN_MOVED_TO))) {
                const auto folder = watched_.find(event.wd);
                if (folder != watched_.end()) {
                    AddFolder(folder->second + "/" + std::string(name), false);
                }
            }
            return (event.mask & (IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO)) != 0;
        }
        // Values arrive by rename; a file edited in place by hand counts when it is closed.
        return name.ends_with(kValueSuffix) &&
               (event.mask & (IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM | IN_CLOSE_WRITE)) != 0;
    }

    void StopWatching() {
        for (const auto& [wd, folder] : watched_) {
            ::inotify_rm_watch(DescriptorOf(Handle()), wd);
        }
        watched_.clear();
    }

    bool subtree_;
    std::int64_t deadline_;
    int topWatch_ = -1;
    std::map<int, std::string> watched_;
};

}  // namespace

WaitHandle WatchKey(RegistryHive hive, std::string_view keyPath, bool subtree,
                    std::int64_t expiryMs) {
    const std::int64_t deadline = expiryMs < 0 ? -1 : MonotonicMilliseconds() + expiryMs;
    const std::string folder = KeyFolder(hive, keyPath);
    if (folder.empty()) {
        return nullptr;
    }
    UniqueFd fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!fd) {
        return nullptr;
    }
    auto event = std::make_unique<KeyWatchEvent>(std::move(fd), subtree, deadline);
    if (!event->AddFolder(folder, true)) {
        return nullptr;
    }
    return event;
}

}  // namespace quarnel::registry_store
