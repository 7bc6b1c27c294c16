#include "ui/win32/crash_win.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <memory>
#include <thread>
#include <utility>

#include "ddns/crash_upload.h"
#include "diagnostics/log.h"
#include "platform/text.h"
#include "startup/instance.h"
#include "ui/desktop_texts.h"

namespace quarnel::win32 {
namespace {

constexpr const wchar_t* kCrashClass = L"QuarnelUpdaterCrash";
constexpr DWORD kFrame = WS_CAPTION | WS_SYSMENU;
constexpr int IdSend = 1;
constexpr const char* kTitle = "Application Error";
constexpr const char* kSendText = "Send Crash Report";

int ClampToInt(std::uint64_t value) {
    return static_cast<int>(std::min<std::uint64_t>(value, std::numeric_limits<int>::max()));
}

// The editor shows lines ended by CR LF.
std::string WithCrLf(const std::string& text) {
    std::string lines;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
            lines += '\r';
        }
        lines += text[i];
    }
    return lines;
}

}  // namespace

CrashWindow::~CrashWindow() {
    if (mailbox_) {
        mailbox_->Close();
    }
}

bool CrashWindow::Open() {
    if (!Create(kCrashClass, kTitle, kFrame, 400, 390, true)) {
        return false;
    }
    mailbox_ = std::make_shared<Mailbox>(Hwnd());
    const HWND upper = AddPanel(Hwnd(), 7, 7, 386, 126, true);
    const HWND icon = AddControl(upper, WC_STATICW, "", SS_ICON, 10, 10, 32, 32);
    ::SendMessageW(
        icon, STM_SETICON,
        reinterpret_cast<WPARAM>(::LoadImageW(nullptr, IDI_HAND, IMAGE_ICON, 32, 32, LR_SHARED)),
        0);
    const HWND heading = AddControl(upper, WC_STATICW, kTitle, SS_NOPREFIX, 50, 18, 324, 16);
    SetGadgetFontStyle(heading, 8, true);
    status_ = AddControl(upper, WC_STATICW, "", SS_NOPREFIX, 10, 50, 364, 16);
    progress_ = AddControl(upper, PROGRESS_CLASSW, "", PBS_SMOOTH, 10, 66, 364, 18);
    ::SendMessageW(progress_, PBM_SETRANGE32, 0, 100);
    send_ = AddControl(upper, WC_BUTTONW, kSendText, WS_TABSTOP | BS_PUSHBUTTON, 275, 92, 100, 22,
                       IdSend);
    // At the right edge, growing to the left when the font needs more than 100 pixels.
    const int width = std::max(100, TextWidth(send_, kSendText) + 16);
    ::SetWindowPos(send_, nullptr, 375 - width, 92, width, 22, SWP_NOZORDER | SWP_NOACTIVATE);

    const HWND lower = AddPanel(Hwnd(), 7, 140, 386, 243, true);
    editor_ = AddControl(lower, WC_EDITW, WithCrLf(report_),
                         WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY |
                             ES_AUTOHSCROLL | ES_AUTOVSCROLL,
                         0, 0, 384, 241);
    ::SendMessageW(editor_, WM_SETFONT, reinterpret_cast<WPARAM>(FontOfFace(L"Courier New", 10)),
                   TRUE);
    return true;
}

void CrashWindow::StartSend() {
    ::EnableWindow(send_, FALSE);
    SetText(status_, "Sending crash report ...");
    QLOG(kLogTrace, "ThreadErrorWindow", "Creating error report thread from window");
    // The thread reaches the window only through the mailbox, so that closing the window while
    // the upload runs ends the window at once.
    std::thread([this, report = report_, mailbox = mailbox_] {
        const std::string answer =
            SendCrashReport(report, [this, mailbox](std::int64_t context, std::uint64_t done,
                                                    std::uint64_t total, std::uint64_t) {
                mailbox->Post([this, context, done, total] { Progress(context, done, total); });
            });
        mailbox->Post([this, answer] { Answered(answer); });
    }).detach();
}

void CrashWindow::Progress(std::int64_t context, std::uint64_t done, std::uint64_t total) {
    if (context != kCrashWindowId) {
        return;
    }
    ::SendMessageW(progress_, PBM_SETRANGE32, 0, ClampToInt(total));
    ::SendMessageW(progress_, PBM_SETPOS, static_cast<WPARAM>(ClampToInt(done)), 0);
    if (done == total) {
        SetText(status_, "Finished sending crash report");
        ::SetWindowLongPtrW(progress_, GWL_STYLE,
                            ::GetWindowLongPtrW(progress_, GWL_STYLE) | PBS_MARQUEE);
        ::SendMessageW(progress_, PBM_SETMARQUEE, TRUE, 10);
    }
}

void CrashWindow::Answered(const std::string& answer) {
    if (answer.empty()) {
        // The send has given up: the window says so and stays open, the button disabled, with
        // the report selected for copying.
        QLOG(kLogWarn, "ThreadErrorSend", "The crash report could not be sent");
        SetText(status_, GetDesktopText(DesktopText::CrashReportNotSent));
        ::SendMessageW(progress_, PBM_SETPOS, 0, 0);
        ::SetFocus(editor_);
        ::SendMessageW(editor_, EM_SETSEL, 0, -1);
        return;
    }
    if (IsCrashReportAccepted(answer)) {
        ShowMessage(Hwnd(), "Crash Report", "Crash report successfully send, thanks!",
                    MB_ICONINFORMATION);
    }
    ::DestroyWindow(Hwnd());
}

LRESULT CrashWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case kMailboxMessage:
            mailbox_->RunPending();
            return 0;
        case WM_COMMAND:
            if (LOWORD(wParam) == IdSend && HIWORD(wParam) == BN_CLICKED) {
                StartSend();
            }
            return 0;
        case WM_CTLCOLORSTATIC:
            // The read-only report on white, as an editor shows text.
            if (reinterpret_cast<HWND>(lParam) == editor_) {
                ::SetBkColor(reinterpret_cast<HDC>(wParam), ::GetSysColor(COLOR_WINDOW));
                return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
            }
            return Window::Handle(message, wParam, lParam);
        case WM_CLOSE:
            ::DestroyWindow(Hwnd());
            return 0;
        case WM_DESTROY:
            mailbox_->Close();
            ::PostQuitMessage(0);
            return 0;
        default:
            return Window::Handle(message, wParam, lParam);
    }
}

std::int64_t RunCrashWindow(const std::string& report) {
    CrashWindow window(report);
    if (!window.Open()) {
        return 0;
    }
    // The window waits for the user; the machine's other work comes first meanwhile.
    SetProcessPriority(BelowNormalPriorityClass);
    SetProcessPriority(ProcessModeBackgroundBegin);
    BringToFront(window.Hwnd());
    RunMessageLoop(window.Hwnd());
    SetProcessPriority(ProcessModeBackgroundEnd);
    return 0;
}

}  // namespace quarnel::win32
