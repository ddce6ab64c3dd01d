// Shared fixtures for the core tests: a private cache directory per test, a
// query host that records what the window would be told, file helpers.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "vessarine/query/queries.h"
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

// Also creates the cache directory and resets the query state.
class CoreTest : public CacheHomeTest {
 protected:
  void SetUp() override;
  // The dialog's start: initial texts, then LoadDatabase.
  static void StartUp();
  std::string cacheDir;  // $XDG_CACHE_HOME/vessarine, created
};

class RecordingHost : public QueryHost {
 public:
  void EnableControl(int id, bool enable) override { enabled[id] = enable; }
  void Push() override { ++pushes; }
  bool IsEnabled(int id) const {
    auto it = enabled.find(id);
    return it != enabled.end() && it->second;
  }
  std::map<int, bool> enabled;
  int pushes = 0;
};

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
