// printf-style formatting into a std::string: every text put into a result
// variable goes through it, so "%%" in a stored message shows as "%".
#pragma once

#include <string>

std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
// For message constants, which have no arguments.
std::string FormatMessage(const char* message);
