// UTF-8 validity, the one check every writer of names and messages uses.
#pragma once

#include <string_view>

namespace text {

// True when `text` is well-formed UTF-8: no overlong forms, no surrogates,
// nothing past U+10FFFF.
bool IsValidUtf8(std::string_view text);

}  // namespace text
