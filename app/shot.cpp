// Screenshot helper for scripts/screenshot.sh, run inside an X server of its
// own: starts PROGRAM, waits until its window appears on the screen, saves a
// PNG of that window and reports the start-up time and peak memory.
// Usage: vessarine-shot OUT.png PROGRAM [ARGS...]
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QThread>
#include <cstdio>

namespace {

QImage GrabScreen() {
  return QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(
      QImage::Format_RGB32);
}

// Bounding box of the pixels that differ from the empty screen.
QRect ChangedArea(const QImage& before, const QImage& after) {
  int left = after.width(), top = after.height(), right = -1, bottom = -1;
  for (int y = 0; y < after.height(); ++y) {
    auto* a = reinterpret_cast<const QRgb*>(after.constScanLine(y));
    auto* b = reinterpret_cast<const QRgb*>(before.constScanLine(y));
    for (int x = 0; x < after.width(); ++x) {
      if (a[x] == b[x]) continue;
      left = std::min(left, x);
      right = std::max(right, x);
      top = std::min(top, y);
      bottom = std::max(bottom, y);
    }
  }
  return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

// The title is drawn in pure red: once it is there, the window has painted.
bool HasTitleRed(const QImage& image) {
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      if ((line[x] & 0xffffff) == 0xff0000) return true;
    }
  }
  return false;
}

long PeakKilobytes(qint64 pid) {
  QFile status(QStringLiteral("/proc/%1/status").arg(pid));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s OUT.png PROGRAM [ARGS...]\n", argv[0]);
    return 2;
  }
  QApplication app(argc, argv);
  QString out = QString::fromLocal8Bit(argv[1]);
  QStringList args;
  for (int i = 3; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);

  QImage empty = GrabScreen();
  QProcess program;
  program.setProcessChannelMode(QProcess::ForwardedChannels);
  QElapsedTimer clock;
  clock.start();
  program.start(QString::fromLocal8Bit(argv[2]), args);
  if (!program.waitForStarted(5000)) {
    std::fprintf(stderr, "cannot start %s\n", argv[2]);
    return 1;
  }
  qint64 shownAfter = -1;
  while (clock.elapsed() < 10000 && program.state() == QProcess::Running) {
    if (HasTitleRed(GrabScreen())) {
      shownAfter = clock.elapsed();
      break;
    }
    QThread::msleep(2);
  }
  if (shownAfter < 0) {
    std::fprintf(stderr, "the window did not appear\n");
    program.kill();
    program.waitForFinished();
    return 1;
  }
  // Let the window settle before the picture is taken.
  QThread::msleep(700);
  QImage screen = GrabScreen();
  QRect area = ChangedArea(empty, screen);
  long peak = PeakKilobytes(program.processId());
  program.terminate();
  if (!program.waitForFinished(3000)) {
    program.kill();
    program.waitForFinished();
  }
  if (!screen.copy(area).save(out, "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  std::printf("window shown after %lld ms; %dx%d window saved to %s; peak memory %ld KB\n",
              static_cast<long long>(shownAfter), area.width(), area.height(), argv[1], peak);
  return 0;
}
