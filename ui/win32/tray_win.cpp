#include "ui/win32/tray_win.h"

#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <functional>
#include <utility>

#include "ddns/address_detection.h"
#include "diagnostics/log.h"
#include "libraries/src/adapter/adapter.h"
#include "platform/global_handles.h"
#include "platform/wait.h"
#include "platform/wide_text_win.h"
#include "resources/texts.h"
#include "startup/instance.h"
#include "startup/settings_launch.h"
#include "ui/desktop_choices.h"
#include "ui/systray_watch.h"

namespace quarnel::win32 {
namespace {

constexpr const wchar_t* kTrayClass = L"QuarnelUpdaterTray";
constexpr const wchar_t* kHistoryClass = L"QuarnelUpdaterHistory";
constexpr const wchar_t* kDiagnoseClass = L"QuarnelUpdaterDiagnose";
constexpr DWORD kFixedFrame = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr UINT kTrayIconId = 0;

NOTIFYICONDATAW TrayIconData(HWND owner) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = owner;
    data.uID = kTrayIconId;
    return data;
}

template <std::size_t N>
void CopyCut(wchar_t (&field)[N], const std::string& text) {
    ::lstrcpynW(field, Widen(text).c_str(), static_cast<int>(N));
}

DWORD BalloonFlags(BalloonKind kind) {
    switch (kind) {
        case BalloonKind::Information:
            return NIIF_INFO | NIIF_LARGE_ICON;
        case BalloonKind::Warning:
            return NIIF_WARNING | NIIF_LARGE_ICON;
        case BalloonKind::Error:
            break;
    }
    return NIIF_ERROR | NIIF_LARGE_ICON;
}

}  // namespace

// --- IP Updates ---

HistoryWindow::~HistoryWindow() {
    if (mailbox_) {
        mailbox_->Close();
    }
    if (filler_.joinable()) {
        filler_.join();
    }
    if (imageList_ != nullptr) {
        ::ImageList_Destroy(imageList_);
    }
}

bool HistoryWindow::Open() {
    if (!Create(kHistoryClass, LoadResourceText(150), kFixedFrame, 400, 300, false)) {
        return false;
    }
    mailbox_ = std::make_shared<Mailbox>(Hwnd());
    list_ = AddControl(Hwnd(), WC_TREEVIEWW, "", WS_TABSTOP | TVS_SHOWSELALWAYS, 10, 10, 380, 280,
                       1, WS_EX_CLIENTEDGE);
    imageList_ = ::ImageList_Create(16, 16, ILC_COLOR32, 5, 0);
    for (int slot = SlotAccept; slot <= SlotInformation; ++slot) {
        ::ImageList_AddIcon(imageList_, images_.Icon(slot));
    }
    TreeView_SetImageList(list_, imageList_, TVSIL_NORMAL);
    BringToFront(Hwnd());
    filler_ = std::thread([mailbox = mailbox_, this] {
        QLOG(kLogDebug, "FillHistoryFromEventLog", "Reading the event log");
        std::vector<HistoryEntry> entries = FillHistoryFromEventLog();
        mailbox->Post([this, entries = std::move(entries)] {
            for (const HistoryEntry& entry : entries) {
                InsertLine(liveLines_ + filledLines_++, entry.line, entry.imageSlot);
            }
        });
    });
    return true;
}

void HistoryWindow::InsertLiveLine(const std::string& line, int imageSlot) {
    InsertLine(0, line, imageSlot);
    ++liveLines_;
}

void HistoryWindow::InsertLine(std::size_t index, const std::string& line, int imageSlot) {
    const std::wstring text = Widen(line);
    TVINSERTSTRUCTW insert{};
    insert.hParent = TVI_ROOT;
    insert.hInsertAfter = index == 0 ? TVI_FIRST : lines_[std::min(index, lines_.size()) - 1];
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
    insert.item.pszText = const_cast<wchar_t*>(text.c_str());
    insert.item.iImage = imageSlot;
    insert.item.iSelectedImage = imageSlot;
    const auto item = reinterpret_cast<HTREEITEM>(
        ::SendMessageW(list_, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
    if (item != nullptr) {
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(std::min(index, lines_.size())),
                      item);
    }
}

LRESULT HistoryWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case kMailboxMessage:
            mailbox_->RunPending();
            return 0;
        case WM_DESTROY:
            mailbox_->Close();
            return 0;
        default:
            return Window::Handle(message, wParam, lParam);
    }
}

// --- Diagnose ---

