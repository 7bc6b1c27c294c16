#pragma once

// The update window on Windows: the maker's offer as a tray icon and balloon, then the window
// with the status line, the download's progress, the Install button and a link to the change log.
// The Qt-free steps (update/software_update.h) run on worker threads and report through the
// window's mailbox; closing the window cancels them.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "ui/win32/gadgets_win.h"
#include "update/software_update.h"

namespace quarnel::win32 {

class UpdateWindow : public Window {
  public:
    explicit UpdateWindow(bool beta) : beta_(beta) {}
    ~UpdateWindow() override;

    // The hidden window and its controls, then the version check.
    bool Open();

  protected:
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    void StartCheck();
    void OfferChecked(const UpdateOffer& offer);
    void OpenFromTray();
    void RemoveTrayIcon();
    void CheckChannelAgain();
    void Install();
    void DownloadProgress(std::uint64_t received, std::uint64_t total);
    void DownloadEnded(DownloadOutcome outcome);
    void SetMoving(bool moving);
    void Cancel();

    bool beta_;
    HWND status_ = nullptr;
    HWND progress_ = nullptr;
    HWND install_ = nullptr;
    bool trayIcon_ = false;
    bool downloading_ = false;
    int checkGeneration_ = 0;  // only the latest check's offer counts
    UINT instanceMessage_ = 0;
    std::vector<std::thread> checkers_;
    std::thread downloader_;
    std::atomic<bool> cancelled_{false};
    bool stoppedExchanges_ = false;
    SharedMailbox mailbox_;
};

// The update mode's window until it closes; returns the exit code (0).
std::int64_t RunUpdateWindows(bool beta);

}  // namespace quarnel::win32
