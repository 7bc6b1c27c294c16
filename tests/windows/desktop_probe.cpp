// The test scripts' eyes and hands on Wine's desktop: finds the program's windows, takes their
// pictures (PNG through the imaging component), clicks and types into their controls and posts
// them messages, the way a user or the shell would.
//
//   desktop_probe wait <class> <seconds>            a visible window of the class appears
//   desktop_probe gone <class> <seconds>            no visible window of the class is left
//   desktop_probe shot <class> <file.png>           the window's picture (class "desktop": all)
//   desktop_probe area <x> <y> <w> <h> <file.png>   a part of the screen
//   desktop_probe post <class> <message> <w> <l>    posts a message (numbers) to the window
//   desktop_probe click <class> <control id>        presses a button of the window
//   desktop_probe settext <class> <control id> <t>  sets a control's text
//   desktop_probe text <class> <control id>         prints a control's text
//   desktop_probe check <class> <control id> <0|1>  sets a check box
//   desktop_probe select <class> <control id> <n>   selects entry n of a drop-down list
//   desktop_probe tab <class> <index>               clicks a tab of the window's tab control
//   desktop_probe menu <seconds>                    a popup menu is open
//   desktop_probe rect <class>                      prints the window's place: x y width height
//   desktop_probe crash <class>                     makes the window's process crash: a thread
//                                                   of it starts at address 0
//   desktop_probe list                              prints every top-level window: class, shown,
//                                                   place
//
// A class "balloon" stands for the shell's balloon tooltip.
//
// Exit code 0 when it did (or found) what was asked, 1 otherwise.

#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>
#include <objbase.h>
#include <wincodec.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

