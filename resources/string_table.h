#pragma once

#include <cstddef>

namespace quarnel {

struct StringTableEntry {
    int id;
    const char* english;
    const char* german;
};

// Every text id of the program with its English and German text, in id order.
extern const StringTableEntry kStringTable[];
extern const std::size_t kStringTableSize;

// The entry of an id, or null.
const StringTableEntry* FindStringTableEntry(int textId);

}  // namespace quarnel
