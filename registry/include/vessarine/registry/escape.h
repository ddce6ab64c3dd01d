// Escaping for the JSON and CSV outputs. Inputs come from users and files
// and may hold any bytes, so both keep the output well-formed: JSON strings
// get every control character escaped and invalid UTF-8 replaced by U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace registry {

// Appends `text` as a JSON string literal, quotes included.
void AppendJsonString(std::string* out, std::string_view text);

// Appends `text` as one CSV field (RFC 4180): quoted when it holds a comma,
// a quote, a line end or begins or ends with a blank; quotes doubled.
void AppendCsvField(std::string* out, std::string_view text);

}  // namespace registry
