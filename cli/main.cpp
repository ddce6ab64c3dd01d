// vessarine-cli: the window's questions from a terminal, and the registry
// commands. It loads the database as the window does; mac, list and company
// print the text the window's result box would show, in UTF-8, with nothing
// added.
//
// Exit status, the same for every command: 0 results shown (or the update
// completed), 1 a message shown instead, 2 a usage error (the command's usage
// on stderr). --help on any level prints the usage on stdout and exits 0.
#include <CLI/CLI.hpp>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "annotate_cmd.h"
#include "export_cmd.h"
#include "lookup_cmd.h"
#include "search_cmd.h"
#include "update_cmd.h"
#include "vessarine/store/gbk.h"
#include "vessarine/db/cache_files.h"
#include "vessarine/db/loader.h"
#include "vessarine/store/store.h"
#include "vessarine/engine/window.h"
#include "vessarine/startup/startup.h"

namespace {

constexpr int kExitUsage = 2;

// A command: its part of the parser and what runs once it was chosen. Each
// Add...Command keeps its parsed values in its own statics, which live as
// long as the parser.
struct Command {
  CLI::App* parser;
  std::function<int()> run;
};

int Print(const engine::QueryAnswer& answer) {
  std::string text = GbkToUtf8(answer.text);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return answer.outcome == engine::QueryOutcome::Results ? 0 : 1;
}

// A page number: decimal digits only (no sign, no blanks), 1 to INT_MAX;
// 0 when `text` is not one.
int PageNumber(const std::string& text) {
  const bool digits = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return c >= '0' && c <= '9';
  });
  int value = 0;
  if (!digits || std::from_chars(text.data(), text.data() + text.size(), value).ec != std::errc()) return 0;
  return value;
}

std::string CheckPageNumber(std::string& text) {
  if (PageNumber(text) > 0) return {};
  return "page must be a whole number from 1 to " + std::to_string(std::numeric_limits<int>::max()) + ": '" +
         text + "'";
}

std::string CheckNotEmpty(std::string& text) { return text.empty() ? "must not be empty" : ""; }

Command AddMacCommand(CLI::App& app) {
  static std::string text;
  CLI::App* cmd = app.add_subcommand("mac", "Show the company of a MAC address prefix");
  cmd->add_option("TEXT", text, "All six bytes or the first three, separated by ':' or '-'")
      ->required()
      ->type_name("");
  return {cmd, [] {
            StartUpDatabase();
            return Print(engine::LookupMac(Utf8ToGbk(text)));
          }};
}

Command AddListCommand(CLI::App& app) {
  CLI::App* cmd = app.add_subcommand("list", "List every prefix with its company");
  return {cmd, [] {
            StartUpDatabase();
            return Print(engine::ListMacs());
          }};
}

Command AddCompanyCommand(CLI::App& app) {
  static std::string text;
  static std::string page;
  static bool all = false;
  CLI::App* cmd = app.add_subcommand("company", "Find the prefixes of companies whose name contains TEXT");
  cmd->add_option("TEXT", text, "Part of the company's English name; letters in any case")
      ->required()
      ->type_name("");
  CLI::Option* pageOption = cmd->add_option("--page", page, "Show page N of five results (as after N-1 presses of 继续)")
                          ->type_name("N")
                          ->check(CLI::Validator(CheckPageNumber, ""));
  cmd->add_flag("--all", all, "Show every match at once (as after pressing 全部)")->excludes(pageOption);
  return {cmd, [] {
            StartUpDatabase();
            const std::string pattern = Utf8ToGbk(text);
            engine::CompanyPage shown = engine::SearchCompanies(pattern, {}, false);
            // Each further page continues the last while it was cut, so a
            // page past the end shows the last one. --all lists again only
            // after a cut first page, as 全部 is offered only then (without
            // a cut that page holds every match already).
            const int pages = page.empty() ? 1 : PageNumber(page);
            for (int n = 2; n <= pages && shown.more; ++n) shown = engine::SearchCompanies(pattern, shown.next, false);
            if (all && shown.more) shown = engine::SearchCompanies(pattern, {}, true);
            return Print(shown.answer);
          }};
}

Command AddInfoCommand(CLI::App& app) {
  CLI::App* cmd = app.add_subcommand("info", "Show the record count, cache or built-in, and the version text");
  return {cmd, [] {
            StartUpDatabase();
            std::printf("%d\n%s\n%s\n", companyCount, g_bCachePresent ? "cache" : "built-in",
                        GbkToUtf8(g_strDbVersion).c_str());
            return 0;
          }};
}

