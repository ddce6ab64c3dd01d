// Conversions between the program's GBK texts and what the widgets show.
#pragma once

#include <QString>
#include <string>
#include <string_view>

// A GBK text as a widget shows it, unchanged line structure.
QString GbkToQString(std::string_view gbk);
// What the user typed into a single-line box, as GBK bytes.
std::string QStringToGbk(const QString& text);

// A multi-line edit box breaks lines only at CR LF; a lone CR or LF does not
// break the line and shows nothing. The result is ready for a plain-text
// widget, whose only line break is '\n'.
QString GbkToMultilineDisplay(std::string_view gbk);
// The inverse for text typed into a multi-line box: each '\n' becomes CR LF.
std::string MultilineDisplayToGbk(const QString& text);
