#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quarnel {

// The build of this program; a published version is newer when its fourth number is greater.
inline constexpr std::int64_t kProgramBuild = 294;

// The four meta tags of the maker's /index.html, each up to and including the opening quote of
// its content.
inline constexpr std::string_view kMetaSoftwareVersion =
    "<meta name=\"software-version\" content=\"";
inline constexpr std::string_view kMetaSoftwareBetaVersion =
    "<meta name=\"software-beta-version\" content=\"";
inline constexpr std::string_view kMetaSoftwareDownload =
    "<meta name=\"software-download\" content=\"";
inline constexpr std::string_view kMetaSoftwareBetaDownload =
    "<meta name=\"software-beta-download\" content=\"";

// The text between the end of the first occurrence of tag and the next double quote; empty when
// the tag or the closing quote is missing. Case-sensitive.
std::string GetMetaContent(std::string_view page, std::string_view tag);

// GetMetaContent, but empty also when the tag occurs more than once: a page that announces two
// versions or two downloads is not trusted to mean either.
std::string GetUniqueMetaContent(std::string_view page, std::string_view tag);

// The fourth full-stop-separated field of a version, read with the lenient number reader; a
// missing field or one without digits reads as 0. A field with more than nine digits or letters is
// not a build number of this program and reads as -1 (never newer) rather than wrapping around.
std::int64_t PublishedBuildNumber(std::string_view version);

// Whether the published version is newer than this build.
bool IsNewerVersion(std::string_view version);

}  // namespace quarnel