Command AddUpdateCommand(CLI::App& app) {
  static UpdateOptions options;
  CLI::App* cmd = app.add_subcommand(
      "update", "Download the registry's current listings and make them the database and the registry tables");
  CLI::Option* url = cmd->add_option("--url", options.source.url, "Download the MA-L listing (oui.txt) from URL instead")
                         ->type_name("URL")
                         ->check(CLI::Validator(CheckNotEmpty, ""));
  CLI::Option* site = cmd->add_option("--site", options.source.site,
                                      "Download every listing from this mirror of the registry's site instead")
                          ->type_name("URL")
                          ->check(CLI::Validator(CheckNotEmpty, ""));
  cmd->add_option("--from", options.source.from,
                  "Take a listing file of any registry, or a folder of listings (such as /usr/share/ieee-data), instead")
      ->type_name("PATH")
      ->check(CLI::Validator(CheckNotEmpty, ""))
      ->excludes(url)
      ->excludes(site);
  cmd->add_flag("--force", options.source.force,
                "Download every listing whole, and take listings that would be refused for holding far fewer (or far more) entries than the tables they replace");
  cmd->add_flag("--quiet", options.quiet, "Print only failures");
  cmd->add_flag("--changes", options.changes, "List every assignment the update added, withdrew or renamed");
  return {cmd, [] {
            StartUpDatabase();
            return RunUpdate(options);
          }};
}

// --prefixes FILE: the user's own prefixes instead of the default file's.
void AddPrefixesOption(CLI::App* cmd, std::string* path) {
  cmd->add_option("--prefixes", *path,
                  "Name addresses from this file of 'PREFIX[/BITS] NAME' lines before the IEEE registries "
                  "(default: $XDG_CONFIG_HOME/vessarine/prefixes when it exists)")
      ->type_name("FILE")
      ->check(CLI::Validator(CheckNotEmpty, ""));
}

Command AddLookupCommand(CLI::App& app) {
  static LookupOptions options;
  static bool json = false;
  static bool csv = false;
  static bool wwn = false;
  CLI::App* cmd = app.add_subcommand("lookup", "Name the holder of each address from every IEEE registry, and its class");
  CLI::Option* jsonFlag = cmd->add_flag("--json", json, "One JSON object per address (JSON Lines)");
  cmd->add_flag("--csv", csv, "CSV with one header line")->excludes(jsonFlag);
  cmd->add_flag("--wwn", wwn,
                "Read 64-bit identifiers without a marker (21:00:00:24:ff:4a:bc:de, 0x5000c500a1b2c3d4) as World Wide "
                "Names, not EUI-64s");
  cmd->add_option("ADDRESS", options.addresses, "aa:bb:cc:dd:ee:ff (0:c:29:aa:bb:cc), aa-bb-cc-dd-ee-ff, aabb.ccdd.eeff, aabb-ccdd-eeff, aabb:ccdd:eeff, aabbcc-ddeeff, aabbcc:ddeeff, aabbccddeeff, aa:bb:cc; an EUI-64 (00:12:4b:00:1c:d4:e0:a1, 0002:c903:00a1:b2c3, 0x00124b001cd4e0a1, eui.0025385b71b00d24); a World Wide Name (naa.5000c500a1b2c3d4, wwn-0x5000c500a1b2c3d4); or an IPv6 address with a MAC inside (fe80::20c:29ff:feaa:bbcc); - reads addresses from stdin")
      ->required()
      ->type_name("");
  AddPrefixesOption(cmd, &options.prefixes);
  return {cmd, [] {
            options.format = json ? LookupOptions::Format::Json
                                  : csv ? LookupOptions::Format::Csv : LookupOptions::Format::Text;
            options.wwn = wwn;
            return RunLookup(options, stdout, stderr);
          }};
}

Command AddAnnotateCommand(CLI::App& app) {
  static AnnotateOptions options;
  CLI::App* cmd = app.add_subcommand("annotate", "Name the holder after every MAC address found in text");
  cmd->add_flag("--json", options.json, "One JSON object per address found, with its line and column");
  cmd->add_option("FILE", options.files, "Files to read; none or - reads stdin")->type_name("");
  AddPrefixesOption(cmd, &options.prefixes);
  return {cmd, [] {
            SetCacheHold(CacheHold::PrivateCopy);
            return RunAnnotate(options, stdout, stderr);
          }};
}

// --json and --csv, one at most: the format of a command's rows.
void AddRowFormatFlags(CLI::App* cmd, answer::RowFormat* format) {
  CLI::Option* json = cmd->add_flag_callback("--json", [format] { *format = answer::RowFormat::Json; },
                                             "One JSON object per assignment (JSON Lines)");
  cmd->add_flag_callback("--csv", [format] { *format = answer::RowFormat::Csv; }, "CSV with one header line")
      ->excludes(json);
}

