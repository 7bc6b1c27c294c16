#include "ui/win32/gadgets_win.h"

#include <cstddef>
#include <utility>
#include <vector>

#include "platform/wide_text_win.h"

namespace quarnel::win32 {
namespace {

constexpr const wchar_t* kPanelClass = L"QuarnelUpdaterPanel";

// Fonts made for controls; they must outlive every control that uses them, so they stay until
// the process ends.
struct FontTable {
    std::mutex lock;
    std::vector<HFONT> fonts;
    ~FontTable() {
        for (const HFONT font : fonts) {
            ::DeleteObject(font);
        }
    }
    HFONT Keep(HFONT font) {
        if (font != nullptr) {
            const std::lock_guard<std::mutex> guard(lock);
            fonts.push_back(font);
        }
        return font;
    }
};

FontTable& Fonts() {
    static FontTable table;
    return table;
}

int PointsToPixels(int points) {
    const HDC screen = ::GetDC(nullptr);
    const int dpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen != nullptr) {
        ::ReleaseDC(nullptr, screen);
    }
    return -::MulDiv(points, dpi, 72);
}

bool RegisterClassOnce(const wchar_t* name, WNDPROC procedure, HBRUSH background) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = background;
    windowClass.lpszClassName = name;
    windowClass.hIcon = ApplicationIcon(32);
    windowClass.hIconSm = ApplicationIcon(16);
    return ::RegisterClassExW(&windowClass) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// A panel passes what its controls report to the window it belongs to.
LRESULT CALLBACK PanelProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
        case WM_NOTIFY:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
            return ::SendMessageW(::GetParent(hwnd), message, wParam, lParam);
        default:
            return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

}  // namespace

Window::~Window() {
    if (hwnd_ != nullptr) {
        ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        ::DestroyWindow(hwnd_);
    }
}

bool Window::Create(const wchar_t* className, const std::string& title, DWORD style, int width,
                    int height, bool centred) {
    if (!RegisterClassOnce(className, &Window::Procedure,
                           reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1))) {
        return false;
    }
    RECT frame{0, 0, width, height};
    ::AdjustWindowRectEx(&frame, style, FALSE, 0);
    const int outerWidth = frame.right - frame.left;
    const int outerHeight = frame.bottom - frame.top;
    int x = CW_USEDEFAULT;
    int y = CW_USEDEFAULT;
    if (centred) {
        RECT work{};
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        x = work.left + (work.right - work.left - outerWidth) / 2;
        y = work.top + (work.bottom - work.top - outerHeight) / 2;
    }
    return ::CreateWindowExW(0, className, Widen(title).c_str(), style, x, y, outerWidth,
                             outerHeight, nullptr, nullptr, ::GetModuleHandleW(nullptr),
                             this) != nullptr;
}

LRESULT Window::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::DefWindowProcW(hwnd_, message, wParam, lParam);
}

LRESULT CALLBACK Window::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* window =
            static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        window->hwnd_ = hwnd;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
    }
    auto* window = reinterpret_cast<Window*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (window == nullptr) {
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
    const LRESULT result = window->Handle(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        window->hwnd_ = nullptr;
    }
    return result;
}

HWND AddPanel(HWND parent, int x, int y, int width, int height, bool border) {
    if (!RegisterClassOnce(kPanelClass, PanelProcedure,
                           reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1))) {
        return nullptr;
    }
    return ::CreateWindowExW(WS_EX_CONTROLPARENT, kPanelClass, L"",
                             WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | (border ? WS_BORDER : 0), x,
                             y, width, height, parent, nullptr, ::GetModuleHandleW(nullptr),
                             nullptr);
}

HWND AddControl(HWND parent, const wchar_t* kind, std::string_view text, DWORD style, int x, int y,
                int width, int height, int id, DWORD extendedStyle) {
    const HWND control = ::CreateWindowExW(
        extendedStyle, kind, Widen(text).c_str(), WS_CHILD | WS_VISIBLE | style, x, y, width,
        height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
        ::GetModuleHandleW(nullptr), nullptr);
    if (control != nullptr) {
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(DesktopFont()), FALSE);
    }
    return control;
}

HFONT DesktopFont() {
    static const HFONT font = [] {
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof metrics;
        HFONT made = nullptr;
        if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
            made = Fonts().Keep(::CreateFontIndirectW(&metrics.lfMessageFont));
        }
        return made != nullptr ? made : static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
    }();
    return font;
}

