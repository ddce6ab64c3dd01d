// Speed of the main dialog: start-up to the first painted window, the full
// listing pushed into box 1007 and shown, a push with that listing in the
// box, and the process's peak memory after all of it.
// Runs offscreen unless QT_QPA_PLATFORM says otherwise.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPaintEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/resource.h>

#include "vessarine/app/vessarine_dlg.h"
#include "vessarine/app/controls.h"

namespace {

// Counts paint events of a widget tree's top window.
class PaintWatch : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
  int paints = 0;
};

// 穷举所有MAC匹配, clicked.
void ListAllMacs(CVessarineDlg& dlg) {
  dlg.findChild<QPushButton*>(QString::number(IDC_LIST_ALL_MACS))->click();
}

// Processes events until `done` holds or a second has passed.
template <class Pred>
void SpinUntil(Pred done) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < 1000) QApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Constructing the dialog (database loading included), showing it and
// running the event loop until its first paint.
void BM_StartUpToFirstPaint(benchmark::State& state) {
  for (auto _ : state) {
    CVessarineDlg dlg;
    PaintWatch watch;
    dlg.installEventFilter(&watch);
    dlg.show();
    SpinUntil([&] { return watch.paints > 0; });
    if (watch.paints == 0) state.SkipWithError("the dialog was never painted");
    state.PauseTiming();
    dlg.hide();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_StartUpToFirstPaint)->Unit(benchmark::kMillisecond)->Iterations(10);

// 穷举所有MAC匹配: the listing built, pushed into 1007 and painted.
void BM_ListingShown(benchmark::State& state) {
  CVessarineDlg dlg;
  dlg.show();
  SpinUntil([] { return false; });
  auto* box = dlg.findChild<QPlainTextEdit*>(QString::number(IDC_MAC_RESULT));
  PaintWatch watch;
  box->viewport()->installEventFilter(&watch);
  for (auto _ : state) {
    watch.paints = 0;
    ListAllMacs(dlg);
    box->viewport()->repaint();
    if (watch.paints == 0) state.SkipWithError("box 1007 was not painted");
  }
  state.counters["bytes"] = static_cast<double>(g_strMacResult.size());
}
BENCHMARK(BM_ListingShown)->Unit(benchmark::kMillisecond)->Iterations(10);

// Any push while the listing fills box 1007: the box is written again.
void BM_PushWithListing(benchmark::State& state) {
  CVessarineDlg dlg;
  dlg.show();
  ListAllMacs(dlg);
  SpinUntil([] { return false; });
  auto* box = dlg.findChild<QPlainTextEdit*>(QString::number(IDC_MAC_RESULT));
  for (auto _ : state) {
    dlg.UpdateData(false);
    box->viewport()->repaint();
  }
}
BENCHMARK(BM_PushWithListing)->Unit(benchmark::kMillisecond)->Iterations(20);

// A keystroke in 1004 pulls every box, the listing included.
void BM_KeystrokePullWithListing(benchmark::State& state) {
  CVessarineDlg dlg;
  dlg.show();
  ListAllMacs(dlg);
  auto* edit = dlg.findChild<QWidget*>(QString::number(IDC_MAC_INPUT));
  int i = 0;
  for (auto _ : state) {
    edit->setProperty("text", QString::number(i++));
  }
}
BENCHMARK(BM_KeystrokePullWithListing)->Unit(benchmark::kMicrosecond)->Iterations(200);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("peak memory (max RSS): %.1f MB\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
  return 0;
}
