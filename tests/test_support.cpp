#include "tests/test_support.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "vessarine/startup/startup.h"
#include "vessarine/db/loader.h"
#include "vessarine/store/store.h"
#include "vessarine/store/texts.h"
#include "vessarine/update/update.h"

void CacheHomeTest::SetUp() {
  char pattern[] = "/tmp/vessarine-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  xdgDir = pattern;
  setenv("XDG_CACHE_HOME", xdgDir.c_str(), 1);
  // The user's own prefixes file is never read by a test unless it puts one.
  setenv("XDG_CONFIG_HOME", (xdgDir + "/config").c_str(), 1);
  setenv("no_proxy", "127.0.0.1,localhost", 1);
  setenv("NO_PROXY", "127.0.0.1,localhost", 1);
}

void CacheHomeTest::TearDown() {
  std::error_code ec;
  std::filesystem::remove_all(xdgDir, ec);
  unsetenv("XDG_CACHE_HOME");
  unsetenv("XDG_CONFIG_HOME");
}

void CoreTest::SetUp() {
  CacheHomeTest::SetUp();
  cacheDir = xdgDir + "/vessarine";
  std::filesystem::create_directories(cacheDir);
}

void CoreTest::StartUp() { StartUpDatabase(); }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Listing2011() {
  std::string text = ReadFile(std::string(VESSARINE_DATA_DIR) + "/" + listing2011::kFileName);
  EXPECT_EQ(text.size(), listing2011::kFileBytes);
  return text;
}

std::string BuiltinListing() {
  std::string text = ReadFile(VESSARINE_LISTING);
  EXPECT_FALSE(text.empty()) << VESSARINE_LISTING;
  return text;
}

std::string MakeRecord(const std::string& oui, unsigned offset, const std::string& name) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%08x", offset);
  std::string record = oui + digits + name;
  record.resize(kRecordSize, '\0');
  return record;
}

size_t CountOf(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t p = text.find(needle); p != std::string::npos; p = text.find(needle, p + needle.size())) ++n;
  return n;
}

void PutStore(const std::string& mac, const std::string& addr) {
  char* table = static_cast<char*>(std::malloc(mac.size() + 1));
  std::memcpy(table, mac.data(), mac.size());
  char* text = strdup(addr.c_str());
  ReplaceStore(StoreSnapshot::FromHeap(table, text, static_cast<int32_t>(mac.size() / kRecordSize), addr.size()));
}

CliRun RunCli(const std::string& xdgDir, const std::string& args, const std::string& input) {
  const std::string in = xdgDir + "/cli.in", out = xdgDir + "/cli.out", err = xdgDir + "/cli.err";
  WriteFile(in, input);
  const std::string command = "XDG_CACHE_HOME='" + xdgDir + "' " VESSARINE_CLI " " + args + " <'" + in + "' >'" +
                              out + "' 2>'" + err + "'";
  CliRun run;
  const int status = std::system(command.c_str());
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = ReadFile(out);
  run.err = ReadFile(err);
  return run;
}

