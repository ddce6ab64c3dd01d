// Writes the fuzz targets' first corpora: slices of real listings (whole
// entries), the cache sets they convert into, typed queries, and lines of
// addresses in every notation for the address parser and scanner.
//   make_fuzz_seeds OUTDIR LISTING...
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "vessarine/db/cache_files.h"
#include "vessarine/listing/convert.h"
#include "vessarine/store/bytes.h"

namespace {

void Write(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A loader input: three lengths, the table, the text, the version, the marker.
std::string CacheSeed(const StoreSnapshot& s, const std::string& version) {
  const std::string table(s.macList, static_cast<size_t>(s.count) * kRecordSize);
  const std::string text(s.addrList, s.addrLength);
  CacheSetMarker marker;
  marker.mac = {table.size(), 0, 0, Hash64(table.data(), table.size())};
  marker.addr = {text.size(), 0, 0, Hash64(text.data(), text.size())};
  marker.version = {version.size(), 0, 0, Hash64(version.data(), version.size())};
  const uint32_t lengths[3] = {static_cast<uint32_t>(table.size()), static_cast<uint32_t>(text.size()),
                               static_cast<uint32_t>(version.size())};
  return std::string(reinterpret_cast<const char*>(lengths), sizeof lengths) + table + text + version +
         marker.Format();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: make_fuzz_seeds OUTDIR LISTING...\n");
    return 2;
  }
  const std::filesystem::path out = argv[1];
  for (const char* corpus : {"convert", "loader", "query", "address", "prefixes", "engine"}) std::filesystem::create_directories(out / corpus);
  int n = 0;
  for (int a = 2; a < argc; ++a) {
    std::ifstream in(argv[a], std::ios::binary);
    const std::string listing((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Every 997th entry starts a slice of a few entries.
    size_t entry = 0;
    for (size_t p = listing.find("(hex)"); p != std::string::npos; p = listing.find("(hex)", p + 5), ++entry) {
      if (entry % 997 != 0) continue;
      const size_t from = listing.rfind('\n', p);
      size_t to = p;
      for (int k = 0; k < 4 && to != std::string::npos; ++k) to = listing.find("(hex)", to + 5);
      const std::string slice = listing.substr(from == std::string::npos ? 0 : from + 1,
                                               to == std::string::npos ? std::string::npos : to - from);
      const std::string name = std::to_string(n++);
      Write(out / "convert" / name, slice);
      std::string text = slice;
      if (const StorePtr store = listing::ConvertListing(text)) Write(out / "loader" / name, CacheSeed(*store, "v"));
    }
  }
  const char* queries[] = {"\x00" "00:0c:29", "\x00" "00-0C-29-aa-bb-cc", "\x00" "00:0c-29", "\x01" "xerox",
                           "\x02" "a", "\x01" "Cisco", "\x03" "%s%n%%"};
  for (const char* q : queries) Write(out / "query" / std::to_string(n++), std::string(q, 1 + std::strlen(q + 1)));
  // The first byte picks the piece size and the padding.
  const char* lines[] = {
      "\x05" "fe80::20c:29ff:fe3a:5b7c",
      "\x11inet6 fe80::20c:29ff:fe3a:5b7c/64 scope link\n",
      "\x2a" "2001:db8:1:2:20c:29ff:fe3a:5b7c%eth0.100/128 x",
      "\x07? (10.0.0.1) at 0:c:29:3a:5b:7c on en0 ifscope [ethernet]\n",
      "\x03" "0011-2233-4455 1 Eth0/0/1 dynamic\n001122-334455\n",
      "\x40" "00:0c:29:aa:bb:cc 00-0C-29-AA-BB-CC 000c.29aa.bbcc\n",
      "\x13IP6 fe80::a00:27ff:fe12:3456.546 > ff02::1:2.547: dhcp6 solicit\n",
      "\x21uuid 123e4567-e89b-12d3-a456-426614174000 at 12:34:56 v1.2.3 ::ff:fe33:1.2.3.4\n",
      "\x09" "from fe80::20c:29ff:fe3a:5b7c: up fe80::1%lo0/64\n",
      "\x0b" "00:12:4b:00:1c:d4:e0:a1 eui.0025385b71b00d24 naa.5000c500a1b2c3d4 0x5000c500a1b2c3d4\n",
      "\x0c" "/dev/disk/by-id/wwn-0x5000c500a1b2c3d4-part1 naa.600508b1001c4d5e6f708192a3b4c5d6 1:2:3:4:5:6\n",
      "\x0d" "0002:c903:00a1:b2c3",
      "\x0e" "21:00:00:24:ff:4a:bc:de",
  };
  for (const char* l : lines) {
    Write(out / "address" / std::to_string(n++), l);
    Write(out / "engine" / std::to_string(n++), l);
  }
  const char* prefixes[] = {
      "# lab\n52:54:00 Lab QEMU pool\n00:0c:29:a0/28  Rack 4\r\n70b3d5f2ef/40 Probe\n",
      "0a/8 Tens\n0a0b/16 Sixteen\n0a0b0c0d0e0f/48 One\n000c.29aa.bb/40\tSwitch\n",
      "001122 A\n00-11-22 Again\n",
      "001123/20 Bits past\n",
  };
  for (const char* p : prefixes) Write(out / "prefixes" / std::to_string(n++), p);
  return 0;
}
