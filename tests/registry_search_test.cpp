// search and export: every registry's assignments as rows, from small
// tables made here, and export's CSV answering as lookup does once a SQL
// engine range-joins it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "vessarine/listing/table.h"
#include "vessarine/registry/address.h"
#include "vessarine/registry/refresh.h"
#include "tests/registry_support.h"
#include "tests/test_support.h"

using registry::Registry;

namespace {

class RegistrySearch : public CacheHomeTest {
 protected:
  void SetUp() override {
    CacheHomeTest::SetUp();
    Put(Registry::MaL, {{0x70B3D5, "IEEE Registration Authority", "445 Hoes Lane\nPiscataway  NJ  08554\nUS"},
                        {0x00000C, "Cisco Systems, Inc", "170 West Tasman Dr.\nSan Jose  CA  95134\nUS"}});
    Put(Registry::MaM, {{0x70B3D5F, "ACME \"Quotes\", Ltd", ""}});
    Put(Registry::MaS, {{0x70B3D5F2F, "Acme Sensörs GmbH", "Straße 1\nKöln\nDE"}});
    Put(Registry::Cid, {{0x0AE6A6, "Bad \xFF byte acme", ""}});
  }
  static void Put(Registry r, std::vector<registry::Entry> entries) {
    std::string error;
    ASSERT_TRUE(registry::SaveTableImage(r, registry::EncodeImage(r, std::move(entries)), &error)) << error;
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
            "registry,assignment,bits,first,last,first_mac,last_mac,organization,address\r\n"
            "MA-M,70B3D5F,28,123917690732544,123917691781119,70:B3:D5:F0:00:00,70:B3:D5:FF:FF:FF,"
            "\"ACME \"\"Quotes\"\", Ltd\",\r\n"
            "MA-S,70B3D5F2F,36,123917690925056,123917690929151,70:B3:D5:F2:F0:00,70:B3:D5:F2:FF:FF,"
            "Acme Sensörs GmbH,\"Straße 1\nKöln\nDE\"\r\n"
            // invalid UTF-8 is U+FFFD, as in JSON
            "CID,0AE6A6,24,11985743773696,11985760550911,0A:E6:A6:00:00:00,0A:E6:A6:FF:FF:FF,Bad \xEF\xBF\xBD byte "
            "acme,\r\n");

  run = RunCli(xdgDir, "search sensörs --json");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "{\"registry\":\"MA-S\",\"assignment\":\"70B3D5F2F\",\"bits\":36,\"first\":123917690925056,"
            "\"last\":123917690929151,\"first_mac\":\"70:B3:D5:F2:F0:00\",\"last_mac\":\"70:B3:D5:F2:FF:FF\","
            "\"organization\":\"Acme Sensörs GmbH\",\"address\":[\"Straße 1\",\"Köln\",\"DE\"]}\n");
  run = RunCli(xdgDir, "search 'byte acme' --json");
  EXPECT_NE(run.out.find("\"organization\":\"Bad \xEF\xBF\xBD byte acme\",\"address\":[]}"), std::string::npos)
      << run.out;
}

// Only ASCII letters fold: other bytes must be the very bytes of the name.
TEST_F(RegistrySearch, NonAsciiMatchesExactlyAndNothingFoundIsExitOne) {
  EXPECT_EQ(RunCli(xdgDir, "search SENSöRS").status, 0);
  for (const char* text : {"SENSÖRS", "nobody"}) {
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
  CliRun run = RunCli(xdgDir, "export");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string csv = xdgDir + "/export.csv";
  WriteFile(csv, run.out);
  EXPECT_EQ(CountOf(run.out, "\r\n"), 1u + 5u);  // the header and five assignments
  EXPECT_EQ(RunCli(xdgDir, "export --json").out.find("{\"registry\":\"MA-L\",\"assignment\":\"00000C\""), 0u);

  for (const char* mac : {"70:b3:d5:f2:f0:01", "70:b3:d5:f2:ef:ff", "70:b3:d5:10:00:00", "00:00:0c:12:34:56",
                          "0a:e6:a6:ff:ff:ff", "0a:e6:a7:00:00:00"}) {
    std::string error;
    const auto address = registry::ParseAddress(mac, &error);
    ASSERT_TRUE(address) << error;
    const std::string sql = xdgDir + "/join.sql", answer = xdgDir + "/join.out";
    WriteFile(sql, ".mode csv\n.import '" + csv + "' a\n.mode json\n"
                   "SELECT registry, assignment, CAST(bits AS INTEGER) AS bits FROM a WHERE " +
                       std::to_string(address->value) +
                       " BETWEEN CAST(first AS INTEGER) AND CAST(last AS INTEGER)"
                       " ORDER BY CAST(bits AS INTEGER) DESC LIMIT 1;\n");
    ASSERT_EQ(std::system(("sqlite3 -batch :memory: <'" + sql + "' >'" + answer + "'").c_str()), 0);
    std::string joined = ReadFile(answer);  // [{"registry":...,"bits":...}] or nothing

    run = RunCli(xdgDir, std::string("lookup --json ") + mac);
    if (joined.empty()) {
      EXPECT_NE(run.out.find("\"registry\":null"), std::string::npos) << mac << ": " << run.out;
      continue;
    }
    ASSERT_EQ(joined.substr(0, 2), "[{") << joined;
    joined = joined.substr(2, joined.find("}]") - 2);
    EXPECT_NE(run.out.find("\"mac\":\"" + registry::FormatMac(*address) + "\"," + joined + ",\"organization\""),
              std::string::npos)
        << mac << "\n" << joined << "\n" << run.out;
  }
}
