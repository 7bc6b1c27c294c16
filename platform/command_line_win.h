#pragma once

// Windows only: an argument vector as one command line, quoted so that the C runtime's parser
// (and CommandLineToArgvW) reads back exactly the same arguments.

#include <string>
#include <vector>

namespace quarnel {

std::wstring BuildCommandLine(const std::vector<std::string>& arguments);

}  // namespace quarnel
