// search and export: every registry's assignments as rows, from small
// tables made here, and export's CSV answering as lookup does once a SQL
// engine range-joins it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "vessarine/listing/table.h"
#include "vessarine/identifier/address.h"
#include "vessarine/answer/assignments.h"
#include "vessarine/update/table_refresh.h"
#include "tests/registry_support.h"
#include "tests/test_support.h"

using listing::Registry;

namespace {

class RegistrySearch : public CacheHomeTest {
 protected:
  void SetUp() override {
    CacheHomeTest::SetUp();
    prefixes = xdgDir + "/config/vessarine/prefixes";
    Put(Registry::MaL, {{0x70B3D5, "IEEE Registration Authority", "445 Hoes Lane\nPiscataway  NJ  08554\nUS"},
                        {0x00000C, "Cisco Systems, Inc", "170 West Tasman Dr.\nSan Jose  CA  95134\nUS"},
                        // One assignment the listing gives to three holders.
                        {0x080030, "NETWORK RESEARCH CORPORATION", "2380 N. ROSE AVENUE\nOXNARD  CA  93010\nUS"},
                        {0x080030, "CERN", "CH-1211\nGENEVE  SUISSE/SWITZ  023\nCH"},
                        {0x080030, "ROYAL MELBOURNE INST OF TECH", ""}});
    Put(Registry::MaM, {{0x70B3D5F, "ACME \"Quotes\", Ltd", ""}});
    Put(Registry::MaS, {{0x70B3D5F2F, "Acme Sensörs GmbH", "Straße 1\nKöln\nDE"}});
    Put(Registry::Cid, {{0x0AE6A6, "Bad \xFF byte acme", ""}});
  }
  // The default prefixes file, where $XDG_CONFIG_HOME says.
  void WriteUserPrefixes(const std::string& text) {
    std::filesystem::create_directories(xdgDir + "/config/vessarine");
    WriteFile(prefixes, text);
  }
  std::string prefixes;
  static void Put(Registry r, std::vector<listing::Entry> entries) {
    std::string error;
    ASSERT_TRUE(update::SaveTableImage(r, listing::EncodeImage(r, std::move(entries)), &error)) << error;
  }
};

}  // namespace

TEST_F(RegistrySearch, MatchesAnyCaseInRegistryOrderInEveryFormat) {
  CliRun run = RunCli(xdgDir, "search aCmE");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "MA-M  70B3D5F    /28  70:B3:D5:F0:00:00-70:B3:D5:FF:FF:FF  ACME \"Quotes\", Ltd\n"
            "MA-S  70B3D5F2F  /36  70:B3:D5:F2:F0:00-70:B3:D5:F2:FF:FF  Acme Sensörs GmbH\n"
            "      Straße 1\n      Köln\n      DE\n"
            "CID   0AE6A6     /24  0A:E6:A6:00:00:00-0A:E6:A6:FF:FF:FF  Bad \xEF\xBF\xBD byte acme\n");  // shown as U+FFFD

  run = RunCli(xdgDir, "search acme --csv");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "registry,assignment,bits,first,last,first_mac,last_mac,organization,address,also,source\r\n"
            "MA-M,70B3D5F,28,123917690732544,123917691781119,70:B3:D5:F0:00:00,70:B3:D5:FF:FF:FF,"
            "\"ACME \"\"Quotes\"\", Ltd\",,,\r\n"
            "MA-S,70B3D5F2F,36,123917690925056,123917690929151,70:B3:D5:F2:F0:00,70:B3:D5:F2:FF:FF,"
            "Acme Sensörs GmbH,\"Straße 1\nKöln\nDE\",,\r\n"
            // invalid UTF-8 is U+FFFD, as in JSON
            "CID,0AE6A6,24,11985743773696,11985760550911,0A:E6:A6:00:00:00,0A:E6:A6:FF:FF:FF,Bad \xEF\xBF\xBD byte "
            "acme,,,\r\n");

  run = RunCli(xdgDir, "search sensörs --json");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "{\"registry\":\"MA-S\",\"assignment\":\"70B3D5F2F\",\"bits\":36,\"first\":123917690925056,"
            "\"last\":123917690929151,\"first_mac\":\"70:B3:D5:F2:F0:00\",\"last_mac\":\"70:B3:D5:F2:FF:FF\","
            "\"organization\":\"Acme Sensörs GmbH\",\"address\":[\"Straße 1\",\"Köln\",\"DE\"],\"also\":[],"
            "\"source\":null}\n");
  run = RunCli(xdgDir, "search 'byte acme' --json");
  EXPECT_NE(run.out.find("\"organization\":\"Bad \xEF\xBF\xBD byte acme\",\"address\":[],"), std::string::npos)
      << run.out;
}

