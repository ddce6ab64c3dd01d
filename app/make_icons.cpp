// Build-time tool: writes the program icon as PNG files for installation.
// Usage: vessarine-make-icons OUTDIR   (writes OUTDIR/<size>/vessarine.png)
#include <QDir>
#include <QGuiApplication>
#include <cstdio>

#include "vessarine/app/program_icon.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  QDir out(QString::fromLocal8Bit(argv[1]));
  for (int size : kIconSizes) {
    QString dir = QString::number(size);
    if (!out.mkpath(dir)) return 1;
    if (!DrawProgramIcon(size).save(out.filePath(dir + "/vessarine.png"), "PNG")) return 1;
  }
  return 0;
}
