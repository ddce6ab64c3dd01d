// Escaping for the JSON, CSV and text outputs. Inputs come from users and
// files, and a table's texts from a file too, so any of them may hold any
// bytes: every output replaces invalid UTF-8 by U+FFFD; JSON strings get
// every control character escaped, and text for the terminal gets each
// control character replaced by U+FFFD, so nothing can send the terminal
// control sequences.
#pragma once

#include <string>
#include <string_view>

namespace text {

// Appends `text` as a JSON string literal, quotes included.
void AppendJsonString(std::string* out, std::string_view text);

// Appends `text` with each byte of invalid UTF-8 made U+FFFD, as a JSON
// string or a CSV field takes it, and nothing else changed.
void AppendValidUtf8(std::string* out, std::string_view text);

// Appends `text` as one CSV field (RFC 4180): quoted when it holds a comma,
// a quote, a line end or begins or ends with a blank; quotes doubled.
void AppendCsvField(std::string* out, std::string_view text);

// Appends `text` for the terminal: valid UTF-8 as it is but for control
// characters (C0, DEL and C1), which become U+FFFD like every byte of
// invalid UTF-8.
void AppendDisplayText(std::string* out, std::string_view text);
std::string DisplayText(std::string_view text);

// How a message quotes a text that may be megabytes long: `start` (at least
// the first `shown` bytes of a text `size` bytes long) whole when that is
// all, else its first `shown` bytes, without a UTF-8 character cut short,
// then "… (SIZE bytes)".
std::string ShortenedText(std::string_view start, size_t size, size_t shown);

}  // namespace text
