#include "ui/win32/update_win.h"

#include <shellapi.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "diagnostics/log.h"
#include "platform/exchange_stop.h"
#include "platform/global_handles.h"
#include "platform/wide_text_win.h"
#include "resources/texts.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "startup/instance.h"
#include "ui/desktop_choices.h"
#include "update/privileged_install.h"

namespace quarnel::win32 {
namespace {

constexpr const wchar_t* kUpdateClass = L"QuarnelUpdaterUpdate";
constexpr DWORD kFrame = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr int IdInstall = 1;
constexpr int IdChangeLog = 2;
constexpr UINT kTrayIconId = 1;

NOTIFYICONDATAW TrayIconData(HWND owner) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = owner;
    data.uID = kTrayIconId;
    return data;
}

}  // namespace

UpdateWindow::~UpdateWindow() {
    cancelled_ = true;
    if (mailbox_) {
        mailbox_->Close();
    }
    for (std::thread& checker : checkers_) {
        checker.join();
    }
    if (downloader_.joinable()) {
        downloader_.join();
    }
    if (stoppedExchanges_) {
        AllowNetworkExchanges();
    }
}

bool UpdateWindow::Open() {
    if (!Create(kUpdateClass, LoadResourceText(100) + " - " + LoadResourceText(35200), kFrame, 400,
                390, true)) {
        return false;
    }
    mailbox_ = std::make_shared<Mailbox>(Hwnd());
    instanceMessage_ = ::RegisterWindowMessageW(Widen(globalHandles.instanceMessageName).c_str());

    const HWND top = AddPanel(Hwnd(), 7, 7, 386, 126, true);
    const HWND icon = AddControl(top, WC_STATICW, "", SS_ICON, 10, 10, 32, 32);
    ::SendMessageW(icon, STM_SETICON, reinterpret_cast<WPARAM>(ApplicationIcon(32)), 0);
    const HWND title =
        AddControl(top, WC_STATICW, LoadResourceText(35200), SS_NOPREFIX, 50, 18, 324, 16);
    SetGadgetFontStyle(title, 8, true);
    // Two lines high, so that the reason for a refusal fits whole in either language; the bar
    // moves down a little for it. The maker's version text is shown as it is, never as markup.
    status_ = AddControl(top, WC_STATICW, LoadResourceText(35205), SS_NOPREFIX, 10, 43, 364, 28);
    progress_ = AddControl(top, PROGRESS_CLASSW, "", PBS_SMOOTH, 10, 72, 364, 16);
    ::SendMessageW(progress_, PBM_SETRANGE32, 0, 100);
    install_ = AddControl(top, WC_BUTTONW, LoadResourceText(35201), WS_TABSTOP | BS_PUSHBUTTON, 275,
                          92, 100, 22, IdInstall);
    // 100 pixels wide or as wide as its text needs, with the right edge in place.
    const int width = std::max(100, TextWidth(install_, LoadResourceText(35201)) + 16);
    ::SetWindowPos(install_, nullptr, 375 - width, 92, width, 22, SWP_NOZORDER | SWP_NOACTIVATE);
    ::EnableWindow(install_, FALSE);

    // The change log as a link: the window renders no page from the network.
    const HWND bottom = AddPanel(Hwnd(), 7, 140, 386, 243, true);
    const std::string url = MakerSiteUrl("/changelog.html");
    AddControl(bottom, WC_LINK, "<a href=\"" + url + "\">" + url + "</a>", 0, 10, 10, 364, 20,
               IdChangeLog);
    StartCheck();
    return true;
}

void UpdateWindow::StartCheck() {
    const bool beta = beta_;
    const int generation = ++checkGeneration_;
    checkers_.emplace_back([this, beta, generation, mailbox = mailbox_] {
        const UpdateOffer offer = CheckSoftwareVersion(beta);
        mailbox->Post([this, offer, generation] {
            if (generation == checkGeneration_) {
                OfferChecked(offer);
            }
        });
    });
}

