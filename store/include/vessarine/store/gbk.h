// GBK <-> UTF-8 for text that leaves the program (terminal, widgets) or comes
// into it. Every text inside the program is GBK bytes.
#pragma once

#include <string>
#include <string_view>

// Never fails: a byte sequence that is not GBK becomes U+FFFD.
std::string GbkToUtf8(std::string_view gbk);
// Never fails: a character without a GBK form becomes '?'.
std::string Utf8ToGbk(std::string_view utf8);
