#include "resources/string_table.h"

#include <algorithm>

namespace quarnel {

const StringTableEntry kStringTable[] = {
    {100, "Quarnel Updater", "Quarnel Updater"},
    {113, "Last Update: %1", "Letzte Aktualisierung: %1"},
    {117, "%1 minutes", "%1 Minuten"},
    {145, "An unknown error occurred: %1", "Ein unbekannter Fehler ist aufgetreten: %1"},
};

const std::size_t kStringTableSize = sizeof kStringTable / sizeof kStringTable[0];

const StringTableEntry* FindStringTableEntry(int textId) {
    const StringTableEntry* end = kStringTable + kStringTableSize;
    const StringTableEntry* found =
        std::lower_bound(kStringTable, end, textId,
                         [](const StringTableEntry& entry, int id) { return entry.id < id; });
    return (found != end && found->id == textId) ? found : nullptr;
}

}  // namespace quarnel