HWND FindVisible(const std::wstring& className) {
    struct Search {
        std::wstring name;
        HWND found = nullptr;
    } search{className};
    ::EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto* wanted = reinterpret_cast<Search*>(context);
            wchar_t name[256] = L"";
            ::GetClassNameW(window, name, 256);
            // "balloon": the shell's balloon, a tooltip of the balloon style (the shell has
            // plain tooltips too).
            const bool matches = wanted->name == L"balloon"
                                     ? std::wstring(name) == TOOLTIPS_CLASSW &&
                                           (::GetWindowLongW(window, GWL_STYLE) & TTS_BALLOON) != 0
                                     : wanted->name == name;
            if (matches && ::IsWindowVisible(window)) {
                wanted->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Visible or not (the tray window is never shown).
HWND FindAny(const std::wstring& className) {
    const HWND visible = FindVisible(className);
    return visible != nullptr ? visible : ::FindWindowW(className.c_str(), nullptr);
}

HWND FindChild(HWND window, int id) {
    struct Search {
        int id;
        HWND found = nullptr;
    } search{id};
    ::EnumChildWindows(
        window,
        [](HWND child, LPARAM context) -> BOOL {
            auto* wanted = reinterpret_cast<Search*>(context);
            if (::GetDlgCtrlID(child) == wanted->id) {
                wanted->found = child;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindChildOfClass(HWND window, const wchar_t* className) {
    struct Search {
        const wchar_t* name;
        HWND found = nullptr;
    } search{className};
    ::EnumChildWindows(
        window,
        [](HWND child, LPARAM context) -> BOOL {
            auto* wanted = reinterpret_cast<Search*>(context);
            wchar_t name[256] = L"";
            ::GetClassNameW(child, name, 256);
            if (::lstrcmpiW(name, wanted->name) == 0) {
                wanted->found = child;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool WaitFor(bool wantVisible, const std::wstring& className, double seconds) {
    for (int i = 0; i <= static_cast<int>(seconds * 10); ++i) {
        if ((FindVisible(className) != nullptr) == wantVisible) {
            return true;
        }
        ::Sleep(100);
    }
    return false;
}

bool SavePng(const std::wstring& path, int width, int height, const std::vector<BYTE>& bgra) {
    IWICImagingFactory* factory = nullptr;
    IWICStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    bool saved = false;
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
    if (SUCCEEDED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_PPV_ARGS(&factory))) &&
        SUCCEEDED(factory->CreateStream(&stream)) &&
        SUCCEEDED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) &&
        SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
        SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
        SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) &&
        SUCCEEDED(frame->Initialize(nullptr)) &&
        SUCCEEDED(frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height))) &&
        SUCCEEDED(frame->SetPixelFormat(&format)) &&
        SUCCEEDED(frame->WritePixels(static_cast<UINT>(height), static_cast<UINT>(width) * 4,
                                     static_cast<UINT>(bgra.size()),
                                     const_cast<BYTE*>(bgra.data()))) &&
        SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit())) {
        saved = true;
    }
    for (IUnknown* object : std::initializer_list<IUnknown*>{frame, encoder, stream, factory}) {
        if (object != nullptr) {
            object->Release();
        }
    }
    return saved;
}

// The screen as shown in a place.
bool ShotOf(const RECT& place, const std::wstring& path) {
    const int width = place.right - place.left;
    const int height = place.bottom - place.top;
    const HDC screen = ::GetDC(nullptr);
    const HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    const HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ previous = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, place.left, place.top, SRCCOPY);
    ::GdiFlush();
    std::vector<BYTE> pixels(
        static_cast<const BYTE*>(bits),
        static_cast<const BYTE*>(bits) + static_cast<std::size_t>(width) * height * 4);
    for (std::size_t i = 3; i < pixels.size(); i += 4) {
        pixels[i] = 255;  // the screen is opaque
    }
    ::SelectObject(memory, previous);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return SavePng(path, width, height, pixels);
}

// A window with its frame and caption, or the whole desktop.
bool Shot(const std::wstring& className, const std::wstring& path) {
    RECT place{};
    if (className == L"desktop") {
        ::GetWindowRect(::GetDesktopWindow(), &place);
        return ShotOf(place, path);
    }
    const HWND window = FindVisible(className);
    return window != nullptr && ::GetWindowRect(window, &place) && ShotOf(place, path);
}

// A mouse click at a place on the screen, as the user makes it.
void ClickAt(int x, int y) {
    ::SetCursorPos(x, y);
    INPUT inputs[2] = {};
    inputs[0].type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[1].type = INPUT_MOUSE;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    ::SendInput(2, inputs, sizeof inputs[0]);
}

// The place of a tab's header, read in the window's own process (the message takes a pointer).
bool ClickTab(HWND window, int index) {
    const HWND tabs = FindChildOfClass(window, WC_TABCONTROLW);
    DWORD processId = 0;
    ::GetWindowThreadProcessId(tabs, &processId);
    const HANDLE process =
        ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (tabs == nullptr || process == nullptr) {
        return false;
    }
    void* remote = ::VirtualAllocEx(process, nullptr, sizeof(RECT), MEM_COMMIT, PAGE_READWRITE);
    RECT header{};
    bool found = remote != nullptr &&
                 ::SendMessageW(tabs, TCM_GETITEMRECT, static_cast<WPARAM>(index),
                                reinterpret_cast<LPARAM>(remote)) != 0 &&
                 ::ReadProcessMemory(process, remote, &header, sizeof header, nullptr);
    if (remote != nullptr) {
        ::VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    ::CloseHandle(process);
    if (!found) {
        return false;
    }
    POINT middle{(header.left + header.right) / 2, (header.top + header.bottom) / 2};
    ::ClientToScreen(tabs, &middle);
    ::SetForegroundWindow(window);
    ClickAt(middle.x, middle.y);
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const std::vector<std::wstring> args(argv + 1, argv + argc);
    const auto number = [&](std::size_t at) {
        return std::wcstoll(args.at(at).c_str(), nullptr, 0);
    };
    if (args.empty()) {
        return 2;
    }
    const std::wstring& command = args[0];
    if (command == L"wait" && args.size() == 3) {
        return WaitFor(true, args[1], std::wcstod(args[2].c_str(), nullptr)) ? 0 : 1;
    }
    if (command == L"gone" && args.size() == 3) {
        return WaitFor(false, args[1], std::wcstod(args[2].c_str(), nullptr)) ? 0 : 1;
    }
    if (command == L"list") {
        ::EnumWindows(
            [](HWND window, LPARAM) -> BOOL {
                wchar_t name[256] = L"";
                ::GetClassNameW(window, name, 256);
                RECT place{};
                ::GetWindowRect(window, &place);
                std::wprintf(L"%ls %d %ld %ld %ld %ld\n", name, ::IsWindowVisible(window) ? 1 : 0,
                             place.left, place.top, place.right - place.left,
                             place.bottom - place.top);
                return TRUE;
            },
            0);
        return 0;
    }
    if (command == L"menu" && args.size() == 2) {
        return WaitFor(true, L"#32768", std::wcstod(args[1].c_str(), nullptr)) ? 0 : 1;
    }
    if (command == L"shot" && args.size() == 3) {
        return Shot(args[1], args[2]) ? 0 : 1;
    }
    if (command == L"area" && args.size() == 6) {
        const RECT place{static_cast<LONG>(number(1)), static_cast<LONG>(number(2)),
                         static_cast<LONG>(number(1) + number(3)),
                         static_cast<LONG>(number(2) + number(4))};
        return ShotOf(place, args[5]) ? 0 : 1;
    }
    const HWND window = args.size() >= 2 ? FindAny(args[1]) : nullptr;
    if (window == nullptr) {
        std::fwprintf(stderr, L"desktop_probe: no window of class %ls\n",
                      args.size() >= 2 ? args[1].c_str() : L"");
        return 1;
    }
    if (command == L"rect") {
        RECT place{};
        ::GetWindowRect(window, &place);
        std::printf("%ld %ld %ld %ld\n", place.left, place.top, place.right - place.left,
                    place.bottom - place.top);
        return 0;
    }
    if (command == L"crash") {
        DWORD processId = 0;
        ::GetWindowThreadProcessId(window, &processId);
        const HANDLE process = ::OpenProcess(PROCESS_ALL_ACCESS, FALSE, processId);
        if (process == nullptr) {
            return 1;
        }
        // An access violation at address 0 in a thread of the program, as a call through a null
        // pointer makes it.
        const HANDLE thread =
            ::CreateRemoteThread(process, nullptr, 0, nullptr, nullptr, 0, nullptr);
        const bool started = thread != nullptr;
        if (started) {
            ::CloseHandle(thread);
        }
        ::CloseHandle(process);
        return started ? 0 : 1;
    }
    if (command == L"post" && args.size() == 5) {
        return ::PostMessageW(window, static_cast<UINT>(number(2)), static_cast<WPARAM>(number(3)),
                              static_cast<LPARAM>(number(4)))
                   ? 0
                   : 1;
    }
    if (command == L"tab" && args.size() == 3) {
        return ClickTab(window, static_cast<int>(number(2))) ? 0 : 1;
    }
    const HWND control =
        args.size() >= 3 ? FindChild(window, static_cast<int>(number(2))) : nullptr;
    if (control == nullptr) {
        std::fwprintf(stderr, L"desktop_probe: no control %ls\n",
                      args.size() >= 3 ? args[2].c_str() : L"");
        return 1;
    }
    if (command == L"click" && args.size() == 3) {
        ::SendMessageW(control, BM_CLICK, 0, 0);
        return 0;
    }
    if (command == L"settext" && args.size() == 4) {
        return ::SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(args[3].c_str()))
                   ? 0
                   : 1;
    }
    if (command == L"check" && args.size() == 4) {
        const bool wanted = number(3) != 0;
        if ((::SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED) != wanted) {
            ::SendMessageW(control, BM_CLICK, 0, 0);
        }
        return 0;
    }
    if (command == L"select" && args.size() == 4) {
        ::SendMessageW(control, CB_SETCURSEL, static_cast<WPARAM>(number(3)), 0);
        return 0;
    }
    if (command == L"text" && args.size() == 3) {
        wchar_t text[1024] = L"";
        ::SendMessageW(control, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
        const int length =
            ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
        std::string narrow(static_cast<std::size_t>(length), '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), length, nullptr, nullptr);
        std::printf("%s\n", narrow.c_str());
        return 0;
    }
    return 2;
}
