#include "update/meta_content.h"

#include <cctype>
#include <cstddef>

#include "platform/lenient_integer.h"

namespace quarnel {

std::string GetMetaContent(std::string_view page, std::string_view tag) {
    const std::size_t start = page.find(tag);
    if (tag.empty() || start == std::string_view::npos) {
        return {};
    }
    const std::size_t begin = start + tag.size();
    const std::size_t end = page.find('"', begin);
    if (end == std::string_view::npos) {
        return {};
    }
    return std::string(page.substr(begin, end - begin));
}

std::string GetUniqueMetaContent(std::string_view page, std::string_view tag) {
    const std::size_t first = page.find(tag);
    if (first != std::string_view::npos && page.find(tag, first + 1) != std::string_view::npos) {
        return {};
    }
    return GetMetaContent(page, tag);
}

std::int64_t PublishedBuildNumber(std::string_view version) {
    std::string_view field = version;
    for (int skip = 0; skip < 3; ++skip) {
        const std::size_t dot = field.find('.');
        if (dot == std::string_view::npos) {
            return 0;
        }
        field.remove_prefix(dot + 1);
    }
    field = field.substr(0, field.find('.'));
    std::size_t at = 0;
    while (at < field.size() && (field[at] == ' ' || field[at] == '\t')) {
        ++at;
    }
    if (at < field.size() && (field[at] == '+' || field[at] == '-')) {
        ++at;
    }
    // Counts the digits in any base the reader knows ("$" hexadecimal, "%" binary, decimal).
    if (at < field.size() && (field[at] == '$' || field[at] == '%')) {
        ++at;
    }
    std::size_t digits = 0;
    while (at + digits < field.size() &&
           std::isalnum(static_cast<unsigned char>(field[at + digits])) != 0) {
        ++digits;
    }
    if (digits > 9) {
        return -1;
    }
    return ParseLenientInteger(field);
}

bool IsNewerVersion(std::string_view version) {
    return PublishedBuildNumber(version) > kProgramBuild;
}

}  // namespace quarnel
