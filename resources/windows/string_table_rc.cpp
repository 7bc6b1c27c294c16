// Writes the program's string table (resources/string_table.cpp) as the STRINGTABLE blocks of a
// resource script, in English (1033) and German (1031). Built and run on the build machine by
// the Windows build, so the resource script and the Linux build read the same texts.
//
//   string_table_rc <strings.rc>
//
// Every character outside printable ASCII is written as a \xHHHH escape (UTF-16 code units,
// exactly four digits, which windres reads regardless of the script's code page); a double quote
// is doubled.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "resources/string_table.h"

namespace {

// UTF-8 to UTF-16 code units; the table's texts are valid UTF-8.
std::u16string Utf16(const char* text) {
    std::u16string units;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    while (*bytes != 0) {
        std::uint32_t point = *bytes++;
        int more = point >= 0xF0 ? 3 : point >= 0xE0 ? 2 : point >= 0xC0 ? 1 : 0;
        point &= more == 3 ? 0x07 : more == 2 ? 0x0F : more == 1 ? 0x1F : 0x7F;
        for (; more > 0 && *bytes != 0; --more) {
            point = (point << 6) | (*bytes++ & 0x3F);
        }
        if (point >= 0x10000) {
            point -= 0x10000;
            units += static_cast<char16_t>(0xD800 + (point >> 10));
            units += static_cast<char16_t>(0xDC00 + (point & 0x3FF));
        } else {
            units += static_cast<char16_t>(point);
        }
    }
    return units;
}

std::string Literal(const char* text) {
    std::string literal = "L\"";
    for (const char16_t unit : Utf16(text)) {
        if (unit == u'"') {
            literal += "\"\"";
        } else if (unit == u'\\') {
            literal += "\\\\";
        } else if (unit == u'\n') {
            literal += "\\n";
        } else if (unit >= 0x20 && unit < 0x7F) {
            literal += static_cast<char>(unit);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%04X", static_cast<unsigned>(unit));
            literal += escape;
        }
    }
    return literal + "\"";
}

void WriteTable(std::FILE* out, const char* language, bool german) {
    std::fprintf(out, "LANGUAGE %s\nSTRINGTABLE\nBEGIN\n", language);
    for (std::size_t i = 0; i < quarnel::kStringTableSize; ++i) {
        const quarnel::StringTableEntry& entry = quarnel::kStringTable[i];
        std::fprintf(out, "    %d, %s\n", entry.id,
                     Literal(german ? entry.german : entry.english).c_str());
    }
    std::fprintf(out, "END\n\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: string_table_rc <strings.rc>\n", stderr);
        return 2;
    }
    std::FILE* out = std::fopen(argv[1], "w");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    std::fprintf(out,
                 "// Made by string_table_rc from resources/string_table.cpp; do not edit.\n\n");
    WriteTable(out, "0x09, 0x01", false);  // English (United States)
    WriteTable(out, "0x07, 0x01", true);   // German (Germany)
    const bool failed = std::ferror(out) != 0;
    return std::fclose(out) != 0 || failed ? 1 : 0;
}
