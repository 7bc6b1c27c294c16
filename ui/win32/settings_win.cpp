#include "ui/win32/settings_win.h"

#include <shellapi.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <thread>
#include <utility>

#include "diagnostics/log.h"
#include "libraries/src/service/autostart.h"
#include "platform/global_handles.h"
#include "platform/process.h"
#include "platform/process_control.h"
#include "platform/product.h"
#include "platform/wide_text_win.h"
#include "resources/texts.h"
#include "startup/apply_operations.h"
#include "ui/desktop_choices.h"
#include "ui/setting_watch.h"

namespace quarnel::win32 {
namespace {

constexpr const wchar_t* kSettingsClass = L"QuarnelUpdaterSettings";
constexpr DWORD kFrame = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr COLORREF kGrey = RGB(70, 70, 70);

// Control ids: the window's, then each tab's from its own base.
enum : int {
    IdTabs = 100,
    IdUserName = 110,
    IdPassword,
    IdHostName,
    IdInterval,
    IdProvider,
    IdAutostart,
    IdIPv6,
    IdLocal = 120,     // field, insert, remove, list, filter
    IdWireless = 130,  // the same
    IdAbout = 140,
    IdBeta,
};

int Selected(HWND list, UINT message) {
    return static_cast<int>(::SendMessageW(list, message, 0, 0));
}

void OpenUrl(const std::wstring& url) {
    ::ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace

SettingsWindow::SettingsWindow(const SettingsForm& form, const SettingsWindowSetup& setup)
    : form_(form), setup_(setup) {}

SettingsWindow::~SettingsWindow() {
    if (mailbox_) {
        mailbox_->Close();
    }
}

bool SettingsWindow::Open() {
    if (!Create(kSettingsClass, LoadResourceText(100), kFrame, 400, 270, false)) {
        return false;
    }
    ::SetWindowLongPtrW(Hwnd(), GWL_EXSTYLE,
                        ::GetWindowLongPtrW(Hwnd(), GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
    mailbox_ = std::make_shared<Mailbox>(Hwnd());
    instanceMessage_ = ::RegisterWindowMessageW(Widen(globalHandles.instanceMessageName).c_str());
    // The window usually runs elevated; the instance message of the user's other processes
    // (a second /setting, /quit) must still reach it.
    ::ChangeWindowMessageFilterEx(Hwnd(), instanceMessage_, MSGFLT_ALLOW, nullptr);

    const HWND ok = AddControl(Hwnd(), WC_BUTTONW, LoadResourceText(111),
                               WS_TABSTOP | BS_DEFPUSHBUTTON, 204, 240, 90, 22, IDOK);
    SetGadgetFontStyle(ok, 8, true);
    AddControl(Hwnd(), WC_BUTTONW, LoadResourceText(112), WS_TABSTOP | BS_PUSHBUTTON, 302, 240, 90,
               22, IDCANCEL);
    tabs_ = AddControl(Hwnd(), WC_TABCONTROLW, "", WS_TABSTOP | WS_CLIPSIBLINGS, 7, 7, 386, 226,
                       IdTabs);
    std::vector<int> tabTexts = {122, 158};
    if (setup_.wirelessTab) {
        tabTexts.push_back(123);
    }
    tabTexts.push_back(124);
    for (std::size_t i = 0; i < tabTexts.size(); ++i) {
        const std::wstring text = Widen(LoadResourceText(tabTexts[i]));
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<wchar_t*>(text.c_str());
        ::SendMessageW(tabs_, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
    }
    GeneralTab();
    NetworkTabOf(local_, 159, 160, setup_.currentNetwork, form_.localFilter, form_.localNetworks);
    if (setup_.wirelessTab) {
        NetworkTabOf(wireless_, 129, 132, setup_.currentWireless, form_.wirelessFilter,
                     form_.wirelessNetworks);
    }
    AboutTab();
    ShowPage(0);
    return true;
}

HWND SettingsWindow::AddPage() {
    // A page covers the tab control's display area; controls on it are placed relative to it.
    RECT area{0, 0, 386, 226};
    ::SendMessageW(tabs_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
    const HWND page = AddPanel(Hwnd(), 7 + area.left, 7 + area.top, area.right - area.left,
                               area.bottom - area.top, false);
    ::SetWindowPos(page, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    pages_.push_back(page);
    return page;
}

HWND SettingsWindow::Label(HWND page, int textId, bool bold, int x, int y, int width, int height) {
    const HWND label =
        AddControl(page, WC_STATICW, LoadResourceText(textId), SS_NOPREFIX, x, y, width, height);
    if (bold) {
        SetGadgetFontStyle(label, 8, true);
    } else {
        grey_.insert(label);
    }
    return label;
}

HWND SettingsWindow::DropDown(HWND page, int id, const std::vector<std::string>& entries,
                              int selected, int x, int y) {
    // The height covers the opened list; the closed one is as high as its font.
    const HWND list = AddControl(page, WC_COMBOBOXW, "", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST,
                                 x, y, 150, 200, id);
    int widest = 150;
    for (const std::string& entry : entries) {
        ::SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(entry).c_str()));
        widest = std::max(widest, TextWidth(list, entry) + 24);
    }
    // The opened list as wide as its longest entry ("Für diesen Benutzer aktiv").
    ::SendMessageW(list, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(widest), 0);
    ::SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
    return list;
}

void SettingsWindow::GeneralTab() {
    const HWND page = AddPage();
    Label(page, 102, true, 10, 10, 150);
    userName_ = AddControl(page, WC_EDITW, form_.userName, WS_TABSTOP | ES_AUTOHSCROLL, 10, 25, 150,
                           20, IdUserName, WS_EX_CLIENTEDGE);
    Label(page, 103, true, 10, 55, 150);
    password_ =
        AddControl(page, WC_EDITW, form_.password, WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD, 10,
                   70, 150, 20, IdPassword, WS_EX_CLIENTEDGE);
    Label(page, 104, false, 10, 100, 150);
    hostName_ = AddControl(page, WC_EDITW, form_.hostName, WS_TABSTOP | ES_AUTOHSCROLL, 10, 115,
                           150, 20, IdHostName, WS_EX_CLIENTEDGE);

    std::vector<std::string> intervals;
    for (const std::int64_t minutes : form_.intervals) {
        intervals.push_back(GetLocalizedText(117, std::to_string(minutes)));
    }
    std::vector<std::string> providers;
    for (const int textId : kProviderTextIds) {
        providers.push_back(LoadResourceText(textId));
    }
    std::vector<std::string> autostarts;
    for (const int textId : kAutostartTextIds) {
        autostarts.push_back(LoadResourceText(textId));
    }
    Label(page, 108, false, 180, 10, 150);
    interval_ = DropDown(page, IdInterval, intervals, form_.intervalIndex, 180, 25);
    Label(page, 109, false, 180, 55, 150);
    provider_ = DropDown(page, IdProvider, providers, form_.providerIndex, 180, 70);
    Label(page, 110, false, 180, 100, 150);
    autostart_ = DropDown(page, IdAutostart, autostarts, form_.autostartIndex, 180, 115);

    // In the free row between the fields and the status lines, so no other control moves.
    ipv6_ =
        AddControl(page, WC_BUTTONW, "", WS_TABSTOP | BS_AUTOCHECKBOX, 10, 142, 165, 20, IdIPv6);
    ::SendMessageW(ipv6_, BM_SETCHECK, form_.ipv6 ? BST_CHECKED : BST_UNCHECKED, 0);
    OfferIPv6();

    // The status lines show what the service recorded, a provider's answer among it.
    lastUpdate_ = AddControl(page, WC_STATICW, "", SS_NOPREFIX, 180, 165, 200, 15);
    lastResult_ = AddControl(page, WC_STATICW, "", SS_NOPREFIX, 180, 180, 200, 15);
    grey_.insert(lastUpdate_);
    grey_.insert(lastResult_);
    ShowStatus(setup_.status);
}

void SettingsWindow::NetworkTabOf(NetworkTab& tab, int labelText, int filterText,
                                  const std::string& current, bool filter,
                                  const std::vector<std::string>& entries) {
    tab.firstId = &tab == &local_ ? IdLocal : IdWireless;
    tab.page = AddPage();
    Label(tab.page, labelText, false, 10, 10, 150);
    tab.field = AddControl(tab.page, WC_EDITW, current, WS_TABSTOP | ES_AUTOHSCROLL, 10, 25, 150,
                           20, tab.firstId, WS_EX_CLIENTEDGE);
    tab.insert = AddControl(tab.page, WC_BUTTONW, LoadResourceText(130), WS_TABSTOP, 165, 24, 60,
                            22, tab.firstId + 1);
    tab.remove = AddControl(tab.page, WC_BUTTONW, LoadResourceText(131), WS_TABSTOP, 230, 24, 60,
                            22, tab.firstId + 2);
    tab.list = AddControl(tab.page, WC_LISTBOXW, "",
                          WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, 10, 55, 280,
                          110, tab.firstId + 3, WS_EX_CLIENTEDGE);
    for (const std::string& entry : entries) {
        ::SendMessageW(tab.list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(entry).c_str()));
    }
    tab.filter = AddControl(tab.page, WC_BUTTONW, LoadResourceText(filterText),
                            WS_TABSTOP | BS_AUTOCHECKBOX, 10, 170, 220, 20, tab.firstId + 4);
    WidenToText(tab.filter, 24);
    ::SendMessageW(tab.filter, BM_SETCHECK, filter ? BST_CHECKED : BST_UNCHECKED, 0);
    RefreshNetworkTab(tab, NetworkTabEvent::Start);
}

void SettingsWindow::AboutTab() {
    const HWND page = AddPage();
    // The links are part of the about text: the makers' name and the icon site.
    std::string markup;
    for (const AboutPiece& piece : AboutTextPieces()) {
        markup +=
            piece.url.empty() ? piece.text : "<a href=\"" + piece.url + "\">" + piece.text + "</a>";
    }
    AddControl(page, WC_LINK, markup, 0, 10, 10, 360, 155, IdAbout);
    beta_ = AddControl(page, WC_BUTTONW, LoadResourceText(161), WS_TABSTOP | BS_AUTOCHECKBOX, 10,
                       170, 170, 20, IdBeta);
    const int betaWidth = WidenToText(beta_, 24);
    ::SendMessageW(beta_, BM_SETCHECK, form_.beta ? BST_CHECKED : BST_UNCHECKED, 0);
    const HWND build = AddControl(page, WC_STATICW, BuildLine(), SS_NOPREFIX,
                                  std::max(180, 10 + betaWidth + 4), 174, 180, 15);
    grey_.insert(build);
}

// A status line wider than the room to the page's edge moves left into the free space below the
// host name, rather than being cut by the page.
void SettingsWindow::ShowStatus(const ServiceResult& status) {
    SetText(lastUpdate_, LastUpdateLine(status.time));
    SetText(lastResult_, LastResultLine(status.time, status.result));
    for (const HWND line : {lastUpdate_, lastResult_}) {
        ::SetWindowPos(line, nullptr, 180, line == lastUpdate_ ? 165 : 180, 200, 15,
                       SWP_NOZORDER | SWP_NOACTIVATE);
        const int width = WidenToText(line, 2);
        RECT page{};
        ::GetClientRect(::GetParent(line), &page);
        const int left = std::max(10, std::min(180, static_cast<int>(page.right) - 4 - width));
        ::SetWindowPos(line, nullptr, left, line == lastUpdate_ ? 165 : 180, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

// The IPv6 box names what the chosen provider takes; for one that takes IPv4 only it is disabled
// and keeps its state as stored.
void SettingsWindow::OfferIPv6() {
    const int textId = IPv6ChoiceTextId(Selected(provider_, CB_GETCURSEL));
    SetText(ipv6_, LoadResourceText(textId));
    ::EnableWindow(ipv6_, textId == 166 ? TRUE : FALSE);
    ::SetWindowPos(ipv6_, nullptr, 0, 0, 165, 20, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    WidenToText(ipv6_, 24);
}

void SettingsWindow::ShowPage(int index) {
    for (std::size_t i = 0; i < pages_.size(); ++i) {
        ::ShowWindow(pages_[i], static_cast<int>(i) == index ? SW_SHOW : SW_HIDE);
    }
    ::SendMessageW(tabs_, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void SettingsWindow::RefreshNetworkTab(const NetworkTab& tab, NetworkTabEvent event) {
    const NetworkTabEnabling enabling = EnablingOfNetworkTab(
        event, ::SendMessageW(tab.filter, BM_GETCHECK, 0, 0) == BST_CHECKED,
        ::GetWindowTextLengthW(tab.field) > 0, Selected(tab.list, LB_GETCURSEL) >= 0);
    ::EnableWindow(tab.field, enabling.field);
    ::EnableWindow(tab.list, enabling.list);
    ::EnableWindow(tab.insert, enabling.insert);
    ::EnableWindow(tab.remove, enabling.remove);
}

bool SettingsWindow::NetworkCommand(NetworkTab& tab, int id, int code) {
    if (tab.page == nullptr || id < tab.firstId || id > tab.firstId + 4) {
        return false;
    }
    const int control = id - tab.firstId;
    if (control == 4 && code == BN_CLICKED) {
        if (::SendMessageW(tab.filter, BM_GETCHECK, 0, 0) != BST_CHECKED) {
            SetText(tab.field, "");
            ::SendMessageW(tab.list, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        }
        RefreshNetworkTab(tab, NetworkTabEvent::FilterChanged);
        return true;
    }
    if (control == 1 && code == BN_CLICKED && ::GetWindowTextLengthW(tab.field) > 0) {
        const std::string entry = CutNetworkEntry(GetText(tab.field));
        ::SendMessageW(tab.list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(entry).c_str()));
        SetText(tab.field, "");
    } else if (control == 2 && code == BN_CLICKED) {
        const int selected = Selected(tab.list, LB_GETCURSEL);
        if (selected >= 0) {
            ::SendMessageW(tab.list, LB_DELETESTRING, static_cast<WPARAM>(selected), 0);
            ::SendMessageW(tab.list, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        }
    }
    // Only what changes the field or the selection counts (not focus or other notifications).
    if (code == EN_CHANGE || code == LBN_SELCHANGE || code == BN_CLICKED) {
        RefreshNetworkTab(tab, NetworkTabEvent::ContentChanged);
    }
    return true;
}

SettingsForm SettingsWindow::Form() const {
    SettingsForm form;
    form.userName = GetText(userName_);
    form.password = GetText(password_);
    form.hostName = GetText(hostName_);
    form.intervals = form_.intervals;
    form.intervalIndex = Selected(interval_, CB_GETCURSEL);
    form.providerIndex = Selected(provider_, CB_GETCURSEL);
    form.autostartIndex = Selected(autostart_, CB_GETCURSEL);
    const auto entries = [](HWND list) {
        std::vector<std::string> texts;
        const int count = list != nullptr ? Selected(list, LB_GETCOUNT) : 0;
        for (int i = 0; i < count; ++i) {
            const auto length = ::SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
            std::wstring text(static_cast<std::size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
            ::SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i),
                           reinterpret_cast<LPARAM>(text.data()));
            text.resize(static_cast<std::size_t>(std::max<LRESULT>(length, 0)));
            texts.push_back(Narrow(text));
        }
        return texts;
    };
    const auto checked = [](HWND box) {
        return box != nullptr && ::SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
    };
    form.localFilter = checked(local_.filter);
    form.localNetworks = entries(local_.list);
    form.wirelessFilter = checked(wireless_.filter);
    form.wirelessNetworks = entries(wireless_.list);
    form.ipv6 = checked(ipv6_);
    form.beta = checked(beta_);
    return form;
}

void SettingsWindow::Apply() {
    const std::vector<std::string> failed =
        StoreSettings(ValuesOfForm(Form(), setup_.wirelessTab), DefaultApplyOperations());
    if (!failed.empty()) {
        std::string names;
        for (const std::string& name : failed) {
            names += (names.empty() ? "" : ", ") + name;
        }
        QLOG(kLogError, "ApplySettings", "Not stored: " + names);
        ShowMessage(Hwnd(), LoadResourceText(100), NotStoredMessage(failed), MB_ICONWARNING);
    }
}

void SettingsWindow::PostStatus(const ServiceResult& status) {
    mailbox_->Post([this, status] { ShowStatus(status); });
}

void SettingsWindow::PostClose() {
    mailbox_->Post([this] { ::DestroyWindow(Hwnd()); });
}

LRESULT SettingsWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == instanceMessage_ && instanceMessage_ != 0) {
        switch (SettingsInstanceAction(static_cast<std::int32_t>(lParam))) {
            case WindowAction::Close:
                ::PostMessageW(Hwnd(), WM_CLOSE, 0, 0);
                break;
            case WindowAction::Show:
                BringToFront(Hwnd());
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
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            const int code = HIWORD(wParam);
            if (id == IDOK && code == BN_CLICKED) {
                Apply();
                ::DestroyWindow(Hwnd());
            } else if (id == IDCANCEL) {
                ::DestroyWindow(Hwnd());
            } else if (id == IdProvider && code == CBN_SELCHANGE) {
                OfferIPv6();
            } else if (!NetworkCommand(local_, id, code)) {
                NetworkCommand(wireless_, id, code);
            }
            return 0;
        }
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->idFrom == IdTabs && header->code == TCN_SELCHANGE) {
                ShowPage(static_cast<int>(::SendMessageW(tabs_, TCM_GETCURSEL, 0, 0)));
            } else if (header->idFrom == IdAbout &&
                       (header->code == NM_CLICK || header->code == NM_RETURN)) {
                OpenUrl(reinterpret_cast<const NMLINK*>(lParam)->item.szUrl);
            }
            return 0;
        }
        case WM_CTLCOLORSTATIC: {
            const auto context = reinterpret_cast<HDC>(wParam);
            if (grey_.count(reinterpret_cast<HWND>(lParam)) != 0) {
                ::SetTextColor(context, kGrey);
            }
            ::SetBkColor(context, ::GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
        }
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

std::int64_t RunSettingWindows() {
    const SettingsWindowSetup setup = ReadSettingsWindowSetup();
    const SettingsForm form = ReadSettingsForm(GetAutostart(ServiceName, GetProgramPath()));
    SettingsWindow window(form, setup);
    if (!window.Open()) {
        QLOG(kLogError, "RunSettingProcess", "Unable to open the settings window");
        return 0;
    }

    WaitHandle stop = CreateManualEventHandle();
    std::thread watcher;
    if (stop) {
        const std::uint32_t parent =
            ReadParentProcessId(static_cast<std::uint32_t>(CurrentProcessId()));
        watcher = std::thread([&window, &stop, parent] {
            ThreadSettingMain(
                *stop, parent,
                {[&window](const ServiceResult& result) { window.PostStatus(result); },
                 [&window] { window.PostClose(); }});
        });
    } else {
        QLOG(kLogError, "RunSettingProcess", "Unable to create the stop event; no live status");
    }

    BringToFront(window.Hwnd());
    RunMessageLoop(window.Hwnd());

    if (watcher.joinable()) {
        SetEventHandle(stop);
        watcher.join();
    }
    QLOG(kLogDebug, "RunSettingProcess", "Settings window has been closed");
    return 0;
}

}  // namespace quarnel::win32