namespace {

struct LabelPlace {
    int x;
    int y;
    int width;
    int textId;  // 0: an address
};

constexpr LabelPlace kDiagnoseLabels[] = {
    {10, 10, 200, 153}, {10, 30, 100, 155}, {110, 30, 100, 0}, {10, 50, 100, 156},
    {110, 50, 100, 0},  {10, 70, 100, 157}, {110, 70, 100, 0},
};

}  // namespace

DiagnoseWindow::~DiagnoseWindow() {
    if (mailbox_) {
        mailbox_->Close();
    }
}

bool DiagnoseWindow::Open() {
    if (!Create(kDiagnoseClass, LoadResourceText(151), kFixedFrame, 200, 100, false)) {
        return false;
    }
    mailbox_ = std::make_shared<Mailbox>(Hwnd());
    for (std::size_t i = 0; i < std::size(labels_); ++i) {
        const LabelPlace& place = kDiagnoseLabels[i];
        // SS_NOPREFIX: the addresses are what the echo pages and the resolver answered.
        labels_[i] =
            AddControl(Hwnd(), WC_STATICW, place.textId != 0 ? LoadResourceText(place.textId) : "",
                       SS_NOPREFIX, place.x, place.y, place.width, 20);
        ShowAddress(static_cast<int>(i), GetText(labels_[i]));
    }
    BringToFront(Hwnd());
    // Each detection takes up to a minute without an answer; the window does not wait. The
    // thread owns what it uses, so the window may close before it ends.
    std::thread([mailbox = mailbox_, this] {
        const std::function<std::string()> detections[] = {GetIPAddressHTTPS, GetIPAddressHTTP,
                                                           GetIPAddressDNS};
        int label = 2;
        for (const auto& detect : detections) {
            const std::string address = CleanDisplayText(detect(), 64);
            mailbox->Post([this, label, address] { ShowAddress(label, address); });
            label += 2;
        }
    }).detach();
    return true;
}

