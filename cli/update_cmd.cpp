// The update from a terminal: the same update as the dialog's, with the
// messages printed instead of shown in boxes.
#include "update_cmd.h"

#include <cstdio>
#include <string>
#include <vector>

#include "vessarine/db/loader.h"
#include "vessarine/registry/refresh.h"
#include "vessarine/store/gbk.h"
#include "vessarine/update/update.h"

namespace {

// Every call runs on the calling thread and returns at once, which is all
// the conversion thread waits for.
class TerminalUi : public UpdateUi {
 public:
  void StepProgress() override {
    // One dot a second (a step comes every 10 ms).
    if (++steps_ % 100 == 0) {
      std::fputc('.', stderr);
      std::fflush(stderr);
      dots_ = true;
    }
  }
  void SetProgressPos(int) override {
    if (dots_) std::fputc('\n', stderr);
    dots_ = false;
  }
  void ShowMessage(const char*, const char* text) override {
    const std::string utf8 = GbkToUtf8(text);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
  void SetVersionText(const std::string& text) override { g_strDbVersion = text; }

 private:
  long steps_ = 0;
  bool dots_ = false;
};

}  // namespace

int RunUpdate(const UpdateSource& source) {
  TerminalUi ui;
  std::vector<registry::RefreshResult> results;
  const bool completed = RunUpdateHere(ui, source, &results);
  bool noneKept = true;
  bool storeTried = false;
  for (const registry::RefreshResult& result : results) {
    std::fprintf(stderr, "%s\n", registry::Describe(result).c_str());
    noneKept = noneKept && result.status != registry::RefreshResult::Status::Kept;
    storeTried = storeTried || result.registry == registry::Registry::MaL;
  }
  return (completed || !storeTried) && noneKept && !results.empty() ? 0 : 1;
}
