#pragma once

// Time since construction on the monotonic clock: a transfer's deadlines and its progress
// figures, which the helper and its caller both report in whole seconds.

#include <chrono>
#include <cstdint>

namespace quarnel {

class Stopwatch {
  public:
    std::chrono::steady_clock::duration Elapsed() const {
        return std::chrono::steady_clock::now() - start_;
    }
    std::uint64_t Seconds() const {
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::seconds>(Elapsed()).count());
    }

  private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace quarnel
