#pragma once

// The tray process's images on Windows: the five status pictures, decoded from the program's
// "PNG" resources with the Windows imaging component, and the tray icon set, composed from the
// application icon and the system's stock icons. Pixels are premultiplied BGRA, so drawing one
// image over another and scaling down are plain sums.

#include <windows.h>

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "ui/result_notice.h"

namespace quarnel::win32 {

struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> bgra;  // premultiplied, rows from the top
    bool Empty() const { return bgra.empty(); }
};

// A PNG decoded with the Windows imaging component; empty when it cannot be.
Pixels DecodePng(std::span<const std::uint8_t> png);
// An icon drawn at size by size (its colour and its coverage, whatever the icon's format).
Pixels PixelsOfIcon(HICON icon, int size);
// source drawn over target with its top-left corner at (x, y).
void DrawOver(Pixels& target, const Pixels& source, int x, int y);
// Scaled down to size by size, each pixel the mean of the ones it covers (smoothing).
Pixels ScaledDown(const Pixels& source, int size);
// An icon of the pixels (colour with alpha, and a mask the alpha stands in for); null on failure.
HICON IconOfPixels(const Pixels& pixels);

// Slots 0..4 (the status pictures) and 5..8 (the tray icons) as icons.
class TrayImages {
  public:
    TrayImages() = default;
    ~TrayImages();
    TrayImages(const TrayImages&) = delete;
    TrayImages& operator=(const TrayImages&) = delete;

    // The status pictures from the "PNG" resources, then the tray icon set: the application
    // icon at 256 pixels, the stock information, warning and error icons at half that size in
    // its bottom-right quarter, each scaled down to 16. False when an image is missing (the
    // slots that could be made are kept).
    bool Load();
    HICON Icon(int slot) const;

  private:
    std::array<HICON, 9> icons_{};
};

}  // namespace quarnel::win32
