// The texts on Linux: the string table compiled into the program, in the language the locale
// variables name.

#include <string>

#include "resources/string_table.h"
#include "resources/texts.h"

namespace quarnel {

Language CurrentLanguage() {
    static const Language language = ReadLanguageFromEnvironment();
    return language;
}

std::string LoadResourceText(int textId, Language language) {
    const StringTableEntry* entry = FindStringTableEntry(textId);
    if (entry == nullptr) {
        return {};
    }
    return language == Language::German ? entry->german : entry->english;
}

}  // namespace quarnel
