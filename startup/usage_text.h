#pragma once

// What "--help" and "--version" print: the switches with what each does and gives back, and the
// program's name, version and build.

#include <string>

namespace quarnel {

std::string UsageText();
std::string VersionText();

}  // namespace quarnel