// Letters beyond ASCII fold too, but a letter is never taken for another.
TEST_F(RegistrySearch, NonAsciiLettersFoldAndNothingFoundIsExitOne) {
  EXPECT_EQ(RunCli(xdgDir, "search SENSöRS").status, 0);
  EXPECT_EQ(RunCli(xdgDir, "search 'SENSÖRS GMBH'").status, 0);
  EXPECT_EQ(RunCli(xdgDir, "search STRASSE").status, 1);  // the holder, not its address
  for (const char* text : {"SENSORS", "nobody"}) {
    CliRun run = RunCli(xdgDir, std::string("search '") + text + "'");
    EXPECT_EQ(run.status, 1) << text;
    EXPECT_EQ(run.out, "") << text;
    EXPECT_NE(run.err.find("no holder's name contains"), std::string::npos) << text;
  }
}

TEST_F(RegistrySearch, UsageErrorsWriteNothing) {
  for (const char* args : {"search", "search ''", "search acme --json --csv", "export --csv --json", "export x"}) {
    CliRun run = RunCli(xdgDir, args);
    EXPECT_EQ(run.status, 2) << args;
    EXPECT_EQ(run.out, "") << args;
    EXPECT_NE(run.err.find("Usage"), std::string::npos) << args << ": " << run.err;
  }
}

// The export, loaded into SQLite, answers a longest-prefix range join as
// lookup answers the same addresses.
TEST_F(RegistrySearch, ExportJoinedInSqliteAnswersAsLookup) {
  if (std::system("command -v sqlite3 >/dev/null 2>&1") != 0) GTEST_SKIP() << "sqlite3 is not installed";
  WriteUserPrefixes("70b3d5f2ef/40 Lab probe\n0a:e6/16 Lab tens\n");
  CliRun run = RunCli(xdgDir, "export");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string csv = xdgDir + "/export.csv";
  WriteFile(csv, run.out);
  EXPECT_EQ(CountOf(run.out, "\r\n"), 1u + 6u + 2u);  // the header, six assignments, two user prefixes
  EXPECT_EQ(RunCli(xdgDir, "export --json").out.find("{\"registry\":\"MA-L\",\"assignment\":\"00000C\""), 0u);

  for (const char* mac : {"70:b3:d5:f2:f0:01", "70:b3:d5:f2:ef:ff", "70:b3:d5:10:00:00", "00:00:0c:12:34:56",
                          "0a:e6:a6:ff:ff:ff", "0a:e6:a7:00:00:00", "0b:00:00:00:00:00", "08:00:30:00:00:01"}) {
    std::string error;
    const auto address = identifier::ParseAddress(mac, &error);
    ASSERT_TRUE(address) << error;
    const std::string sql = xdgDir + "/join.sql", answer = xdgDir + "/join.out";
    WriteFile(sql, ".mode csv\n.import '" + csv + "' a\n.mode json\n"
                   "SELECT registry, assignment, CAST(bits AS INTEGER) AS bits FROM a WHERE " +
                       std::to_string(address->value) +
                       " BETWEEN CAST(first AS INTEGER) AND CAST(last AS INTEGER)"
                       " ORDER BY registry = 'user' DESC, CAST(bits AS INTEGER) DESC LIMIT 1;\n");
    ASSERT_EQ(std::system(("sqlite3 -batch :memory: <'" + sql + "' >'" + answer + "'").c_str()), 0);
    std::string joined = ReadFile(answer);  // [{"registry":...,"bits":...}] or nothing

    run = RunCli(xdgDir, std::string("lookup --json ") + mac);
    if (joined.empty()) {
      EXPECT_NE(run.out.find("\"registry\":null"), std::string::npos) << mac << ": " << run.out;
      continue;
    }
    ASSERT_EQ(joined.substr(0, 2), "[{") << joined;
    joined = joined.substr(2, joined.find("}]") - 2);
    EXPECT_NE(run.out.find("\"mac\":\"" + identifier::FormatMac(*address) + "\"," + joined + ",\"organization\""),
              std::string::npos)
        << mac << "\n" << joined << "\n" << run.out;
  }
}

