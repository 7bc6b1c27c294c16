#pragma once

// The tray on Windows: a hidden tray window that owns the notification-area icon (tooltip, popup
// menu, balloons), and the "IP Updates" and "Diagnose" windows it opens. It runs on the
// user-interface thread; results from ThreadSystrayMain arrive through its mailbox. What it shows
// is decided by the shared code (result_notice.h, desktop_choices.h).

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/event_log.h"
#include "ui/result_notice.h"
#include "ui/win32/gadgets_win.h"
#include "ui/win32/images_win.h"

namespace quarnel::win32 {

// "IP Updates": one flat list of result lines, newest at the top; lines of results that arrive
// while the filler thread reads the event log stay above everything it reads.
class HistoryWindow : public Window {
  public:
    explicit HistoryWindow(const TrayImages& images) : images_(images) {}
    ~HistoryWindow() override;
    bool Open();
    void InsertLiveLine(const std::string& line, int imageSlot);

  protected:
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    void InsertLine(std::size_t index, const std::string& line, int imageSlot);

    const TrayImages& images_;
    HWND list_ = nullptr;
    HIMAGELIST imageList_ = nullptr;
    std::vector<HTREEITEM> lines_;  // top to bottom
    std::size_t liveLines_ = 0;
    std::size_t filledLines_ = 0;
    SharedMailbox mailbox_;
    std::thread filler_;
};

// "Diagnose": the public address as the https, http and DNS detections see it; they run on a
// worker thread and each label fills in when its answer arrives.
class DiagnoseWindow : public Window {
  public:
    ~DiagnoseWindow() override;
    bool Open();

  protected:
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    void ShowAddress(int label, const std::string& address);

    HWND labels_[7] = {};
    SharedMailbox mailbox_;
};

class TrayWindow : public Window {
  public:
    TrayWindow();
    ~TrayWindow() override;

    // The window, the menu, the images and the tray icon with its tooltip. False when the window
    // cannot be made; missing images are logged and the tray runs on.
    bool Open();
    // A result from ThreadSystrayMain, from any thread.
    void PostResult(const ServiceResult& result);

  protected:
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    bool AddTrayIcon();
    void SetTraySlot(int slot);
    void ShowResult(const ServiceResult& result);
    bool ShowTrayBalloon(const std::string& title, const std::string& message, int timeoutSeconds,
                         BalloonKind kind);
    void TrayEvent(UINT event);
    void ShowMenu();
    void ChooseEntry(int id);
    void OpenSettings();
    void OpenHistoryWindow();
    void OpenDiagnoseWindow();

    TrayImages images_;
    HMENU menu_ = nullptr;
    UINT taskbarCreated_ = 0;
    UINT instanceMessage_ = 0;
    int traySlot_ = SlotTrayNormal;
    int lastHistorySlot_ = SlotAccept;
    std::unique_ptr<HistoryWindow> history_;
    std::unique_ptr<DiagnoseWindow> diagnose_;
    SharedMailbox mailbox_;
};

// The systray mode's windows until the tray window closes; returns the exit code (0).
std::int64_t RunSystrayWindows();

}  // namespace quarnel::win32