void SetGadgetFontStyle(HWND gadget, int sizeInPoints, bool bold) {
    const auto current = reinterpret_cast<HFONT>(::SendMessageW(gadget, WM_GETFONT, 0, 0));
    LOGFONTW face{};
    if (current == nullptr || ::GetObjectW(current, sizeof face, &face) == 0) {
        return;
    }
    face.lfHeight = PointsToPixels(sizeInPoints);
    face.lfWidth = 0;
    face.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    const HFONT font = Fonts().Keep(::CreateFontIndirectW(&face));
    if (font != nullptr) {
        ::SendMessageW(gadget, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
}

HFONT FontOfFace(const wchar_t* faceName, int sizeInPoints) {
    LOGFONTW face{};
    face.lfHeight = PointsToPixels(sizeInPoints);
    face.lfWeight = FW_NORMAL;
    face.lfCharSet = DEFAULT_CHARSET;
    face.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    ::lstrcpynW(face.lfFaceName, faceName, LF_FACESIZE);
    const HFONT font = Fonts().Keep(::CreateFontIndirectW(&face));
    return font != nullptr ? font : DesktopFont();
}

void SetText(HWND control, std::string_view text) {
    ::SetWindowTextW(control, Widen(text).c_str());
}

std::string GetText(HWND control) {
    const int length = ::GetWindowTextLengthW(control);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = ::GetWindowTextW(control, text.data(), length + 1);
    text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    return Narrow(text);
}

int TextWidth(HWND control, std::string_view text) {
    const HDC context = ::GetDC(control);
    if (context == nullptr) {
        return 0;
    }
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
    const HGDIOBJ previous = ::SelectObject(context, font != nullptr ? font : DesktopFont());
    const std::wstring wide = Widen(text);
    SIZE size{};
    ::GetTextExtentPoint32W(context, wide.c_str(), static_cast<int>(wide.size()), &size);
    ::SelectObject(context, previous);
    ::ReleaseDC(control, context);
    return size.cx;
}

int WidenToText(HWND control, int extra) {
    RECT place{};
    ::GetWindowRect(control, &place);
    ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&place), 2);
    const int needed = TextWidth(control, GetText(control)) + extra;
    const int width = place.right - place.left;
    if (needed <= width) {
        return width;
    }
    ::SetWindowPos(control, nullptr, 0, 0, needed, place.bottom - place.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    return needed;
}

void BringToFront(HWND window) {
    ::ShowWindow(window, ::IsIconic(window) ? SW_RESTORE : SW_SHOW);
    ::SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ::SetForegroundWindow(window);
}

void ShowMessage(HWND owner, const std::string& title, const std::string& text, UINT icon) {
    ::MessageBoxW(owner, Widen(text).c_str(), Widen(title).c_str(), MB_OK | icon);
}

HICON ApplicationIcon(int size) {
    return static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1),
                                           IMAGE_ICON, size, size, LR_SHARED));
}

void Mailbox::Post(std::function<void()> work) {
    const std::lock_guard<std::mutex> guard(lock_);
    if (window_ == nullptr) {
        return;
    }
    pending_.push_back(std::move(work));
    if (pending_.size() == 1) {
        ::PostMessageW(window_, kMailboxMessage, 0, 0);
    }
}

void Mailbox::RunPending() {
    while (true) {
        std::function<void()> work;
        {
            const std::lock_guard<std::mutex> guard(lock_);
            if (window_ == nullptr || pending_.empty()) {
                return;
            }
            work = std::move(pending_.front());
            pending_.pop_front();
        }
        work();
    }
}

void Mailbox::Close() {
    std::deque<std::function<void()>> dropped;
    const std::lock_guard<std::mutex> guard(lock_);
    window_ = nullptr;
    dropped.swap(pending_);
}

void RunMessageLoop(HWND dialog) {
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (dialog != nullptr && ::IsWindow(dialog) && ::IsDialogMessageW(dialog, &message)) {
            continue;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

void LeaveOwnConsole() {
    DWORD processes[2] = {};
    if (::GetConsoleWindow() != nullptr && ::GetConsoleProcessList(processes, 2) == 1) {
        ::FreeConsole();
    }
}

}  // namespace quarnel::win32