void UpdateWindow::OfferChecked(const UpdateOffer& offer) {
    if (cancelled_) {
        return;
    }
    if (!offer.newer) {
        QLOG(kLogDebug, "CheckSoftwareVersion",
             offer.version.empty() ? std::string("No version published for the channel")
                                   : "No newer version than this build: " + offer.version);
        if (::IsWindowVisible(Hwnd())) {
            SetText(status_, GetLocalizedText(35207, offer.version));
        } else {
            ::DestroyWindow(Hwnd());  // the usual case: no trace for the user
        }
        return;
    }
    QLOG(kLogInfo, "CheckSoftwareVersion", "Version " + offer.version + " is available");
    const TrayBalloon balloon = UpdateOfferBalloon(offer.version);
    SetText(status_, balloon.message);
    ::EnableWindow(install_, TRUE);
    if (::IsWindowVisible(Hwnd())) {
        return;
    }
    NOTIFYICONDATAW data = TrayIconData(Hwnd());
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO;
    data.uCallbackMessage = kTrayIconMessage;
    data.hIcon =
        static_cast<HICON>(::LoadImageW(nullptr, IDI_INFORMATION, IMAGE_ICON, 16, 16, LR_SHARED));
    ::lstrcpynW(data.szTip, Widen(LoadResourceText(35200)).c_str(), ARRAYSIZE(data.szTip));
    ::lstrcpynW(data.szInfo, Widen(balloon.message).c_str(), ARRAYSIZE(data.szInfo));
    ::lstrcpynW(data.szInfoTitle, Widen(balloon.title).c_str(), ARRAYSIZE(data.szInfoTitle));
    data.uTimeout = static_cast<UINT>(balloon.timeoutSeconds) * 1000;
    data.dwInfoFlags = NIIF_INFO | NIIF_LARGE_ICON;
    trayIcon_ = ::Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
    if (!trayIcon_) {
        // No notification area to offer it in: the window opens at once.
        OpenFromTray();
    }
}

void UpdateWindow::RemoveTrayIcon() {
    if (trayIcon_) {
        NOTIFYICONDATAW data = TrayIconData(Hwnd());
        ::Shell_NotifyIconW(NIM_DELETE, &data);
        trayIcon_ = false;
    }
}

void UpdateWindow::OpenFromTray() {
    RemoveTrayIcon();
    BringToFront(Hwnd());
}

void UpdateWindow::CheckChannelAgain() {
    const bool beta =
        ReadRegistryDword(RegistryHive::LocalMachine, kProductKey, kValueSoftwareBeta) != 0;
    if (beta == beta_ || downloading_ || cancelled_) {
        return;
    }
    QLOG(kLogInfo, "CheckSoftwareVersion",
         std::string("The channel changed to ") + (beta ? "beta" : "release") + "; checking again");
    beta_ = beta;
    RemoveTrayIcon();
    ::EnableWindow(install_, FALSE);
    SetText(status_, LoadResourceText(35205));
    StartCheck();
}

void UpdateWindow::SetMoving(bool moving) {
    const LONG_PTR style = ::GetWindowLongPtrW(progress_, GWL_STYLE);
    ::SetWindowLongPtrW(progress_, GWL_STYLE, moving ? style | PBS_MARQUEE : style & ~PBS_MARQUEE);
    ::SendMessageW(progress_, PBM_SETMARQUEE, moving ? TRUE : FALSE, 10);
}

void UpdateWindow::Install() {
    if (!::IsWindowEnabled(install_) || downloading_) {
        return;
    }
    ::EnableWindow(install_, FALSE);
    downloading_ = true;
    SetText(status_, LoadResourceText(35208));
    SetMoving(false);
    ::SendMessageW(progress_, PBM_SETPOS, 0, 0);
    DownloadRequest request;
    request.beta = beta_;
    request.cancelled = &cancelled_;
    const std::atomic<bool>* cancelled = &cancelled_;
    SharedMailbox mailbox = mailbox_;
    // Only a verified installer reaches the elevated step; the status says so before it runs.
    request.install = [this, mailbox, cancelled](const std::string& path,
                                                 const std::string& version) {
        mailbox->Post([this] { SetText(status_, LoadResourceText(35210)); });
        return StartPrivilegedInstall(path, version, cancelled);
    };
    request.onProgress = [this, mailbox](std::int64_t, std::uint64_t received, std::uint64_t total,
                                         std::uint64_t) {
        mailbox->Post([this, received, total] { DownloadProgress(received, total); });
    };
    if (downloader_.joinable()) {
        downloader_.join();
    }
    downloader_ = std::thread([this, request, mailbox] {
        const DownloadOutcome outcome = DownloadSoftwareUpdate(request);
        mailbox->Post([this, outcome] { DownloadEnded(outcome); });
    });
}

