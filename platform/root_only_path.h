#pragma once

// Whether a program that root will run can be replaced by anybody but root: the unit runs the
// program and its helper as root at every boot, the service runs the administrator's hooks, so
// each of them and every folder above them must be root's alone.

#include <string>

namespace quarnel {

// Walks from path (or, when it does not exist yet, from the nearest folder above it that does,
// since whoever can write there can create it) up to "/", links resolved, and returns a
// sentence naming the first file or folder that someone other than root can change and its
// owner (or group); empty when there is none. An entry someone else owns, or that its group
// (other than root's, or any group with anyGroup) or everybody may write, counts; a folder
// everybody may write but with the sticky bit set protects an existing entry of root's below
// it, as /tmp does.
std::string FindChangeableByOthers(const std::string& path, bool anyGroup = false);

}  // namespace quarnel
