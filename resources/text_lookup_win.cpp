// The texts on Windows: the string table among the program's resources (resources/windows/,
// written from the same table as on Linux), in the user's interface language: German for a
// German interface, English for every other. Locale variables, where they are set (a Unix-like
// shell, Wine), decide first, as they do on Linux.

#include <windows.h>

#include <cstdlib>
#include <string>

#include "platform/wide_text_win.h"
#include "resources/texts.h"

namespace quarnel {
namespace {

bool LocaleVariableSet() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') {
            return true;
        }
    }
    return false;
}

}  // namespace

Language CurrentLanguage() {
    static const Language language = LocaleVariableSet() ? ReadLanguageFromEnvironment()
                                     : PRIMARYLANGID(::GetUserDefaultUILanguage()) == LANG_GERMAN
                                         ? Language::German
                                         : Language::English;
    return language;
}

// A string table resource holds its texts in blocks of sixteen, each a length and that many
// UTF-16 code units; the block of id n is n / 16 + 1. The language is asked for by name, so a
// text is looked up in the table of the language given, not the thread's.
std::string LoadResourceText(int textId, Language language) {
    if (textId < 0 || textId > 0xFFFF) {
        return {};
    }
    const HMODULE module = ::GetModuleHandleW(nullptr);
    const WORD languageId = language == Language::German
                                ? MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN)
                                : MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    const HRSRC found =
        ::FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(textId / 16 + 1), languageId);
    const HGLOBAL loaded = found != nullptr ? ::LoadResource(module, found) : nullptr;
    const auto* block =
        loaded != nullptr ? static_cast<const WCHAR*>(::LockResource(loaded)) : nullptr;
    if (block == nullptr) {
        return {};
    }
    const DWORD blockUnits = ::SizeofResource(module, found) / sizeof(WCHAR);
    DWORD at = 0;
    for (int entry = 0; entry < 16 && at < blockUnits; ++entry) {
        const DWORD length = block[at++];
        if (at + length > blockUnits) {
            return {};
        }
        if (entry == textId % 16) {
            return Narrow(std::wstring(block + at, length));
        }
        at += length;
    }
    return {};
}

}  // namespace quarnel
