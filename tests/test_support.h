// Shared by every test program: a private cache directory per test, the
// file helpers, where the listings are, running vessarine-cli.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/listing_2011.h"

// First line of a test that pins figures of the built-in copy: such a test
// runs only when the build made that copy from the 2011 listing.
#define SKIP_UNLESS_BUILTIN_IS_2011()                                          \
  do {                                                                         \
    if (!kBuiltinIs2011) GTEST_SKIP() << "built-in copy made from another listing"; \
  } while (0)

// A fresh, empty $XDG_CACHE_HOME for each test, removed afterwards; loopback
// requests never go through a proxy.
class CacheHomeTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string xdgDir;
};

// Also creates the cache directory.
class CoreTest : public CacheHomeTest {
 protected:
  void SetUp() override;
  // The dialog's start: initial texts, then LoadDatabase.
  static void StartUp();
  std::string cacheDir;  // $XDG_CACHE_HOME/vessarine, created
};

// Debian's ieee-data listings, whatever their date: tests of them assert
// relations only. The fixtures under tests/data: a few entries each.
inline const std::string kIeeeData = "/usr/share/ieee-data";
inline const std::string kFixtures = VESSARINE_TEST_DATA;

#define SKIP_UNLESS_IEEE_DATA()                                                          \
  do {                                                                                   \
    if (!std::filesystem::exists(kIeeeData + "/oui.txt"))                                \
      GTEST_SKIP() << kIeeeData << " missing (package ieee-data)";                       \
  } while (0)

struct CliRun {
  int status = -1;
  std::string out, err;
};

// Runs vessarine-cli ARGS (shell words) with `input` on stdin and
// XDG_CACHE_HOME=xdgDir; its files go in xdgDir too.
CliRun RunCli(const std::string& xdgDir, const std::string& args, const std::string& input = "");


std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
// The 2011 registry listing (data/), whatever the built-in copy is made from.
std::string Listing2011();
// The listing this build made its built-in copy from.
std::string BuiltinListing();
// One 114-byte vendor record.
std::string MakeRecord(const std::string& oui, unsigned offset, const std::string& name);
// Puts a store of these bytes in place (the table's size decides the count).
void PutStore(const std::string& mac, const std::string& addr);
// Number of occurrences of `needle` in `text`.
size_t CountOf(const std::string& text, const std::string& needle);