TEST_F(RegistrySearch, EveryHolderOfAnAssignmentListedMoreThanOnce) {
  CliRun run = RunCli(xdgDir, "lookup --json 08:00:30:01:02:03");
  EXPECT_NE(run.out.find("\"organization\":\"NETWORK RESEARCH CORPORATION\",\"address\":[\"2380 N. ROSE AVENUE\","
                         "\"OXNARD  CA  93010\",\"US\"],\"also\":[{\"organization\":\"CERN\",\"address\":[\"CH-1211\","
                         "\"GENEVE  SUISSE/SWITZ  023\",\"CH\"]},{\"organization\":\"ROYAL MELBOURNE INST OF TECH\","
                         "\"address\":[]}],\"source\":null,"),
            std::string::npos)
      << run.out;
  run = RunCli(xdgDir, "lookup 08:00:30:01:02:03");
  EXPECT_NE(run.out.find("  Also:         CERN\n  Also:         ROYAL MELBOURNE INST OF TECH\n"), std::string::npos)
      << run.out;

  // Any holder's name finds the assignment, shown once with all of them.
  run = RunCli(xdgDir, "search melbourne --csv");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("\r\nMA-L,080030,24,8796898328576,8796915105791,08:00:30:00:00:00,08:00:30:FF:FF:FF,"
                         "NETWORK RESEARCH CORPORATION,\"2380 N. ROSE AVENUE\nOXNARD  CA  93010\nUS\","
                         "\"CERN\nROYAL MELBOURNE INST OF TECH\",\r\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(CountOf(run.out, "\r\n"), 2u);
}

TEST_F(RegistrySearch, UserPrefixesAnswerFirstInEveryCommand) {
  WriteUserPrefixes("# lab\n70:b3:d5:f2 Lab sensors\n00:00:0c:12:34/40 Core switch\n");
  CliRun run = RunCli(xdgDir, "lookup --json 70:b3:d5:f2:f0:01 00:00:0c 00:00:0c:12:34:56");
  EXPECT_EQ(run.status, 0) << run.err;
  // Before the 36-bit MA-S block it lies in, though shorter.
  EXPECT_NE(run.out.find("\"registry\":\"user\",\"assignment\":\"70B3D5F2\",\"bits\":32,\"organization\":\"Lab "
                         "sensors\",\"address\":[],\"also\":[],\"source\":\"" + prefixes + ":2\","),
            std::string::npos)
      << run.out;
  // A three-byte input is no address inside a 40-bit prefix.
  EXPECT_NE(run.out.find("\"input\":\"00:00:0c\",\"mac\":\"00:00:0C\",\"registry\":\"MA-L\""), std::string::npos);
  EXPECT_NE(run.out.find("\"organization\":\"Core switch\""), std::string::npos);

  run = RunCli(xdgDir, "lookup 00:00:0c:12:34:56");
  EXPECT_NE(run.out.find("  Registry:     user 00000C1234 (40-bit prefix of your own)\n  Source:       " + prefixes +
                         ":3\n  Organization: Core switch\n"),
            std::string::npos)
      << run.out;
  run = RunCli(xdgDir, "annotate", "port 7 00:00:0c:12:34:56 up\n");
  EXPECT_EQ(run.out, "port 7 00:00:0c:12:34:56 [Core switch] up\n");
  run = RunCli(xdgDir, "search LAB --json");
  EXPECT_EQ(run.out, "{\"registry\":\"user\",\"assignment\":\"70B3D5F2\",\"bits\":32,\"first\":123917690863616,"
                     "\"last\":123917690929151,\"first_mac\":\"70:B3:D5:F2:00:00\",\"last_mac\":\"70:B3:D5:F2:FF:FF\","
                     "\"organization\":\"Lab sensors\",\"address\":[],\"also\":[],\"source\":\"" +
                         prefixes + ":2\"}\n");

  // --prefixes names another file instead.
  const std::string other = xdgDir + "/mine";
  WriteFile(other, "0000/16 Everything under 00:00\n");
  run = RunCli(xdgDir, "lookup --csv --prefixes '" + other + "' 00:00:0c:12:34:56");
  EXPECT_NE(run.out.find(",user,0000,16,Everything under 00:00,"), std::string::npos) << run.out;
}

// A prefixes file that cannot be used stops every command before any
// output: exit 2 with the file and line, never a silently skipped line.
TEST_F(RegistrySearch, AnUnusablePrefixesFileIsExitTwoWithItsLine) {
  WriteUserPrefixes("00:00:0c Mine\n00:00:0c:1/30 Too long\n");
  for (const char* args : {"lookup 00:00:0c:12:34:56", "annotate", "search cisco", "export"}) {
    CliRun run = RunCli(xdgDir, args, "00:00:0c:12:34:56\n");
    EXPECT_EQ(run.status, 2) << args;
    EXPECT_EQ(run.out, "") << args;
    EXPECT_NE(run.err.find(prefixes + ":2: /30 is longer than the 7 digits given"), std::string::npos)
        << args << ": " << run.err;
  }
  CliRun run = RunCli(xdgDir, "lookup --prefixes '" + xdgDir + "/none' 00:00:0c");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find(xdgDir + "/none: does not exist"), std::string::npos) << run.err;
}

TEST(HolderFilter, FoldsTheLettersOfLatinGreekAndCyrillicNames) {
  const std::pair<const char*, const char*> found[] = {
      {"ÉLECTRONIQUE", "Société Électronique"}, {"łódź", "ŁÓDŹ Sp. z o.o."}, {"ŽILINA", "žilina a.s."},
      {"ΑΛΦΑ", "Άλφα αλφα"},                     {"ООО ТЕХНО", "ооо Техно"},     {"ЁЛКА", "ёлка"},
  };
  for (const auto& [text, name] : found) EXPECT_TRUE(answer::HolderFilter(text).Matches(name)) << text;
  const std::pair<const char*, const char*> notFound[] = {
      {"SENSORS", "Sensörs"}, {"×", "x"}, {"I", "ı"}, {"ü", "\xC3"},  // a lead byte alone is no letter
  };
  for (const auto& [text, name] : notFound) EXPECT_FALSE(answer::HolderFilter(text).Matches(name)) << text;
}
