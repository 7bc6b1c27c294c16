#include <windows.h>

#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>

#include "platform/clock.h"
#include "platform/handle_win.h"
#include "platform/registry_key_win.h"
#include "platform/registry_watch.h"

namespace quarnel::registry_store {
namespace {

#ifndef REG_NOTIFY_THREAD_AGNOSTIC
#define REG_NOTIFY_THREAD_AGNOSTIC 0x10000000L
#endif

constexpr DWORD kFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;

// RegNotifyChangeKeyValue signals the event once per request: each fired wait asks again, so
// that later changes count too. The request does not depend on the thread that made it (it
// would end with that thread otherwise).
class KeyWatchEvent final : public WaitEvent {
  public:
    KeyWatchEvent(UniqueHandle event, HKEY key, bool subtree, std::int64_t deadline)
        : WaitEvent(std::move(event)), key_(key), subtree_(subtree), deadline_(deadline) {}
    ~KeyWatchEvent() override { ::RegCloseKey(key_); }

    bool Arm() {
        const HANDLE event = AsWindowsHandle(Handle());
        if (::RegNotifyChangeKeyValue(key_, subtree_, kFilter | REG_NOTIFY_THREAD_AGNOSTIC, event,
                                      TRUE) == ERROR_SUCCESS) {
            return true;
        }
        // Older systems (and Wine) know no thread-agnostic request.
        return ::RegNotifyChangeKeyValue(key_, subtree_, kFilter, event, TRUE) == ERROR_SUCCESS;
    }

    bool TakeSignal() override {
        if (deadline_ >= 0 && MonotonicMilliseconds() >= deadline_) {
            return false;  // expired: never fires again, and is not asked for more
        }
        (void)Arm();
        return true;
    }

  private:
    HKEY key_;
    bool subtree_;
    std::int64_t deadline_;
};

}  // namespace

WaitHandle WatchKey(RegistryHive hive, std::string_view keyPath, bool subtree,
                    std::int64_t expiryMs) {
    const std::int64_t deadline = expiryMs < 0 ? -1 : MonotonicMilliseconds() + expiryMs;
    KeyLocation location;
    HKEY key = nullptr;
    if (!LocateKey(hive, keyPath, location) ||
        ::RegOpenKeyExW(location.root, location.path.c_str(), 0, KEY_NOTIFY, &key) !=
            ERROR_SUCCESS) {
        return nullptr;
    }
    UniqueHandle event = OwnWindowsHandle(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!event) {
        ::RegCloseKey(key);
        return nullptr;
    }
    auto watch = std::make_unique<KeyWatchEvent>(std::move(event), key, subtree, deadline);
    if (!watch->Arm()) {
        return nullptr;
    }
    return watch;
}

}  // namespace quarnel::registry_store
