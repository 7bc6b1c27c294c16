#include "ui/image_slots.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <string>
#include <utility>

#include "diagnostics/log.h"
#include "resources/resource_data.h"

namespace quarnel {
namespace {

constexpr int kIconBuildSize = 256;
constexpr int kTrayIconSize = 16;

QImage DecodePng(std::string_view name, std::string_view type) {
    const auto bytes = GetResourceBytes(name, type);
    QImage image;
    if (bytes.empty() || !image.loadFromData(reinterpret_cast<const uchar*>(bytes.data()),
                                             static_cast<int>(bytes.size()), "PNG")) {
        return {};
    }
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QStyle::StandardPixmap StockPixmap(SystemIcon icon) {
    switch (icon) {
        case SystemIcon::Information:
            return QStyle::SP_MessageBoxInformation;
        case SystemIcon::Warning:
            return QStyle::SP_MessageBoxWarning;
        case SystemIcon::Error:
            break;
    }
    return QStyle::SP_MessageBoxCritical;
}

// Draws source over target at rect: its colour (flags with kDrawColour) and its coverage into
// the target's alpha (kDrawMask alone: only the coverage, as a mask image takes it).
void DrawWithFlags(QImage& target, const QImage& source, const QRect& rect, int flags) {
    if (target.isNull() || source.isNull()) {
        return;
    }
    const QImage scaled =
        source.scaled(rect.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&target);
    if ((flags & kDrawColour) != 0) {
        painter.drawImage(rect.topLeft(), scaled);
    } else if ((flags & kDrawMask) != 0) {
        // Coverage only: white where the icon covers, as much as it covers.
        QImage coverage(scaled.size(), QImage::Format_ARGB32_Premultiplied);
        coverage.fill(Qt::white);
        coverage.setAlphaChannel(scaled.convertToFormat(QImage::Format_Alpha8));
        painter.drawImage(rect.topLeft(), coverage);
    }
}

}  // namespace

QImage ApplicationIconImage(int size) {
    return DecodePng(ApplicationIconName(size), kResourceTypeIcon);
}

QIcon ImageSlots::Icon(int slot) const {
    return QIcon(QPixmap::fromImage((*this)[slot]));
}

bool ImageSlots::LoadPng(int slot, std::string_view name) {
    (*this)[slot] = DecodePng(name, kResourceTypePng);
    return !(*this)[slot].isNull();
}

void ImageSlots::Create(int slot, int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    (*this)[slot] = image;
}

void ImageSlots::DrawIconToImage(int slot, const QImage& icon, int flags) {
    QImage& image = (*this)[slot];
    DrawWithFlags(image, icon, image.rect(), flags);
}

void ImageSlots::DrawSystemIconOverlay(int slot, SystemIcon icon, int flags) {
    QImage& image = (*this)[slot];
    const int half = image.width() / 2;
    const QIcon stock = QApplication::style()->standardIcon(StockPixmap(icon));
    const QImage picture = stock.pixmap(half, half).toImage();
    if (picture.isNull()) {
        return;  // no stock icon: the image stays as it is
    }
    DrawWithFlags(image, picture, QRect(half, image.height() / 2, half, image.height() / 2), flags);
}

void ImageSlots::CreateIconImage(int colourSlot, int maskSlot, int targetSlot) {
    // A colour image with alpha of its own defines the icon's shape, as a 32-bit icon does; a
    // colour image without any (fully transparent) takes its shape from the mask.
    QImage colour = (*this)[colourSlot].convertToFormat(QImage::Format_ARGB32);
    const QImage& mask = (*this)[maskSlot];
    bool hasAlpha = false;
    for (int y = 0; y < colour.height() && !hasAlpha; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(colour.constScanLine(y));
        for (int x = 0; x < colour.width(); ++x) {
            if (qAlpha(line[x]) != 0) {
                hasAlpha = true;
                break;
            }
        }
    }
    if (!hasAlpha && !mask.isNull()) {
        colour.setAlphaChannel(mask.scaled(colour.size()).convertToFormat(QImage::Format_Alpha8));
    }
    (*this)[targetSlot] = colour.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

void ImageSlots::SplitIconImage(int iconSlot, int colourSlot, int maskSlot) {
    const QImage icon = (*this)[iconSlot];
    Create(colourSlot, icon.width(), icon.height());
    DrawIconToImage(colourSlot, icon, kDrawColour);
    Create(maskSlot, icon.width(), icon.height());
    DrawIconToImage(maskSlot, icon, kDrawMask);
}

void ImageSlots::Resize(int slot, int width, int height) {
    QImage& image = (*this)[slot];
    image = image.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

bool ImageSlots::LoadStatusImages() {
    bool all = true;
    int slot = 0;
    for (const char* name : {"accept", "add", "error", "exclamation", "information"}) {
        if (!LoadPng(slot++, name)) {
            QLOG(kLogError, "RunSystrayProcess", std::string("Unable to load image ") + name);
            all = false;
        }
    }
    return all;
}

bool ImageSlots::BuildTrayIconSet() {
    const QImage application = ApplicationIconImage(kIconBuildSize);
    if (application.isNull()) {
        QLOG(kLogError, "RunSystrayProcess", "Unable to load the application icon");
        return false;
    }
    Create(kColourScratch, kIconBuildSize, kIconBuildSize);
    Create(kMaskScratch, kIconBuildSize, kIconBuildSize);
    DrawIconToImage(kColourScratch, application, kDrawNormal);
    DrawIconToImage(kMaskScratch, application, kDrawMask);
    CreateIconImage(kColourScratch, kMaskScratch, 5);

    const std::pair<SystemIcon, int> badges[] = {
        {SystemIcon::Information, 6}, {SystemIcon::Warning, 7}, {SystemIcon::Error, 8}};
    for (const auto& [badge, target] : badges) {
        SplitIconImage(5, kColourScratch, kMaskScratch);
        DrawSystemIconOverlay(kColourScratch, badge, kDrawNormal);
        Resize(kColourScratch, kTrayIconSize, kTrayIconSize);
        Resize(kMaskScratch, kTrayIconSize, kTrayIconSize);
        CreateIconImage(kColourScratch, kMaskScratch, target);
    }
    SplitIconImage(5, kColourScratch, kMaskScratch);
    Resize(kColourScratch, kTrayIconSize, kTrayIconSize);
    Resize(kMaskScratch, kTrayIconSize, kTrayIconSize);
    CreateIconImage(kColourScratch, kMaskScratch, 5);
    Free(kColourScratch);
    Free(kMaskScratch);
    return true;
}

QIcon ApplicationIcon() {
    QIcon icon;
    for (const int size : kApplicationIconSizes) {
        const QImage image = ApplicationIconImage(size);
        if (!image.isNull()) {
            icon.addPixmap(QPixmap::fromImage(image));
        }
    }
    return icon;
}

}  // namespace quarnel
