#pragma once

// Network lists in memory: one text in which every entry is followed by a line feed.

#include <string>
#include <string_view>
#include <vector>

namespace quarnel {

// The list text of the entries; empty entries are left out, because a stored list ends at its
// first empty entry and everything after it would be lost.
std::string NetworkListText(const std::vector<std::string>& entries);
// A list as read from the store (entries each followed by a line feed, plus one more for the
// list's terminator) in the form to write it back: the terminator's line feed and any empty
// entries removed, so a list does not grow an empty entry each time it is carried over.
std::string NetworkListFromStored(std::string_view stored);

}  // namespace quarnel