void UpdateWindow::DownloadProgress(std::uint64_t received, std::uint64_t total) {
    if (!downloading_) {
        return;
    }
    const DownloadProgressShown shown = ShowDownloadProgress(received, total);
    SetMoving(shown.moving);
    if (!shown.moving) {
        ::SendMessageW(progress_, PBM_SETPOS, static_cast<WPARAM>(shown.percent), 0);
    }
    if (shown.checkingSignature) {
        SetText(status_, LoadResourceText(35209));
    }
}

void UpdateWindow::DownloadEnded(DownloadOutcome outcome) {
    downloading_ = false;
    QLOG(outcome == DownloadOutcome::Installing ? kLogInfo : kLogWarn, "DownloadSoftwareUpdate",
         DownloadOutcomeText(outcome));
    const DownloadEndShown shown = ShowDownloadEnd(outcome);
    if (!shown.changesWindow) {
        return;
    }
    SetMoving(false);
    ::SendMessageW(progress_, PBM_SETPOS, static_cast<WPARAM>(shown.percent), 0);
    SetText(status_, LoadResourceText(shown.statusTextId));
    ::EnableWindow(install_, shown.installEnabled ? TRUE : FALSE);
    if (shown.closeWindow) {
        ::DestroyWindow(Hwnd());
    }
}

// A closed window wants nothing more: the download or check in progress ends within about a
// second, whatever the server does, and nothing is installed afterwards.
void UpdateWindow::Cancel() {
    cancelled_ = true;
    if (downloading_ || !checkers_.empty()) {
        QLOG(kLogInfo, "UpdateWindowCallback", "Window closed: the update is cancelled");
        StopNetworkExchanges();
        stoppedExchanges_ = true;
    }
}

LRESULT UpdateWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == instanceMessage_ && instanceMessage_ != 0) {
        switch (UpdateInstanceAction(static_cast<std::int32_t>(lParam))) {
            case WindowAction::Close:
                ::PostMessageW(Hwnd(), WM_CLOSE, 0, 0);
                break;
            case WindowAction::CheckChannel:
                CheckChannelAgain();
                break;
            default:
                break;
        }
        return 0;
    }
    switch (message) {
        case kMailboxMessage:
            mailbox_->RunPending();
            return 0;
        case kTrayIconMessage:
            switch (LOWORD(lParam)) {
                case WM_LBUTTONDOWN:
                case WM_LBUTTONDBLCLK:
                case NIN_BALLOONUSERCLICK:
                    OpenFromTray();
                    break;
                case NIN_BALLOONHIDE:
                    // The shell took the balloon away: the offer ends with it.
                    RemoveTrayIcon();
                    ::PostMessageW(Hwnd(), WM_CLOSE, 0, 0);
                    break;
                default:
                    break;  // a time-out leaves the icon, which still opens the window
            }
            return 0;
        case WM_COMMAND:
            if (LOWORD(wParam) == IdInstall && HIWORD(wParam) == BN_CLICKED) {
                Install();
            }
            return 0;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->idFrom == IdChangeLog &&
                (header->code == NM_CLICK || header->code == NM_RETURN)) {
                ::ShellExecuteW(nullptr, L"open",
                                reinterpret_cast<const NMLINK*>(lParam)->item.szUrl, nullptr,
                                nullptr, SW_SHOWNORMAL);
            }
            return 0;
        }
        case WM_CLOSE:
            ::DestroyWindow(Hwnd());
            return 0;
        case WM_DESTROY:
            RemoveTrayIcon();
            Cancel();
            mailbox_->Close();
            ::PostQuitMessage(0);
            return 0;
        default:
            return Window::Handle(message, wParam, lParam);
    }
}

std::int64_t RunUpdateWindows(bool beta) {
    UpdateWindow window(beta);
    if (!window.Open()) {
        return 0;
    }
    SetProcessPriority(BelowNormalPriorityClass);
    SetProcessPriority(ProcessModeBackgroundBegin);
    RunMessageLoop(window.Hwnd());
    SetProcessPriority(ProcessModeBackgroundEnd);
    return 0;
}

}  // namespace quarnel::win32
