#pragma once

// Whether a program that root will run can be replaced by anybody but root: the unit runs the
// program and its helper as root at every boot, the service runs the administrator's hooks, so
// each of them and every folder above them must be root's alone.

#include <string>

#include "platform/unique_fd.h"

namespace quarnel {

// Walks from path (or, when it does not exist yet, from the nearest folder above it that does,
// since whoever can write there can create it) up to "/", links resolved, and returns a
// sentence naming the first file or folder that someone other than root can change and its
// owner (or group); empty when there is none. An entry someone else owns, or that its group
// (other than root's, or any group with anyGroup) or everybody may write, counts; a folder
// everybody may write but with the sticky bit set protects an existing entry of root's below
// it, as /tmp does.
std::string FindChangeableByOthers(const std::string& path, bool anyGroup = false);

struct RootOnlyEntry {
    UniqueFd fd;          // valid when refusal is empty
    std::string refusal;  // the sentence FindChangeableByOthers would give, or why it failed
};

// Opens path for what is to be run or read as root's: its links resolved once, then one name at
// a time from "/" without following any link, each entry checked on the descriptor just opened
// (any group's write counts; a sticky folder protects only what lies below it, never itself).
// What was checked is what the descriptor holds: a name replaced meanwhile is no way in. The
// last entry is opened with flags (O_NOFOLLOW and O_CLOEXEC added).
RootOnlyEntry OpenRootOnly(const std::string& path, int flags);

}  // namespace quarnel
