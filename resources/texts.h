#pragma once

// The program's user-visible texts: a string table in English and German, compiled in.

#include <string>
#include <string_view>

namespace quarnel {

enum class Language { English, German };

// German when the first of LC_ALL, LC_MESSAGES and LANG that is set (not empty) starts with
// "de", English otherwise. Read once; later calls return the first answer.
Language CurrentLanguage();
// The same rule applied to the environment as it is now, without the caching.
Language ReadLanguageFromEnvironment();

// The table's text for an id in the current language (or the given one), or the empty text when
// the id has none.
std::string LoadResourceText(int textId);
std::string LoadResourceText(int textId, Language language);

// The text of an id with "%1", "%2", ... filled from parameters, a list of values separated by
// line feeds; an empty list fills nothing, so placeholders stay as written.
std::string GetLocalizedText(int textId, std::string_view parameters);
std::string GetLocalizedText(int textId, std::string_view parameters, Language language);

// Fills placeholders of a text the way GetLocalizedText does (exposed for its tests and for texts
// that do not come from the table).
std::string FillPlaceholders(std::string text, std::string_view parameters);

}  // namespace quarnel
