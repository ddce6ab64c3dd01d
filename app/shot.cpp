// Screenshot helper for scripts/screenshot.sh, run inside a bare X server of
// its own (no window manager): starts PROGRAM, waits until its window has
// painted and settled, saves a PNG of that window and reports its geometry,
// the start-up time and the peak memory. Fails when any part of the window
// lies off the screen, where a user could not reach it.
// Usage: vessarine-shot [--scale FACTOR] OUT.png PROGRAM [ARGS...]
//   FACTOR is given to PROGRAM as QT_SCALE_FACTOR (2: a 192-DPI desktop).
#include <xcb/xcb.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScreen>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

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

template <class T>
using XcbReply = std::unique_ptr<T, decltype(&std::free)>;

template <class T>
XcbReply<T> Own(T* reply) {
  return XcbReply<T>(reply, &std::free);
}

// The on-screen rectangle of the largest mapped top-level window of process
// `pid` (by its _NET_WM_PID), in screen pixels; empty when there is none.
QRect ProgramWindow(xcb_connection_t* x, xcb_window_t root, qint64 pid) {
  static const char kPidAtom[] = "_NET_WM_PID";
  auto atom =
      Own(xcb_intern_atom_reply(x, xcb_intern_atom(x, 1, sizeof kPidAtom - 1, kPidAtom), nullptr));
  auto tree = Own(xcb_query_tree_reply(x, xcb_query_tree(x, root), nullptr));
  if (!atom || atom->atom == XCB_ATOM_NONE || !tree) return QRect();
  QRect best;
  const xcb_window_t* children = xcb_query_tree_children(tree.get());
  for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
    const xcb_window_t window = children[i];
    auto attributes =
        Own(xcb_get_window_attributes_reply(x, xcb_get_window_attributes(x, window), nullptr));
    if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE) continue;
    auto property = Own(xcb_get_property_reply(
        x, xcb_get_property(x, 0, window, atom->atom, XCB_ATOM_CARDINAL, 0, 1), nullptr));
    if (!property || xcb_get_property_value_length(property.get()) != 4) continue;
    if (*static_cast<const uint32_t*>(xcb_get_property_value(property.get())) != pid) continue;
    auto geometry = Own(xcb_get_geometry_reply(x, xcb_get_geometry(x, window), nullptr));
    auto origin = Own(xcb_translate_coordinates_reply(
        x, xcb_translate_coordinates(x, window, root, 0, 0), nullptr));
    if (!geometry || !origin) continue;
    QRect rect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
    if (rect.width() * rect.height() > best.width() * best.height()) best = rect;
  }
  return best;
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
  int first = 1;
  QByteArray scale;
  if (argc > 2 && std::string(argv[1]) == "--scale") {
    scale = argv[2];
    first = 3;
  }
  if (argc - first < 2) {
    std::fprintf(stderr, "usage: %s [--scale FACTOR] OUT.png PROGRAM [ARGS...]\n", argv[0]);
    return 2;
  }
  QApplication app(argc, argv);
  const char* outArg = argv[first];
  const char* programArg = argv[first + 1];
  QString out = QString::fromLocal8Bit(outArg);
  QStringList args;
  for (int i = first + 2; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);

  xcb_connection_t* x = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(x)) {
    std::fprintf(stderr, "cannot connect to the X server\n");
    return 1;
  }
  const xcb_screen_t* xscreen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
  const QRect screenRect(0, 0, xscreen->width_in_pixels, xscreen->height_in_pixels);

  QImage empty = GrabScreen();
  QProcess program;
  program.setProcessChannelMode(QProcess::ForwardedChannels);
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  if (!scale.isEmpty())
    environment.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::fromLatin1(scale));
  program.setProcessEnvironment(environment);
  QElapsedTimer clock;
  clock.start();
  program.start(QString::fromLocal8Bit(programArg), args);
  if (!program.waitForStarted(5000)) {
    std::fprintf(stderr, "cannot start %s\n", programArg);
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
  // The picture is taken once the screen has stopped changing.
  QImage screen = GrabScreen();
  for (int same = 0; same < 3 && clock.elapsed() < 15000;) {
    QThread::msleep(50);
    QImage next = GrabScreen();
    same = next == screen ? same + 1 : 0;
    screen = next;
  }
  const QRect window = ProgramWindow(x, xscreen->root, program.processId());
  const QRect painted = ChangedArea(empty, screen);
  long peak = PeakKilobytes(program.processId());
  program.terminate();
  if (!program.waitForFinished(3000)) {
    program.kill();
    program.waitForFinished();
  }
  xcb_disconnect(x);
  if (window.isEmpty()) {
    std::fprintf(stderr, "no mapped window of the program was found\n");
    return 1;
  }
  if (!screen.copy(window.intersected(screenRect)).save(out, "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", outArg);
    return 1;
  }
  std::printf(
      "window shown after %lld ms; %dx%d window at +%d+%d on a %dx%d screen saved to %s; "
      "peak memory %ld KB\n",
      static_cast<long long>(shownAfter), window.width(), window.height(), window.x(), window.y(),
      screenRect.width(), screenRect.height(), outArg, peak);
  if (!screenRect.contains(window) || !window.contains(painted)) {
    std::fprintf(stderr,
                 "the window does not lie wholly on the screen (painted area %dx%d+%d+%d)\n",
                 painted.width(), painted.height(), painted.x(), painted.y());
    return 1;
  }
  return 0;
}
