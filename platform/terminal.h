#pragma once

// The terminal a command-line user types on.

namespace quarnel {

bool IsTerminal(int fd);

// Turns echo off on a terminal while it lives, for typing a password. Echo comes back when the
// object is destroyed, and also when the process is interrupted or terminated meanwhile (the
// signal then takes its usual effect).
class HiddenInput {
  public:
    explicit HiddenInput(int fd);
    ~HiddenInput();
    HiddenInput(const HiddenInput&) = delete;
    HiddenInput& operator=(const HiddenInput&) = delete;

    // True when echo was turned off (fd is a terminal).
    bool Active() const { return active_; }

  private:
    bool active_ = false;
    bool owner_ = false;  // this object changed the terminal and restores it
};

}  // namespace quarnel
