#pragma once

// The "Diagnose" window: the public address as the three detections see it (they should be
// equal). The detections run on a worker thread; each label fills in when its answer arrives.

#include <QLabel>
#include <QWidget>
#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <thread>

#include "ui/mailbox.h"

namespace quarnel {

struct AddressDetections {
    std::function<std::string()> https;
    std::function<std::string()> http;
    std::function<std::string()> dns;
};

class DiagnoseWindow : public QWidget {
  public:
    explicit DiagnoseWindow(AddressDetections detections);
    ~DiagnoseWindow() override;

    // The seven labels in their order: heading, then caption and address for https, http, DNS.
    QLabel& Label(int index) { return *labels_[static_cast<std::size_t>(index)]; }
    // The number of detections that have answered (0 to 3).
    int Answered() const { return answered_; }

  private:
    std::array<QLabel*, 7> labels_{};
    int answered_ = 0;
    SharedMailbox mailbox_;
};

}  // namespace quarnel