// A label widens to its text where the desktop's font needs more than its place, and the window
// to its labels.
void DiagnoseWindow::ShowAddress(int label, const std::string& address) {
    const HWND control = labels_[label];
    SetText(control, address);
    RECT place{};
    ::GetWindowRect(control, &place);
    ::MapWindowPoints(nullptr, Hwnd(), reinterpret_cast<POINT*>(&place), 2);
    const int right = place.left + WidenToText(control, 4) + 10;
    RECT client{};
    ::GetClientRect(Hwnd(), &client);
    if (right > client.right) {
        RECT frame{0, 0, right, client.bottom};
        ::AdjustWindowRectEx(&frame, kFixedFrame, FALSE, 0);
        ::SetWindowPos(Hwnd(), nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

LRESULT DiagnoseWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case kMailboxMessage:
            mailbox_->RunPending();
            return 0;
        case WM_DESTROY:
            mailbox_->Close();
            return 0;
        default:
            return Window::Handle(message, wParam, lParam);
    }
}

// --- the tray ---

TrayWindow::TrayWindow() {
    globalHandles.pendingBalloons.store(0);
}

TrayWindow::~TrayWindow() {
    if (mailbox_) {
        mailbox_->Close();
    }
    history_.reset();
    diagnose_.reset();
    if (menu_ != nullptr) {
        ::DestroyMenu(menu_);
    }
}

bool TrayWindow::Open() {
    // Invisible and 0 by 0; it only owns the icon, the menu and the callback.
    if (!Create(kTrayClass, LoadResourceText(100), WS_CAPTION | WS_SYSMENU, 0, 0, false)) {
        QLOG_ERROR_CODE(kLogError, "RunSystrayProcess", "Unable to open the tray window",
                        ::GetLastError());
        return false;
    }
    mailbox_ = std::make_shared<Mailbox>(Hwnd());
    taskbarCreated_ = ::RegisterWindowMessageW(L"TaskbarCreated");
    globalHandles.taskbarCreatedMessage = taskbarCreated_;
    instanceMessage_ = ::RegisterWindowMessageW(Widen(globalHandles.instanceMessageName).c_str());

    menu_ = ::CreatePopupMenu();
    for (const auto& [id, textId] : kTrayMenu) {
        if (id == 0) {
            ::AppendMenuW(menu_, MF_SEPARATOR, 0, nullptr);
        } else {
            ::AppendMenuW(menu_, MF_STRING, static_cast<UINT_PTR>(id),
                          Widen(LoadResourceText(textId)).c_str());
        }
    }
    // SetMenuItemState by command id: the first entry is the default one, drawn bold.
    MENUITEMINFOW state{};
    state.cbSize = sizeof state;
    state.fMask = MIIM_STATE;
    state.fState = MFS_DEFAULT;
    ::SetMenuItemInfoW(menu_, EntrySettings, FALSE, &state);

    if (!images_.Load()) {
        QLOG(kLogWarn, "RunSystrayProcess", "Some tray images are missing");
    }
    if (!AddTrayIcon()) {
        // No notification area yet: "TaskbarCreated" brings the icon when the shell starts.
        QLOG(kLogDebug, "RunSystrayProcess",
             "No notification area yet; the icon appears when one starts");
    }
    return true;
}

bool TrayWindow::AddTrayIcon() {
    NOTIFYICONDATAW data = TrayIconData(Hwnd());
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = kTrayIconMessage;
    data.hIcon = images_.Icon(SlotTrayNormal);
    CopyCut(data.szTip, LoadResourceText(100));
    traySlot_ = SlotTrayNormal;
    const bool added = ::Shell_NotifyIconW(NIM_ADD, &data) != FALSE ||
                       ::Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
    if (added) {
        QLOG(kLogDebug, "RunSystrayProcess", "Tray icon added to the notification area");
    }
    return added;
}

void TrayWindow::SetTraySlot(int slot) {
    traySlot_ = slot;
    NOTIFYICONDATAW data = TrayIconData(Hwnd());
    data.uFlags = NIF_ICON;
    data.hIcon = images_.Icon(slot);
    ::Shell_NotifyIconW(NIM_MODIFY, &data);
}

void TrayWindow::PostResult(const ServiceResult& result) {
    mailbox_->Post([this, result] { ShowResult(result); });
}

void TrayWindow::ShowResult(const ServiceResult& result) {
    const ResultNotice notice = MakeResultNotice(result, lastHistorySlot_);
    if (notice.showBalloon) {
        QLOG(kLogTrace, "ThreadSystrayMain", "Sending balloon message");
        const TrayBalloon balloon = ResultBalloon(notice.eventId, notice.code, notice.parameter);
        SetTraySlot(balloon.traySlot);
        ShowTrayBalloon(balloon.title, balloon.message, balloon.timeoutSeconds, balloon.kind);
    }
    if (history_ && history_->Exists()) {
        QLOG(kLogTrace, "ThreadSystrayMain", "Updating gadget entries");
        lastHistorySlot_ = notice.historySlot;
        history_->InsertLiveLine(notice.historyLine, notice.historySlot);
    }
}

bool TrayWindow::ShowTrayBalloon(const std::string& title, const std::string& message,
                                 int timeoutSeconds, BalloonKind kind) {
    NOTIFYICONDATAW data = TrayIconData(Hwnd());
    data.uFlags = NIF_INFO;
    CopyCut(data.szInfo, message);
    CopyCut(data.szInfoTitle, title);
    data.uTimeout = static_cast<UINT>(timeoutSeconds) * 1000;
    data.dwInfoFlags = BalloonFlags(kind);
    const bool shown = ::Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
    QLOG(kLogDebug, "ShowTrayBalloon",
         std::string(shown ? "Balloon asked for: " : "Balloon refused by the shell: ") + title +
             " - " + message);
    return shown;
}

void TrayWindow::TrayEvent(UINT event) {
    std::atomic<std::int64_t>& pending = globalHandles.pendingBalloons;
    switch (event) {
        case WM_RBUTTONDOWN:
        case WM_CONTEXTMENU:
            ShowMenu();
            break;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
            OpenSettings();
            break;
        case NIN_BALLOONSHOW:
            ++pending;
            QLOG(kLogDebug, "SystrayWindowCallback", "Balloon shown by the notification area");
            break;
        case NIN_BALLOONHIDE:
        case NIN_BALLOONTIMEOUT:
        case NIN_BALLOONUSERCLICK:
            // Never below 0: a shell that restarted may report balloons of its own.
            if (pending.load() > 0) {
                --pending;
            }
            SetTraySlot(TraySlotAfterBalloon(pending.load(), traySlot_));
            if (event == NIN_BALLOONUSERCLICK) {
                OpenSettings();
            }
            break;
        default:
            break;
    }
}

void TrayWindow::ShowMenu() {
    QLOG(kLogDebug, "SystrayWindowCallback", "Showing the popup menu");
    const bool gateway = !GetGatewayIPAddress().empty();
    ::EnableMenuItem(menu_, EntryRouter, MF_BYCOMMAND | (gateway ? MF_ENABLED : MF_GRAYED));
    POINT cursor{};
    ::GetCursorPos(&cursor);
    // The menu closes when the user clicks elsewhere only while its owner is in front.
    ::SetForegroundWindow(Hwnd());
    ::TrackPopupMenu(menu_, TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, Hwnd(), nullptr);
    ::PostMessageW(Hwnd(), WM_NULL, 0, 0);
}

void TrayWindow::ChooseEntry(int id) {
    switch (id) {
        case EntrySettings:
            OpenSettings();
            break;
        case EntryHistory:
            OpenHistoryWindow();
            break;
        case EntryDiagnose:
            OpenDiagnoseWindow();
            break;
        case EntryRouter: {
            const std::string gateway = GetGatewayIPAddress();
            if (!gateway.empty()) {
                // The router's own page rarely has a certificate a browser accepts.
                ::ShellExecuteW(nullptr, L"open", Widen("http://" + gateway).c_str(), nullptr,
                                nullptr, SW_SHOWNORMAL);
            }
            break;
        }
        case EntryQuit:
            ::DestroyWindow(Hwnd());
            break;
        default:
            break;
    }
}

void TrayWindow::OpenSettings() {
    QLOG(kLogInfo, "SystrayWindowCallback", "Opening the settings window");
    LaunchSettings();
}

void TrayWindow::OpenHistoryWindow() {
    if (history_ && history_->Exists()) {
        BringToFront(history_->Hwnd());
        return;
    }
    history_ = std::make_unique<HistoryWindow>(images_);
    if (!history_->Open()) {
        QLOG(kLogError, "OpenHistoryWindow", "Unable to open the history window");
    }
}

void TrayWindow::OpenDiagnoseWindow() {
    if (diagnose_ && diagnose_->Exists()) {
        BringToFront(diagnose_->Hwnd());
        return;
    }
    diagnose_ = std::make_unique<DiagnoseWindow>();
    if (!diagnose_->Open()) {
        QLOG(kLogError, "OpenDiagnoseWindow", "Unable to open the diagnose window");
    }
}

LRESULT TrayWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == taskbarCreated_ && taskbarCreated_ != 0) {
        // The shell has restarted: the icon goes back, in its normal form.
        QLOG(kLogInfo, "SystrayWindowCallback", "The notification area has restarted");
        globalHandles.pendingBalloons.store(0);
        AddTrayIcon();
        return 0;
    }
    if (message == instanceMessage_ && instanceMessage_ != 0) {
        switch (TrayInstanceAction(static_cast<std::int32_t>(lParam))) {
            case WindowAction::OpenSettings:
                OpenSettings();
                break;
            case WindowAction::Close:
                ::PostMessageW(Hwnd(), WM_CLOSE, 0, 0);
                break;
            default:
                break;
        }
        return 0;
    }
    switch (message) {
        case kTrayIconMessage:
            TrayEvent(LOWORD(lParam));
            return 0;
        case kMailboxMessage:
            mailbox_->RunPending();
            return 0;
        case WM_COMMAND:
            ChooseEntry(LOWORD(wParam));
            return 0;
        case WM_CLOSE:
            ::DestroyWindow(Hwnd());
            return 0;
        case WM_DESTROY: {
            mailbox_->Close();
            NOTIFYICONDATAW data = TrayIconData(Hwnd());
            ::Shell_NotifyIconW(NIM_DELETE, &data);
            if (history_ && history_->Exists()) {
                ::DestroyWindow(history_->Hwnd());
            }
            if (diagnose_ && diagnose_->Exists()) {
                ::DestroyWindow(diagnose_->Hwnd());
            }
            ::PostQuitMessage(0);
            return 0;
        }
        default:
            return Window::Handle(message, wParam, lParam);
    }
}

std::int64_t RunSystrayWindows() {
    TrayWindow window;
    if (!window.Open()) {
        return 0;
    }
    TakeTrayStartStep();

    WaitHandle stop = CreateManualEventHandle();
    std::thread watcher;
    if (stop) {
        watcher = std::thread([&window, &stop] {
            ThreadSystrayMain(
                *stop, [&window](const ServiceResult& result) { window.PostResult(result); });
        });
    } else {
        QLOG(kLogError, "RunSystrayProcess", "Unable to create the stop event; no live results");
    }

    SetProcessPriority(BelowNormalPriorityClass);
    SetProcessPriority(ProcessModeBackgroundBegin);
    RunMessageLoop();
    SetProcessPriority(ProcessModeBackgroundEnd);

    if (watcher.joinable()) {
        SetEventHandle(stop);
        watcher.join();
    }
    QLOG(kLogInfo, "RunSystrayProcess", "Tray window has been closed");
    return 0;
}

}  // namespace quarnel::win32
