#pragma once

// The desktop's watch on the service's state key, also while the key does not exist yet: a tray
// started before the service's first result (the user's first run) must still see that result.
// Qt-free; ThreadSystrayMain and ThreadSettingMain share it.

#include <cstdint>

#include "platform/wait.h"

namespace quarnel {

class ServiceKeyWatch {
  public:
    // Watches the key when it exists; otherwise the nearest key above it that does, for the key
    // to appear. procedure names the watching thread in the log.
    explicit ServiceKeyWatch(const char* procedure);

    // What to wait on; null when nothing can be watched (no store yet): the caller then waits
    // RetryMilliseconds() and calls Changed as if it had fired.
    WaitEvent* Handle() const { return handle_.get(); }
    std::int64_t RetryMilliseconds() const;
    bool KeyExists() const { return onKey_; }

    // After Handle fired (or the retry time passed): waits 100 ms on the key so that the service
    // has written all its values (false when stop fires meanwhile), then watches afresh: on the
    // key once it exists, above it when it has been removed. True when the key's values should
    // be read now (KeyExists).
    bool Changed(WaitEvent& stop);

  private:
    void Arm();

    const char* procedure_;
    WaitHandle handle_;
    bool onKey_ = false;
};

}  // namespace quarnel
