// vessarine-cli: the dialog's operations from a terminal. It loads the
// database as the program does, runs one operation and prints what the
// result box would then hold, in UTF-8, with nothing added.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "db/gbk.h"
#include "db/loader.h"
#include "db/store.h"
#include "query/controls.h"
#include "query/queries.h"
#include "cli/update_cmd.h"
#include "cli/lookup_cmd.h"
#include "cli/annotate_cmd.h"

namespace {

constexpr char kUsage[] =
    "usage: vessarine-cli mac TEXT\n"
    "       vessarine-cli list\n"
    "       vessarine-cli company TEXT [--page N | --all]\n"
    "       vessarine-cli info\n"
    "       vessarine-cli update [--url URL | --from FILE]\n"
    "       vessarine-cli lookup [--json | --csv] ADDRESS... (- reads stdin)\n"
    "       vessarine-cli annotate [--json] [FILE...]\n";

// Stands in for the dialog: remembers the paging buttons' state; a push has
// nothing to show until the end.
class CliHost : public QueryHost {
 public:
  void EnableControl(int id, bool enable) override {
    if (id == IDC_COMPANY_CONTINUE) continueEnabled = enable;
    if (id == IDC_COMPANY_ALL) allEnabled = enable;
  }
  void Push() override {}
  bool continueEnabled = false;
  bool allEnabled = false;
};

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

int Print(const std::string& gbk, QueryOutcome outcome) {
  std::string text = GbkToUtf8(gbk);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return outcome == QueryOutcome::Results ? 0 : 1;
}

// Parses a positive page number; 0 when it is not one.
long PageNumber(const char* text) {
  char* end = nullptr;
  long n = std::strtol(text, &end, 10);
  return (end != text && *end == '\0' && n > 0) ? n : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string_view command = argv[1];
  if (command == "update") {
    StartUpDatabase();
    return RunUpdateCommand(argc - 1, argv + 1);
  }

  // Registry commands: options first, then operands.
  if (command == "lookup") {
    LookupOptions options;
    int i = 2;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0 && argv[i][2] != '\0'; ++i) {
      if (std::strcmp(argv[i], "--json") == 0) {
        options.format = LookupOptions::Format::Json;
      } else if (std::strcmp(argv[i], "--csv") == 0) {
        options.format = LookupOptions::Format::Csv;
      } else {
        return Usage();
      }
    }
    if (i < argc && std::strcmp(argv[i], "--") == 0) ++i;
    if (i == argc) return Usage();
    options.addresses.assign(argv + i, argv + argc);
    return RunLookup(options, stdout, stderr);
  }
  if (command == "annotate") {
    AnnotateOptions options;
    int i = 2;
    if (i < argc && std::strcmp(argv[i], "--json") == 0) {
      options.json = true;
      ++i;
    }
    if (i < argc && std::strcmp(argv[i], "--") == 0) ++i;
    options.files.assign(argv + i, argv + argc);
    return RunAnnotate(options, stdout, stderr);
  }

  CliHost host;
  if (command == "mac" && argc == 3) {
    StartUpDatabase();
    g_strMacInput = Utf8ToGbk(argv[2]);
    QueryOutcome outcome = MacLookup(host, 0);
    return Print(g_strMacResult, outcome);
  }
  if (command == "list" && argc == 2) {
    StartUpDatabase();
    QueryOutcome outcome = MacLookup(host, 1);
    return Print(g_strMacResult, outcome);
  }
  if (command == "company" && (argc == 3 || argc == 4 || argc == 5)) {
    long pages = 1;
    bool all = false;
    if (argc == 4 && std::strcmp(argv[3], "--all") == 0) {
      all = true;
    } else if (argc == 5 && std::strcmp(argv[3], "--page") == 0) {
      pages = PageNumber(argv[4]);
      if (pages == 0) return Usage();
    } else if (argc != 3) {
      return Usage();
    }
    StartUpDatabase();
    g_strCompanyInput = Utf8ToGbk(argv[2]);
    QueryOutcome outcome = CompanyMatch(host);
    // A press of a disabled button does nothing.
    for (long page = 2; page <= pages && host.continueEnabled; ++page) outcome = CompanyContinue(host);
    if (all && host.allEnabled) outcome = CompanyAll(host);
    return Print(g_strCompanyResult, outcome);
  }
  if (command == "info" && argc == 2) {
    StartUpDatabase();
    std::printf("%d\n%s\n%s\n", companyCount, g_bCachePresent ? "cache" : "built-in",
                GbkToUtf8(g_strDbVersion).c_str());
    return 0;
  }
  return Usage();
}
