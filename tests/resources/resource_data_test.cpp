#include "resources/resource_data.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "tests/support/test_support.h"

namespace quarnel {
namespace {

struct PngHeader {
    bool valid = false;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int bitDepth = -1;
    int colourType = -1;
};

std::uint32_t BigEndian32(const std::uint8_t* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

// Reads the header chunk, which a PNG must carry first, right after the signature.
PngHeader ReadPngHeader(std::span<const std::uint8_t> data) {
    static const std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    PngHeader header;
    if (data.size() < 8 + 8 + 13 + 4 || !std::equal(kSignature, kSignature + 8, data.begin()) ||
        BigEndian32(&data[8]) != 13 ||
        std::string(data.begin() + 12, data.begin() + 16) != "IHDR") {
        return header;
    }
    header.valid = true;
    header.width = BigEndian32(&data[16]);
    header.height = BigEndian32(&data[20]);
    header.bitDepth = data[24];
    header.colourType = data[25];
    return header;
}

QImage Decode(std::span<const std::uint8_t> data) {
    QImage image;
    image.loadFromData(data.data(), static_cast<int>(data.size()), "PNG");
    return image;
}

std::string SourceFile(const std::string& relative) {
    return test::ReadFileText(std::string(QUARNEL_SOURCE_DIR) + "/" + relative);
}

// Average colour of the clearly visible pixels, and how many of them are near white.
struct ColourSummary {
    double red = 0, green = 0, blue = 0;
    int whitePixels = 0;
};

ColourSummary Summarize(const QImage& image) {
    ColourSummary summary;
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor colour = image.pixelColor(x, y);
            if (colour.alpha() < 200) {
                continue;
            }
            if (colour.red() > 230 && colour.green() > 230 && colour.blue() > 230) {
                ++summary.whitePixels;
                continue;
            }
            summary.red += colour.red();
            summary.green += colour.green();
            summary.blue += colour.blue();
            ++count;
        }
    }
    if (count > 0) {
        summary.red /= count;
        summary.green /= count;
        summary.blue /= count;
    }
    return summary;
}

TEST(ResourceData, StatusPicturesAreSixteenPixelRgbaPngsAsCommitted) {
    for (const char* name : {"accept", "add", "error", "exclamation", "information"}) {
        SCOPED_TRACE(name);
        const std::span<const std::uint8_t> bytes = GetResourceBytes(name, "PNG");
        ASSERT_FALSE(bytes.empty());
        EXPECT_EQ(GetResourceData(name, "PNG"), bytes.data());
        const PngHeader header = ReadPngHeader(bytes);
        ASSERT_TRUE(header.valid);
        EXPECT_EQ(header.width, 16u);
        EXPECT_EQ(header.height, 16u);
        EXPECT_EQ(header.bitDepth, 8);
        EXPECT_EQ(header.colourType, 6);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
                  SourceFile(std::string("resources/images/png/") + name + ".png"));
        const QImage image = Decode(bytes);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), QSize(16, 16));
        EXPECT_TRUE(image.hasAlphaChannel());
        // The pictures are round or triangular: the corner stays transparent.
        EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);
    }
}

// Each picture shows what its name promises: the colour of its shape and a light mark on it.
TEST(ResourceData, StatusPicturesHaveTheirColours) {
    const auto summary = [](const char* name) {
        return Summarize(Decode(GetResourceBytes(name, "PNG")));
    };
    for (const char* green : {"accept", "add"}) {
        const ColourSummary s = summary(green);
        EXPECT_GT(s.green, s.red + 40) << green;
        EXPECT_GT(s.green, s.blue + 40) << green;
        EXPECT_GE(s.whitePixels, 10) << green;
    }
    const ColourSummary warning = summary("error");
    EXPECT_GT(warning.red, warning.blue + 100);
    EXPECT_GT(warning.green, warning.blue + 80);
    const ColourSummary error = summary("exclamation");
    EXPECT_GT(error.red, error.green + 80);
    EXPECT_GT(error.red, error.blue + 80);
    EXPECT_GE(error.whitePixels, 10);
    const ColourSummary information = summary("information");
    EXPECT_GT(information.blue, information.red + 60);
    EXPECT_GE(information.whitePixels, 10);
}

TEST(ResourceData, ApplicationIconComesInEverySizeAsRgbaPng) {
    ASSERT_EQ(std::size(kApplicationIconSizes), 6u);
    for (const int size : kApplicationIconSizes) {
        const std::string name = ApplicationIconName(size);
        SCOPED_TRACE(name);
        const std::span<const std::uint8_t> bytes = GetResourceBytes(name, kResourceTypeIcon);
        ASSERT_FALSE(bytes.empty());
        const PngHeader header = ReadPngHeader(bytes);
        ASSERT_TRUE(header.valid);
        EXPECT_EQ(header.width, static_cast<std::uint32_t>(size));
        EXPECT_EQ(header.height, static_cast<std::uint32_t>(size));
        EXPECT_EQ(header.bitDepth, 8);
        EXPECT_EQ(header.colourType, 6);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
                  SourceFile("resources/images/icon/" + name + ".png"));
        const QImage image = Decode(bytes);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), QSize(size, size));
        EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);
        EXPECT_EQ(image.pixelColor(size / 2, size / 2).alpha(), 255);
    }
}

TEST(ResourceData, NamesAndTypesMatchRegardlessOfCase) {
    const std::uint8_t* accept = GetResourceData("accept", "PNG");
    ASSERT_NE(accept, nullptr);
    EXPECT_EQ(GetResourceData("ACCEPT", "PNG"), accept);
    EXPECT_EQ(GetResourceData("Accept", "png"), accept);
    EXPECT_EQ(GetResourceData("Quarnel-Updater-48", "icon"),
              GetResourceData(ApplicationIconName(48), "ICON"));
}

TEST(ResourceData, MissingResourcesGiveNull) {
    EXPECT_EQ(GetResourceData("", "PNG"), nullptr);
    EXPECT_EQ(GetResourceData("warning", "PNG"), nullptr);
    EXPECT_EQ(GetResourceData("accept.png", "PNG"), nullptr);
    EXPECT_EQ(GetResourceData("acceptx", "PNG"), nullptr);
    // A name exists only under its own type.
    EXPECT_EQ(GetResourceData("accept", "ICON"), nullptr);
    EXPECT_EQ(GetResourceData(ApplicationIconName(16), "PNG"), nullptr);
    EXPECT_EQ(GetResourceData("accept", ""), nullptr);
    EXPECT_EQ(GetResourceData("accept", "BITMAP"), nullptr);
    EXPECT_EQ(GetResourceData(ApplicationIconName(64), "ICON"), nullptr);
    EXPECT_TRUE(GetResourceBytes("nothing", "PNG").empty());
    EXPECT_EQ(GetResourceData(std::string_view("accept\0", 7), "PNG"), nullptr);
}

}  // namespace
}  // namespace quarnel
