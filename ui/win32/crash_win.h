#pragma once

// The crash window on Windows: "Application Error" with the crash report, read-only, and a "Send
// Crash Report" button; the upload (ddns/crash_upload.h) runs on a thread of its own and reports
// through the window's mailbox.

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>

#include "ui/win32/gadgets_win.h"

namespace quarnel::win32 {

class CrashWindow : public Window {
  public:
    explicit CrashWindow(std::string report) : report_(std::move(report)) {}
    ~CrashWindow() override;
    bool Open();

  protected:
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    void StartSend();
    void Progress(std::int64_t context, std::uint64_t done, std::uint64_t total);
    void Answered(const std::string& answer);

    std::string report_;
    HWND status_ = nullptr;
    HWND progress_ = nullptr;
    HWND send_ = nullptr;
    HWND editor_ = nullptr;
    SharedMailbox mailbox_;
};

// The crash reporter's window until it closes; returns the exit code (0).
std::int64_t RunCrashWindow(const std::string& report);

}  // namespace quarnel::win32
