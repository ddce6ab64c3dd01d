#include "vessarine/app/box_text.h"

#include "vessarine/store/gbk.h"

QString GbkToQString(std::string_view gbk) {
  std::string utf8 = GbkToUtf8(gbk);
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string QStringToGbk(const QString& text) {
  QByteArray utf8 = text.toUtf8();
  return Utf8ToGbk(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
}

QString GbkToMultilineDisplay(std::string_view gbk) {
  // CR and LF are single bytes in GBK and never trail a lead byte, so the
  // line structure can be settled on the bytes before the conversion.
  std::string lines;
  lines.reserve(gbk.size());
  for (size_t i = 0; i < gbk.size(); ++i) {
    char c = gbk[i];
    if (c == '\r' && i + 1 < gbk.size() && gbk[i + 1] == '\n') {
      lines.push_back('\n');
      ++i;
    } else if (c != '\r' && c != '\n') {
      lines.push_back(c);
    }
  }
  return GbkToQString(lines);
}

std::string MultilineDisplayToGbk(const QString& text) {
  std::string gbk = QStringToGbk(text);
  std::string out;
  out.reserve(gbk.size() + gbk.size() / 16);
  for (char c : gbk) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
  return out;
}
