#include "resources/texts.h"

#include <cstddef>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/text.h"

namespace quarnel {
namespace {

void ReplaceAll(std::string& text, const std::string& placeholder, std::string_view value) {
    std::size_t pos = 0;
    while ((pos = text.find(placeholder, pos)) != std::string::npos) {
        text.replace(pos, placeholder.size(), value);
        pos += value.size();
    }
}

}  // namespace

Language ReadLanguageFromEnvironment() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') {
            return (value[0] == 'd' && value[1] == 'e') ? Language::German : Language::English;
        }
    }
    return Language::English;
}

std::string LoadResourceText(int textId) {
    return LoadResourceText(textId, CurrentLanguage());
}

std::string FillPlaceholders(std::string text, std::string_view parameters) {
    if (parameters.empty()) {
        return text;
    }
    // Values are taken from the list as it was given; the loop runs downwards so "%10" is
    // replaced before "%1" could take its first two characters.
    const std::vector<std::string> values = SplitText(parameters, '\n');
    for (std::size_t k = values.size(); k >= 1; --k) {
        ReplaceAll(text, "%" + std::to_string(k), values[k - 1]);
    }
    return text;
}

std::string GetLocalizedText(int textId, std::string_view parameters, Language language) {
    return FillPlaceholders(LoadResourceText(textId, language), parameters);
}

std::string GetLocalizedText(int textId, std::string_view parameters) {
    return GetLocalizedText(textId, parameters, CurrentLanguage());
}

}  // namespace quarnel
