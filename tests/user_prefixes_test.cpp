// The user's prefixes file: its notations, the longest-prefix answer, and a
// clear file:line message for every line that is not an entry.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>

#include "vessarine/registry/user_prefixes.h"
#include "tests/test_support.h"

using registry::UserPrefixes;

TEST(UserPrefixes, NotationsCommentsAndLongestPrefix) {
  std::string error;
  auto p = UserPrefixes::Parse(
      "# lab gear\n"
      "  \n"
      "00:0c:29 Lab VMs\r\n"
      "00-0C-29-AA  Lab VMs, rack A  \n"
      "000c.29aa.bb/40\tOne switch\n"
      "0a/8 Tens\n"
      "70B3D5F2F0/36 Sensors Ünit\n",
      "prefixes", &error);
  ASSERT_TRUE(p) << error;
  auto name = [&](uint64_t mac) {
    const registry::UserPrefix* e = p->Lookup(mac);
    return e == nullptr ? std::string("none") : std::string(p->Name(*e)) + " @" + std::to_string(e->line);
  };
  EXPECT_EQ(name(0x000C29AABBCC), "One switch @5");
  EXPECT_EQ(name(0x000C29AA0001), "Lab VMs, rack A @4");
  EXPECT_EQ(name(0x000C29000001), "Lab VMs @3");
  EXPECT_EQ(name(0x0AFFFFFFFFFF), "Tens @6");
  EXPECT_EQ(name(0x70B3D5F2FFFF), "Sensors Ünit @7");
  EXPECT_EQ(name(0x70B3D5F30000), "none");
  EXPECT_EQ(name(0x000C28FFFFFF), "none");
}

// A file in no order is sorted, and a prefix given twice is found however
// far apart the two lines are.
TEST(UserPrefixes, AFileInAnyOrderAnswersAndItsDuplicatesAreFound) {
  std::string text;
  char line[40];
  for (int i = 0; i < 600; ++i) {
    const int k = i * 7919 % 600;  // every value once, scrambled
    std::snprintf(line, sizeof line, "%s%06x Lab %d\n", i % 2 ? "" : "  ", 0x0A0000 + k * 0x101, k);
    text += line;
  }
  std::string error;
  auto p = UserPrefixes::Parse(text, "prefixes", &error);
  ASSERT_TRUE(p) << error;
  for (int k = 0; k < 600; ++k) {
    const registry::UserPrefix* e = p->Lookup(static_cast<uint64_t>(0x0A0000 + k * 0x101) << 24 | 0x123456);
    ASSERT_NE(e, nullptr) << k;
    EXPECT_EQ(p->Name(*e), "Lab " + std::to_string(k));
  }
  EXPECT_FALSE(UserPrefixes::Parse(text + "0a0000/24 Again\n", "prefixes", &error));
  EXPECT_EQ(error, "prefixes:601: the same prefix as line 1");
}

TEST(UserPrefixes, EveryMalformedLineIsNamedByFileAndLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"0g:11:22 X", "prefixes:2: '0g:11:22' is not a prefix"},
      {"0 X", "prefixes:2: '0' is not a prefix of 2 to 12 hex digits"},
      {"00:11:22:33:44:55:66 X", "more than 12 hex digits"},
      {"001122", "prefixes:2: the prefix has no name after it"},
      {"001122/7 X", "'/7' is not a prefix length from 8 to 48"},
      {"001122/ X", "'/' is not a prefix length"},
      {"001122/24x X", "'/24x' is not a prefix length"},
      {"001122/28 X", "/28 is longer than the 6 digits given"},
      {"001123/20 X", "digits set beyond its /20"},
      {"001122 \xFF", "not valid UTF-8"},
      {"00-11-22 Again", "prefixes:2: the same prefix as line 1"},
  };
  for (const auto& [line, message] : cases) {
    std::string error;
    EXPECT_FALSE(UserPrefixes::Parse(std::string("001122 First\n") + line + "\n", "prefixes", &error)) << line;
    EXPECT_NE(error.find(message), std::string::npos) << line << ": " << error;
  }
  // A line of megabytes is quoted by its start and its length.
  std::string error;
  EXPECT_FALSE(UserPrefixes::Parse(std::string(1 << 20, 'a') + " X\n", "prefixes", &error));
  EXPECT_EQ(error, "prefixes:1: '" + std::string(40, 'a') + "\xE2\x80\xA6 (1048576 bytes)' has more than 12 hex digits");
}

class UserPrefixesFile : public CacheHomeTest {};

TEST_F(UserPrefixesFile, OnlyBoundedRegularFilesAreRead) {
  std::string error;
  const std::string missing = xdgDir + "/none";
  EXPECT_TRUE(UserPrefixes::Load(missing, false, &error));
  EXPECT_FALSE(UserPrefixes::Load(missing, true, &error));
  EXPECT_EQ(error, missing + ": does not exist");

  const std::string fifo = xdgDir + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(UserPrefixes::Load(fifo, false, &error));  // returns at once: never opened for a blocking read
  EXPECT_EQ(error, fifo + ": is not a regular file");

  const std::string big = xdgDir + "/big";
  WriteFile(big, std::string(registry::kMaxUserPrefixesSize + 1, '#'));
  EXPECT_FALSE(UserPrefixes::Load(big, false, &error));
  EXPECT_NE(error.find("is larger than"), std::string::npos) << error;

  const std::string good = xdgDir + "/good";
  WriteFile(good, "0a0b0c Mine\nnot a prefix line\n");
  EXPECT_FALSE(UserPrefixes::Load(good, false, &error));
  EXPECT_EQ(error.substr(0, good.size() + 3), good + ":2:");
}

// Read a block at a time: lines across blocks, a line longer than a block
// and a last line without its end are all read as the whole file.
TEST_F(UserPrefixesFile, LinesAcrossBlocksReadAsOneText) {
  std::string text = "# " + std::string(100000, 'x') + "\n";
  char line[48];
  for (int k = 0; k < 5000; ++k) {
    std::snprintf(line, sizeof line, "%06x/24 Device number %d%s", 0x0A0000 + k, k, k == 4999 ? "" : "\r\n");
    text += line;
  }
  const std::string path = xdgDir + "/prefixes";
  WriteFile(path, text);
  std::string error;
  auto p = UserPrefixes::Load(path, true, &error);
  ASSERT_TRUE(p) << error;
  ASSERT_EQ(p->entries().size(), 5000u);
  for (int k = 0; k < 5000; k += 7) {
    const registry::UserPrefix* e = p->Lookup(static_cast<uint64_t>(0x0A0000 + k) << 24);
    ASSERT_NE(e, nullptr) << k;
    EXPECT_EQ(p->Name(*e), "Device number " + std::to_string(k));
    EXPECT_EQ(e->line, k + 2);
  }
  WriteFile(path, text + "\n0a0000 Again");
  EXPECT_FALSE(UserPrefixes::Load(path, true, &error));
  EXPECT_EQ(error, path + ":5002: the same prefix as line 2");
}
