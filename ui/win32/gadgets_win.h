#pragma once

// The small Win32 pieces every window of the desktop is made of: windows with a message handler
// of their own, controls created at pixel positions (never dialog units, which scale with the
// font), the desktop's fonts, UTF-8 texts on controls, and the mailbox through which worker
// threads hand work to a window's thread.

#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace quarnel::win32 {

// Private messages of the desktop's windows.
inline constexpr UINT kMailboxMessage = WM_APP + 1;
inline constexpr UINT kTrayIconMessage = WM_APP + 2;

// A window of the desktop: created with a client area of the given size, its messages handled by
// Handle on the thread that created it. The object outlives its window.
class Window {
  public:
    Window() = default;
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND Hwnd() const { return hwnd_; }
    bool Exists() const { return hwnd_ != nullptr; }

  protected:
    // A top-level window of the class (registered on first use) with a client area of width by
    // height, centred on the screen when centred is set; invisible until shown.
    bool Create(const wchar_t* className, const std::string& title, DWORD style, int width,
                int height, bool centred);
    virtual LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);

  private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    HWND hwnd_ = nullptr;
};

// A child window that holds controls at positions relative to itself (a tab's page, a framed
// container); what its controls report goes on to its parent. border draws a flat frame.
HWND AddPanel(HWND parent, int x, int y, int width, int height, bool border);

// A control of a window class (WC_BUTTON, WC_STATIC, ...) at (x, y), width by height pixels, in
// the desktop's font; visible child unless the style says otherwise.
HWND AddControl(HWND parent, const wchar_t* kind, std::string_view text, DWORD style, int x, int y,
                int width, int height, int id = 0, DWORD extendedStyle = 0);

// The desktop's font for controls: the system's message font.
HFONT DesktopFont();
// Gives a control its current font face at sizeInPoints, bold when bold is set; the control
// keeps its font when either cannot be had. Fonts live until the process ends.
void SetGadgetFontStyle(HWND gadget, int sizeInPoints, bool bold);
// A font of a face at a size, or the desktop's font when it cannot be made.
HFONT FontOfFace(const wchar_t* face, int sizeInPoints);

void SetText(HWND control, std::string_view text);
std::string GetText(HWND control);
// The width of text drawn in the control's font, in pixels.
int TextWidth(HWND control, std::string_view text);
// Widens a control to its text (plus room for a check box or a button's edges) when it needs
// more than its width; returns the width it has.
int WidenToText(HWND control, int extra);

// Shows a window, out of the minimized state, in front and on top.
void BringToFront(HWND window);
// Tells the user of a failed action.
void ShowMessage(HWND owner, const std::string& title, const std::string& text, UINT icon);

// The application icon (icon group 1) at a size, shared, or null.
HICON ApplicationIcon(int size);

// Work from any thread, run on the window's thread while the window exists; posts after Close
// (the window is going) are dropped, and what is pending is dropped with them.
class Mailbox {
  public:
    explicit Mailbox(HWND window) : window_(window) {}
    void Post(std::function<void()> work);
    // On the window's thread, for kMailboxMessage.
    void RunPending();
    void Close();

  private:
    std::mutex lock_;
    HWND window_;
    std::deque<std::function<void()>> pending_;
};
using SharedMailbox = std::shared_ptr<Mailbox>;

// Runs the thread's message loop until WM_QUIT (a mode's window posts it when it goes);
// keyboard navigation goes to dialog, when given.
void RunMessageLoop(HWND dialog = nullptr);

// The program's desktop process has no console of its own: one that was made for it alone (it
// was started from the shell, the autostart entry or another window) goes.
void LeaveOwnConsole();

}  // namespace quarnel::win32
