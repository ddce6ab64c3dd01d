// Finding addresses in free text, the annotate and lookup commands end to
// end, and the escaping of their JSON and CSV output.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "vessarine/registry/escape.h"
#include "vessarine/registry/scanner.h"
#include "tests/registry_support.h"
#include "tests/test_support.h"

namespace {

struct Hit {
  size_t offset, length;
  uint64_t value;
  bool operator==(const Hit&) const = default;
};

std::vector<Hit> Scan(const std::string& text) {
  std::vector<Hit> hits;
  registry::ScanAddresses(text.data(), 0, text.size(), text.size(), -1,
                          [&](size_t o, size_t l, uint64_t v) { hits.push_back({o, l, v}); });
  return hits;
}

bool IsHex(int c) { return c >= 0 && std::isxdigit(c); }

// The rules read literally, one position at a time.
std::vector<Hit> Reference(const std::string& t) {
  std::vector<Hit> hits;
  auto at = [&](size_t i) { return i < t.size() ? static_cast<unsigned char>(t[i]) : -1; };
  for (size_t p = 0; p < t.size();) {
    size_t length = 0;
    int sep = 0;
    for (auto [len, groups, digits, s] : {std::tuple{17, 6, 2, ':'}, {17, 6, 2, '-'}, {14, 3, 4, '.'}}) {
      bool ok = true;
      for (int g = 0; g < groups && ok; ++g)
        for (int k = 0; k < digits + 1 && ok; ++k) {
          size_t i = p + static_cast<size_t>(g * (digits + 1) + k);
          ok = k < digits ? IsHex(at(i)) : (g == groups - 1 || at(i) == s);
        }
      int before = p == 0 ? -1 : at(p - 1), after = at(p + static_cast<size_t>(len));
      if (ok && !IsHex(before) && before != s && !IsHex(after) && after != s) {
        length = static_cast<size_t>(len);
        sep = s;
      }
    }
    if (length == 0) {
      ++p;
      continue;
    }
    std::string digits;
    for (size_t i = p; i < p + length; ++i)
      if (at(i) != sep) digits.push_back(t[i]);
    hits.push_back({p, length, std::stoull(digits, nullptr, 16)});
    p += length;
  }
  return hits;
}

}  // namespace

TEST(RegistryScan, FindsEachNotationAndSkipsTheTraps) {
  EXPECT_EQ(Scan("lease to 00:0c:29:AA:bb:cc."), (std::vector<Hit>{{9, 17, 0x000C29AABBCC}}));
  EXPECT_EQ(Scan("(00-0c-29-aa-bb-cc)"), (std::vector<Hit>{{1, 17, 0x000C29AABBCC}}));
  EXPECT_EQ(Scan("Gi0/1 000c.29aa.bbcc DYNAMIC"), (std::vector<Hit>{{6, 14, 0x000C29AABBCC}}));
  EXPECT_EQ(Scan("00:0c:29:aa:bb:cc"), (std::vector<Hit>{{0, 17, 0x000C29AABBCC}}));
  for (const char* trap : {"2001:db8:aa:bb:cc:dd:ee:ff", "aa:bb:cc:dd:ee:ff:00", "1234.5678.9abc.def0",
                           "aabbccddeeff00112233aabb", "aabbccddeeff", ":00:0c:29:aa:bb:cc", "00:0c-29:aa:bb:cc",
                           "g0:0c:29:aa:bb:cc", "a000:0c:29:aa:bb:cc", ".000c.29aa.bbcc"}) {
    EXPECT_TRUE(Scan(trap).empty()) << trap;
  }
}

// The block-at-a-time scanner against the rules read literally, on text
// dense in hex digits and separators, across block boundaries.
TEST(RegistryScan, AgreesWithTheRulesOnRandomText) {
  std::mt19937 random(1);
  const std::string alphabet = "0123456789abcdefABCDEF:-.:-. xg\n";
  for (int round = 0; round < 300; ++round) {
    std::string text(random() % 600, ' ');
    for (char& c : text) c = alphabet[random() % alphabet.size()];
    // Plant some real addresses.
    for (int k = 0; k < 4 && text.size() > 40; ++k) {
      static const char* kPlants[] = {"00:0c:29:aa:bb:cc", "70-B3-D5-F2-F1-23", "000c.29aa.bbcc"};
      const std::string plant = kPlants[random() % 3];
      text.replace(random() % (text.size() - plant.size()), plant.size(), plant);
    }
    ASSERT_EQ(Scan(text), Reference(text)) << text;
  }
}

