#pragma once

// Hands work from a worker thread to a window on the user-interface thread, safely even when
// the window is gone by then: the window closes its mailbox when it goes, and later posts are
// dropped.

#include <QMetaObject>
#include <QObject>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

namespace quarnel {

class Mailbox {
  public:
    explicit Mailbox(QObject* receiver) : receiver_(receiver) {}

    // Runs work on the receiver's thread, unless the mailbox is closed.
    void Post(std::function<void()> work) {
        const std::lock_guard<std::mutex> guard(lock_);
        if (receiver_ != nullptr) {
            QMetaObject::invokeMethod(receiver_, std::move(work), Qt::QueuedConnection);
        }
    }
    void Close() {
        const std::lock_guard<std::mutex> guard(lock_);
        receiver_ = nullptr;
    }

  private:
    std::mutex lock_;
    QObject* receiver_;
};

using SharedMailbox = std::shared_ptr<Mailbox>;

}  // namespace quarnel
