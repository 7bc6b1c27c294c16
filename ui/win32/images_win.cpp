#include "ui/win32/images_win.h"

#include <objbase.h>
#include <wincodec.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <utility>

#include "diagnostics/log.h"
#include "ui/win32/gadgets_win.h"

namespace quarnel::win32 {
namespace {

constexpr int kBuildSize = 256;
constexpr int kTraySize = 16;
// The 256-pixel image of icon group 1 (resources/CMakeLists.txt numbers them from 201).
constexpr int kLargeIconImage = 201;

// Releases a COM interface when it goes.
template <typename Interface>
struct ComPointer {
    Interface* pointer = nullptr;
    ~ComPointer() {
        if (pointer != nullptr) {
            pointer->Release();
        }
    }
    Interface** operator&() { return &pointer; }
    Interface* operator->() const { return pointer; }
    explicit operator bool() const { return pointer != nullptr; }
};

std::span<const std::uint8_t> ResourceBytes(const wchar_t* name, const wchar_t* type) {
    const HMODULE module = ::GetModuleHandleW(nullptr);
    const HRSRC found = ::FindResourceW(module, name, type);
    const HGLOBAL loaded = found != nullptr ? ::LoadResource(module, found) : nullptr;
    const void* bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
        return {};
    }
    return {static_cast<const std::uint8_t*>(bytes), ::SizeofResource(module, found)};
}

// Draws the icon at size over a black and a white background; what differs is the coverage.
std::vector<std::uint32_t> DrawnOn(HICON icon, int size, COLORREF background) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = size;
    info.bmiHeader.biHeight = -size;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    const HDC context = ::CreateCompatibleDC(nullptr);
    const HBITMAP bitmap = ::CreateDIBSection(context, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    std::vector<std::uint32_t> pixels;
    if (context != nullptr && bitmap != nullptr) {
        const HGDIOBJ previous = ::SelectObject(context, bitmap);
        const HBRUSH brush = ::CreateSolidBrush(background);
        RECT all{0, 0, size, size};
        ::FillRect(context, &all, brush);
        ::DeleteObject(brush);
        ::DrawIconEx(context, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
        ::GdiFlush();
        const auto* drawn = static_cast<const std::uint32_t*>(bits);
        pixels.assign(drawn, drawn + static_cast<std::size_t>(size) * size);
        ::SelectObject(context, previous);
    }
    if (bitmap != nullptr) {
        ::DeleteObject(bitmap);
    }
    if (context != nullptr) {
        ::DeleteDC(context);
    }
    return pixels;
}

}  // namespace

Pixels DecodePng(std::span<const std::uint8_t> png) {
    Pixels pixels;
    ComPointer<IWICImagingFactory> factory;
    ComPointer<IWICStream> stream;
    ComPointer<IWICBitmapDecoder> decoder;
    ComPointer<IWICBitmapFrameDecode> frame;
    ComPointer<IWICFormatConverter> converter;
    UINT width = 0;
    UINT height = 0;
    if (png.empty() ||
        FAILED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(&factory))) ||
        FAILED(factory->CreateStream(&stream)) ||
        FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(png.data()),
                                            static_cast<DWORD>(png.size()))) ||
        FAILED(factory->CreateDecoderFromStream(stream.pointer, nullptr,
                                                WICDecodeMetadataCacheOnDemand, &decoder)) ||
        FAILED(decoder->GetFrame(0, &frame)) ||
        FAILED(factory->CreateFormatConverter(&converter)) ||
        FAILED(converter->Initialize(frame.pointer, GUID_WICPixelFormat32bppPBGRA,
                                     WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom)) ||
        FAILED(converter->GetSize(&width, &height)) || width == 0 || height == 0 || width > 1024 ||
        height > 1024) {
        return pixels;
    }
    std::vector<std::uint32_t> bgra(static_cast<std::size_t>(width) * height);
    if (FAILED(converter->CopyPixels(nullptr, width * 4, static_cast<UINT>(bgra.size() * 4),
                                     reinterpret_cast<BYTE*>(bgra.data())))) {
        return pixels;
    }
    pixels.width = static_cast<int>(width);
    pixels.height = static_cast<int>(height);
    pixels.bgra = std::move(bgra);
    return pixels;
}

Pixels PixelsOfIcon(HICON icon, int size) {
    Pixels pixels;
    const std::vector<std::uint32_t> black = DrawnOn(icon, size, RGB(0, 0, 0));
    const std::vector<std::uint32_t> white = DrawnOn(icon, size, RGB(255, 255, 255));
    if (icon == nullptr || black.empty() || black.size() != white.size()) {
        return pixels;
    }
    pixels.width = size;
    pixels.height = size;
    pixels.bgra.resize(black.size());
    for (std::size_t i = 0; i < black.size(); ++i) {
        // On black the drawn colour is the premultiplied colour; white shows through by
        // 255 - alpha.
        const int shown =
            static_cast<int>((white[i] >> 8) & 0xFF) - static_cast<int>((black[i] >> 8) & 0xFF);
        const std::uint32_t alpha =
            static_cast<std::uint32_t>(255 - std::max(0, std::min(255, shown)));
        pixels.bgra[i] = (black[i] & 0x00FFFFFF) | (alpha << 24);
    }
    return pixels;
}

void DrawOver(Pixels& target, const Pixels& source, int x, int y) {
    for (int row = 0; row < source.height; ++row) {
        for (int column = 0; column < source.width; ++column) {
            const int tx = x + column;
            const int ty = y + row;
            if (tx < 0 || ty < 0 || tx >= target.width || ty >= target.height) {
                continue;
            }
            const std::uint32_t over =
                source.bgra[static_cast<std::size_t>(row) * source.width + column];
            std::uint32_t& under = target.bgra[static_cast<std::size_t>(ty) * target.width + tx];
            const std::uint32_t keep = 255 - (over >> 24);
            std::uint32_t mixed = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                const std::uint32_t channel =
                    ((over >> shift) & 0xFF) + (((under >> shift) & 0xFF) * keep + 127) / 255;
                mixed |= std::min<std::uint32_t>(channel, 255) << shift;
            }
            under = mixed;
        }
    }
}

