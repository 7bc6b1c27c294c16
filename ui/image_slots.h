#pragma once

// The tray process's numbered images and the helpers that compose the tray icons: the status
// pictures in slots 0..4, the tray icon set in slots 5..8, scratch colour and mask images in
// slots 9 and 10 while the set is built. A colour image carries its own alpha; a mask image
// holds coverage in its alpha channel.

#include <QIcon>
#include <QImage>
#include <array>
#include <cstddef>
#include <string_view>

namespace quarnel {

// Draw flags: the mask only, the colour only, both (normal drawing).
inline constexpr int kDrawMask = 1;
inline constexpr int kDrawColour = 2;
inline constexpr int kDrawNormal = 3;

// Stock icons drawn over the tray icon.
enum class SystemIcon { Information, Warning, Error };

class ImageSlots {
  public:
    static constexpr int kCount = 11;
    static constexpr int kColourScratch = 9;
    static constexpr int kMaskScratch = 10;

    QImage& operator[](int slot) { return images_[static_cast<std::size_t>(slot)]; }
    const QImage& operator[](int slot) const { return images_[static_cast<std::size_t>(slot)]; }
    QIcon Icon(int slot) const;

    // A decoded PNG resource of type "PNG" into slot; false when it is missing or damaged.
    bool LoadPng(int slot, std::string_view name);
    // A fresh fully transparent image.
    void Create(int slot, int width, int height);
    void Free(int slot) { (*this)[slot] = QImage(); }

    // The image helpers.
    void DrawIconToImage(int slot, const QImage& icon, int flags);
    void DrawSystemIconOverlay(int slot, SystemIcon icon, int flags);
    void CreateIconImage(int colourSlot, int maskSlot, int targetSlot);
    void SplitIconImage(int iconSlot, int colourSlot, int maskSlot);
    void Resize(int slot, int width, int height);

    // Slots 0..4 from the status pictures, then the tray icon set (5..8); false when a picture
    // or the application icon is missing (the slots that could be made are kept).
    bool LoadStatusImages();
    bool BuildTrayIconSet();

  private:
    std::array<QImage, kCount> images_;
};

// The application icon in one size (a "quarnel-updater-<size>" resource), or a null image.
QImage ApplicationIconImage(int size);
// The application icon in all its sizes: the icon of every window.
QIcon ApplicationIcon();

}  // namespace quarnel