TEST(RegistryEscape, JsonAndCsvStayWellFormed) {
  std::string json;
  registry::AppendJsonString(&json, std::string("a\"b\\c\n\t\x01\x7f") + "\xC3\xA9\xFF" + std::string(1, '\0'));
  EXPECT_EQ(json, "\"a\\\"b\\\\c\\n\\t\\u0001\\u007f\xC3\xA9\xEF\xBF\xBD\\u0000\"");
  std::string csv;
  for (const char* field : {"plain", "a,b", "say \"hi\"", "two\nlines", " padded"}) {
    registry::AppendCsvField(&csv, field);
    csv += '|';
  }
  EXPECT_EQ(csv, "plain|\"a,b\"|\"say \"\"hi\"\"\"|\"two\nlines\"|\" padded\"|");
}

class RegistryCommands : public CacheHomeTest {};

TEST_F(RegistryCommands, AnnotateKeepsEveryByteAndLabelsAddresses) {
  using namespace std::string_literals;
  const std::string input = "a 00:0c:29:aa:bb:cc\r\n\0 bin \xFF\xFE 02:00:00:00:00:01\n"s +
                            "ff-ff-ff-ff-ff-ff 33:33:00:00:00:fb 14:34:56:78:9a:bc end";
  CliRun run = RunCli(xdgDir, "annotate", input);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "a 00:0c:29:aa:bb:cc [VMware, Inc.]\r\n\0 bin \xFF\xFE 02:00:00:00:00:01 [locally administered]\n"s +
                         "ff-ff-ff-ff-ff-ff [broadcast] 33:33:00:00:00:fb [multicast: IPv6 multicast] "
                         "14:34:56:78:9a:bc [unknown] end");
}

// A line longer than the read buffer, with an address across its edge.
TEST_F(RegistryCommands, AnnotateStreamsLongLines) {
  std::string input(3 << 20, 'z');
  for (size_t at : {size_t{1} << 20, (size_t{2} << 20) - 7}) input.replace(at - 5, 17, "00:0c:29:aa:bb:cc");
  input += "\nlast 000c.29aa.bbcc";
  const std::string path = xdgDir + "/long.txt";
  WriteFile(path, input);
  CliRun run = RunCli(xdgDir, "annotate " + path);
  std::string expected = input;
  for (size_t at : {input.size(), (size_t{2} << 20) - 7 + 12, (size_t{1} << 20) + 12})
    expected.insert(at, " [VMware, Inc.]");
  EXPECT_EQ(run.out.size(), expected.size());
  EXPECT_TRUE(run.out == expected);

  run = RunCli(xdgDir, "annotate --json " + path);
  EXPECT_EQ(CountOf(run.out, "\n"), 3u);
  EXPECT_NE(run.out.find("\"line\":1,\"column\":1048572,\"text\":\"00:0c:29:aa:bb:cc\"}"), std::string::npos);
  EXPECT_NE(run.out.find("\"line\":2,\"column\":6,\"text\":\"000c.29aa.bbcc\"}"), std::string::npos);

  run = RunCli(xdgDir, "annotate " + path + " " + xdgDir + "/missing.txt");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("missing.txt"), std::string::npos);
  EXPECT_TRUE(run.out == expected);
}

TEST_F(RegistryCommands, LookupExitStatusAndFormats) {
  CliRun run = RunCli(xdgDir, "lookup --json - 00:0c:29", "00-0C-29-AA-BB-CC\r\n\nnot-a-mac\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(CountOf(run.out, "\n"), 3u);
  EXPECT_NE(run.out.find("{\"input\":\"not-a-mac\",\"error\":\"not a MAC address"), std::string::npos);
  EXPECT_NE(run.out.find("\"input\":\"00:0c:29\",\"mac\":\"00:0C:29\",\"registry\":\"MA-L\""), std::string::npos);

  run = RunCli(xdgDir, "lookup --csv 00:0c:29:aa:bb:cc 02:00:00:00:00:01");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.substr(0, run.out.find('\n') + 1),
            "input,mac,registry,assignment,bits,organization,address,group,local,broadcast,note,error\r\n");
  EXPECT_NE(run.out.find("\r\n02:00:00:00:00:01,02:00:00:00:00:01,,,,,,false,true,false,\"IEEE 802c AAI (administratively assigned, e.g. random)\",\r\n"), std::string::npos);

  run = RunCli(xdgDir, "lookup 02:00:00:00:00:01");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("locally administered"), std::string::npos);
}