Command AddSearchCommand(CLI::App& app) {
  static SearchOptions options;
  CLI::App* cmd = app.add_subcommand("search", "List every assignment of every registry whose holder contains TEXT");
  cmd->add_option("TEXT", options.text, "Part of the holder's name; letters in any case (Latin, Greek and Cyrillic too)")
      ->required()
      ->type_name("")
      ->check(CLI::Validator(CheckNotEmpty, ""));
  AddRowFormatFlags(cmd, &options.format);
  AddPrefixesOption(cmd, &options.prefixes);
  static std::string filter, direction = "either";
  CLI::Option* filterOption =
      cmd->add_option("--filter", filter,
                      "Write one filter matching every block found instead: bpf (tcpdump and every pcap-based "
                      "capture), wireshark (a display filter) or nft (an nftables set and the rule using it)")
          ->type_name("FORMAT")
          ->check(CLI::Validator(
              [](std::string& name) { return answer::FilterFormatNamed(name) ? "" : "must be bpf, wireshark or nft"; },
              ""))
          ->excludes("--json")
          ->excludes("--csv");
  cmd->add_option("--direction", direction, "The address the filter tests: src, dst or either (default)")
      ->type_name("src|dst|either")
      ->check(CLI::Validator(
          [](std::string& name) { return answer::FilterDirectionNamed(name) ? "" : "must be src, dst or either"; },
          ""))
      ->needs(filterOption);
  return {cmd, [] {
            if (!filter.empty()) options.filter = answer::FilterFormatNamed(filter);
            options.direction = *answer::FilterDirectionNamed(direction);
            return RunSearch(options, stdout, stderr);
          }};
}

Command AddExportCommand(CLI::App& app) {
  CLI::App* cmd = app.add_subcommand("export", "Write every assignment of every registry (and your own prefixes) with its address range (CSV)");
  static answer::RowFormat format = answer::RowFormat::Csv;
  static std::string prefixes;
  AddRowFormatFlags(cmd, &format);
  AddPrefixesOption(cmd, &prefixes);
  return {cmd, [] { return RunExport(format, prefixes, stdout, stderr); }};
}

// A pipe's buffer holds 64 KiB unless asked for more: the reader is woken,
// and this process waits, once per 64 KiB. Asking for 1 MiB (what an
// unprivileged process may have by default) lets lookup's, annotate's and
// export's output through in blocks that size; a refusal leaves it as it
// was, and any other kind of output is not touched.
void WidenOutputPipe() {
  struct stat st;
  if (::fstat(STDOUT_FILENO, &st) == 0 && S_ISFIFO(st.st_mode)) ::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, 1 << 20);
}

std::string ProgramVersionText() {
  StartUpDatabase();
  std::string text = "vessarine-cli " VESSARINE_VERSION "\ndatabase: " + std::to_string(companyCount) + " records, ";
  text += g_bCachePresent ? "cache in " + CacheDir() : std::string("built-in");
  return text + ", " + GbkToUtf8(g_strDbVersion);
}

// The error and the usage of the command it belongs to, on stderr (help()
// describes the command chosen, if any).
int UsageError(const CLI::App& app, const CLI::ParseError& error, int argc, char** argv) {
  if (app.get_subcommands().empty() && argc > 1 && argv[1][0] != '-') {
    std::fprintf(stderr, "vessarine-cli: unknown command '%s'\n", argv[1]);
  } else {
    std::fprintf(stderr, "vessarine-cli: %s\n", error.what());
  }
  std::fputs(app.help().c_str(), stderr);
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  // Most commands answer once and end: their cache files are mapped under a
  // lease rather than copied (annotate, and lookup reading stdin, which may
  // read a stream for hours, copy them).
  SetCacheHold(CacheHold::LeasedMapping);
  WidenOutputPipe();
  CLI::App app{"Which company owns a MAC address prefix, and which prefixes a company owns.", "vessarine-cli"};
  app.set_version_flag("--version", ProgramVersionText, "Show the version and the database it would load");
  app.require_subcommand(1);
  app.footer("Exit status: 0 results shown, 1 a message shown instead, 2 usage error.");

  const std::vector<Command> commands = {
      AddMacCommand(app), AddListCommand(app), AddCompanyCommand(app), AddInfoCommand(app),
      AddUpdateCommand(app), AddLookupCommand(app), AddAnnotateCommand(app),
      AddSearchCommand(app),  AddExportCommand(app),
  };

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return UsageError(app, e, argc, argv);
  }
  for (const Command& command : commands) {
    if (command.parser->parsed()) return command.run();
  }
  return kExitUsage;  // require_subcommand(1) makes this unreachable
}
