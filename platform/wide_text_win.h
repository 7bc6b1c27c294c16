#pragma once

// Windows only: the wide-character texts of the Win32 calls, from and to the program's UTF-8.

#include <string>
#include <string_view>

namespace quarnel {

std::wstring Widen(std::string_view text);
std::string Narrow(std::wstring_view text);

}  // namespace quarnel
