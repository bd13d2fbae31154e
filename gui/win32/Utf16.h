// The window's texts are UTF-8 everywhere else in the program; the Win32 W
// calls take UTF-16. These two convert at that boundary.
#pragma once

#include <string>

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);
