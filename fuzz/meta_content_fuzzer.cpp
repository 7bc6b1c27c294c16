// The maker's version page: the four meta tags and the published build number.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "update/meta_content.h"

namespace quarnel {
namespace {

constexpr std::string_view kTags[] = {kMetaSoftwareVersion, kMetaSoftwareBetaVersion,
                                      kMetaSoftwareDownload, kMetaSoftwareBetaDownload};

}  // namespace
}  // namespace quarnel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quarnel;
    const std::string_view page = fuzz::AsText(data, size);
    for (const std::string_view tag : kTags) {
        const std::string value = GetMetaContent(page, tag);
        const std::size_t at = page.find(tag);
        // A value comes only after the tag, holds no quote, and is followed by one in the page.
        FUZZ_CHECK(value.find('"') == std::string::npos);
        if (at == std::string_view::npos) {
            FUZZ_CHECK(value.empty());
        } else if (!value.empty()) {
            FUZZ_CHECK(page.compare(at + tag.size(), value.size(), value) == 0);
            FUZZ_CHECK(page.size() > at + tag.size() + value.size() &&
                       page[at + tag.size() + value.size()] == '"');
        }
        // The unique form agrees when the tag occurs once and is empty when it occurs twice.
        const std::string unique = GetUniqueMetaContent(page, tag);
        const bool twice =
            at != std::string_view::npos && page.find(tag, at + 1) != std::string_view::npos;
        FUZZ_CHECK(twice ? unique.empty() : unique == value);
        // A value written into a tag reads back (it holds no quote, so it cannot hold a tag).
        FUZZ_CHECK(GetMetaContent(std::string(tag) + value + "\" />", tag) == value);
    }

    // Only the fourth field counts, never more than nine digits, and newer means above the build.
    const std::int64_t build = PublishedBuildNumber(page);
    FUZZ_CHECK(build >= -999999999 && build <= 999999999);
    FUZZ_CHECK(IsNewerVersion(page) == (build > kProgramBuild));
    FUZZ_CHECK(PublishedBuildNumber("9.9.9." + std::to_string(build < 0 ? 0 : build)) ==
               (build < 0 ? 0 : build));
    return 0;
}