Pixels ScaledDown(const Pixels& source, int size) {
    Pixels scaled;
    if (source.Empty() || size <= 0) {
        return scaled;
    }
    scaled.width = size;
    scaled.height = size;
    scaled.bgra.resize(static_cast<std::size_t>(size) * size);
    for (int row = 0; row < size; ++row) {
        for (int column = 0; column < size; ++column) {
            const int top = row * source.height / size;
            const int bottom = std::max(top + 1, (row + 1) * source.height / size);
            const int left = column * source.width / size;
            const int right = std::max(left + 1, (column + 1) * source.width / size);
            std::uint64_t sums[4] = {};
            for (int y = top; y < bottom; ++y) {
                for (int x = left; x < right; ++x) {
                    const std::uint32_t pixel =
                        source.bgra[static_cast<std::size_t>(y) * source.width + x];
                    for (int channel = 0; channel < 4; ++channel) {
                        sums[channel] += (pixel >> (channel * 8)) & 0xFF;
                    }
                }
            }
            const std::uint64_t count = static_cast<std::uint64_t>(bottom - top) * (right - left);
            std::uint32_t mean = 0;
            for (int channel = 0; channel < 4; ++channel) {
                mean |= static_cast<std::uint32_t>((sums[channel] + count / 2) / count)
                        << (channel * 8);
            }
            scaled.bgra[static_cast<std::size_t>(row) * size + column] = mean;
        }
    }
    return scaled;
}

HICON IconOfPixels(const Pixels& pixels) {
    if (pixels.Empty()) {
        return nullptr;
    }
    BITMAPV5HEADER header{};
    header.bV5Size = sizeof header;
    header.bV5Width = pixels.width;
    header.bV5Height = -pixels.height;
    header.bV5Planes = 1;
    header.bV5BitCount = 32;
    header.bV5Compression = BI_BITFIELDS;
    header.bV5RedMask = 0x00FF0000;
    header.bV5GreenMask = 0x0000FF00;
    header.bV5BlueMask = 0x000000FF;
    header.bV5AlphaMask = 0xFF000000;
    void* bits = nullptr;
    const HDC screen = ::GetDC(nullptr);
    const HBITMAP colour = ::CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header),
                                              DIB_RGB_COLORS, &bits, nullptr, 0);
    ::ReleaseDC(nullptr, screen);
    if (colour == nullptr) {
        return nullptr;
    }
    std::copy(pixels.bgra.begin(), pixels.bgra.end(), static_cast<std::uint32_t*>(bits));
    // With an alpha channel in the colour image the mask is not used for drawing; it is empty.
    const HBITMAP mask = ::CreateBitmap(pixels.width, pixels.height, 1, 1, nullptr);
    ICONINFO info{};
    info.fIcon = TRUE;
    info.hbmColor = colour;
    info.hbmMask = mask;
    const HICON icon = mask != nullptr ? ::CreateIconIndirect(&info) : nullptr;
    ::DeleteObject(colour);
    if (mask != nullptr) {
        ::DeleteObject(mask);
    }
    return icon;
}

TrayImages::~TrayImages() {
    for (const HICON icon : icons_) {
        if (icon != nullptr) {
            ::DestroyIcon(icon);
        }
    }
}

bool TrayImages::Load() {
    bool complete = true;
    const wchar_t* names[] = {L"ACCEPT", L"ADD", L"ERROR", L"EXCLAMATION", L"INFORMATION"};
    for (int slot = SlotAccept; slot <= SlotInformation; ++slot) {
        icons_[static_cast<std::size_t>(slot)] =
            IconOfPixels(DecodePng(ResourceBytes(names[slot], L"PNG")));
        complete = complete && icons_[static_cast<std::size_t>(slot)] != nullptr;
    }
    const Pixels application =
        DecodePng(ResourceBytes(MAKEINTRESOURCEW(kLargeIconImage), MAKEINTRESOURCEW(3)));
    if (application.width != kBuildSize || application.height != kBuildSize) {
        QLOG(kLogError, "RunSystrayProcess", "The application icon cannot be read");
        return false;
    }
    const struct {
        int slot;
        const wchar_t* stock;
    } overlays[] = {{SlotTrayInformation, IDI_INFORMATION},
                    {SlotTrayWarning, IDI_WARNING},
                    {SlotTrayError, IDI_ERROR}};
    for (const auto& [slot, stock] : overlays) {
        Pixels composed = application;
        const HICON system = static_cast<HICON>(
            ::LoadImageW(nullptr, stock, IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
        DrawOver(composed, PixelsOfIcon(system, kBuildSize / 2), kBuildSize / 2, kBuildSize / 2);
        icons_[static_cast<std::size_t>(slot)] = IconOfPixels(ScaledDown(composed, kTraySize));
        complete =
            complete && system != nullptr && icons_[static_cast<std::size_t>(slot)] != nullptr;
    }
    icons_[SlotTrayNormal] = IconOfPixels(ScaledDown(application, kTraySize));
    return complete && icons_[SlotTrayNormal] != nullptr;
}

HICON TrayImages::Icon(int slot) const {
    return slot >= 0 && slot < static_cast<int>(icons_.size())
               ? icons_[static_cast<std::size_t>(slot)]
               : nullptr;
}

}  // namespace quarnel::win32
