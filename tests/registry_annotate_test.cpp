// Finding addresses in free text, the annotate and lookup commands end to
// end, and the escaping of their JSON and CSV output.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <random>
#include <vector>

#include "vessarine/listing/table.h"
#include "vessarine/text/escape.h"
#include "vessarine/update/table_refresh.h"
#include "vessarine/identifier/scanner.h"
#include "vessarine/text/utf8.h"
#include "tests/registry_support.h"
#include "tests/test_support.h"

namespace {

using identifier::Derivation;

// value: the MAC address, or the EUI-64 or WWN (its first 64 bits) read.
struct Hit {
  size_t offset, length;
  uint64_t value;
  Derivation derived = Derivation::None;
  bool operator==(const Hit&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Hit& h) {
  return os << "{" << h.offset << "," << h.length << "," << std::hex << h.value << std::dec << ","
            << (h.derived == Derivation::None ? "mac" : identifier::DerivationName(h.derived)) << "}";
}

Hit HitOf(size_t offset, size_t length, const identifier::ParsedAddress& a) {
  const bool wide = a.kind == identifier::IdentifierKind::Eui64 || a.kind == identifier::IdentifierKind::Wwn;
  return {offset, length, wide ? a.id : a.value, a.derivedFrom};
}

std::vector<Hit> Scan(const std::string& text) {
  std::vector<Hit> hits;
  identifier::ScanAddresses(text.data(), 0, text.size(), text.size(), -1,
                          [&](size_t o, size_t l, const identifier::ParsedAddress& a) { hits.push_back(HitOf(o, l, a)); });
  return hits;
}

// The same text fed in pieces of `piece` bytes, as annotate's buffers would
// take it (every byte kept in the buffer, each call from where the last
// stopped).
std::vector<Hit> ScanInPieces(const std::string& text, size_t piece) {
  std::vector<Hit> hits;
  size_t from = 0;
  while (from < text.size()) {
    const size_t to = std::min(text.size(), from + piece);
    from = identifier::ScanAddresses(text.data(), from, to, text.size(), -1,
                                   [&](size_t o, size_t l, const identifier::ParsedAddress& a) { hits.push_back(HitOf(o, l, a)); });
  }
  return hits;
}

std::vector<Hit> Scan(const char* text) { return Scan(std::string(text)); }

bool IsHex(int c) { return c >= 0 && std::isxdigit(c); }
bool IsWord(int c) { return c >= 0 && (std::isalnum(c) || c == '_'); }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }

// The rules of scanner.h read literally, one position at a time, with
// inet_pton for the IPv6 groups.
std::vector<Hit> Reference(const std::string& t) {
  std::vector<Hit> hits;
  auto at = [&](size_t i) { return i < t.size() ? static_cast<unsigned char>(t[i]) : -1; };
  // Hex digits then `sep`, group after group, at p: the end, or npos.
  auto groups = [&](size_t p, std::initializer_list<int> lengths, int sep, bool shortOk) -> size_t {
    size_t i = p;
    size_t n = 0;
    for (int len : lengths) {
      if (n++ != 0) {
        if (at(i) != sep) return std::string::npos;
        ++i;
      }
      int digits = 0;
      while (IsHex(at(i)) && digits < len) ++i, ++digits;
      if (digits == 0 || (digits < len && !shortOk)) return std::string::npos;
    }
    return i;
  };
  auto value = [&](size_t p, size_t end, int sep, bool bytes) {
    uint64_t v = 0;
    std::string group;
    auto flush = [&] {
      v = bytes ? v << 8 | std::stoull(group, nullptr, 16) : v << (4 * group.size()) | std::stoull(group, nullptr, 16);
      group.clear();
    };
    for (size_t i = p; i < end; ++i) {
      if (at(i) == sep) {
        flush();
      } else {
        group.push_back(t[i]);
      }
    }
    flush();
    return v;
  };
  auto ipv6 = [&](size_t p, size_t* length, uint64_t* mac) {
    auto run = [&](int c) { return c == ':' || IsHex(c); };
    const int before = p == 0 ? -1 : at(p - 1);
    if (!run(at(p)) || run(before) || IsWord(before) || before == '.') return false;
    size_t e = p;
    while (run(at(e))) ++e;
    size_t end = e;
    const bool colonEnd = e - p >= 2 && t[e - 1] == ':' && t[e - 2] != ':';
    if (colonEnd) --end;
    const std::string groupsText = t.substr(p, end - p);
    uint8_t bytes[16];
    if (groupsText.size() > 39 || inet_pton(AF_INET6, groupsText.c_str(), bytes) != 1) return false;
    if (bytes[11] != 0xFF || bytes[12] != 0xFE) return false;
    size_t token = end;
    if (colonEnd) {
      if (IsWord(at(e))) return false;
    } else {
      if (at(token) == '%') {
        size_t z = token + 1;
        while (IsWord(at(z)) || at(z) == '-' || at(z) == '.') ++z;
        if (z > token + 1 && at(z - 1) == '.') --z;
        if (z == token + 1 || z - token - 1 > 15) return false;
        token = z;
      }
      if (at(token) == '/') {
        size_t d = token + 1;
        while (IsDigit(at(d))) ++d;
        if (d == token + 1 || d - token - 1 > 3 || std::stoi(t.substr(token + 1, d - token - 1)) > 128) return false;
        token = d;
      }
      const int after = at(token);
      if (IsWord(after) || after == ':' || after == '%' || after == '/') return false;
      if (after == '.') {
        const int next = at(token + 1);
        if (IsWord(next) && !IsDigit(next)) return false;
        const size_t lastColon = groupsText.rfind(':');
        const std::string last = groupsText.substr(lastColon + 1);
        if (token == end && IsDigit(next) && last.size() <= 3 &&
            last.find_first_not_of("0123456789") == std::string::npos)
          return false;
      }
    }
    *length = token - p;
    *mac = uint64_t{bytes[8] ^ 2u} << 40 | uint64_t{bytes[9]} << 32 | uint64_t{bytes[10]} << 24 |
           uint64_t{bytes[13]} << 16 | uint64_t{bytes[14]} << 8 | bytes[15];
    return true;
  };
  for (size_t p = 0; p < t.size();) {
    const int before = p == 0 ? -1 : at(p - 1);
    Hit hit{p, 0, 0};
    struct Form {
      std::initializer_list<int> lengths;
      int sep;
      bool shortOk;
    };
    const Form forms[] = {{{2, 2, 2, 2, 2, 2}, ':', true}, {{2, 2, 2, 2, 2, 2}, '-', false},
                          {{4, 4, 4}, '-', false},          {{6, 6}, '-', false},
                          {{4, 4, 4}, '.', false},          {{2, 2, 2, 2, 2, 2, 2, 2}, ':', false},
                          {{2, 2, 2, 2, 2, 2, 2, 2}, '-', false}};
    if (IsHex(at(p)) && !IsHex(before)) {
      for (const Form& f : forms) {
        if (before == f.sep) continue;
        const size_t end = groups(p, f.lengths, f.sep, f.shortOk);
        if (end == std::string::npos || IsHex(at(end)) || at(end) == f.sep) continue;
        // Six one-digit groups are no address; one-digit groups stand apart from words.
        if (f.shortOk && (end - p == 11 || (end - p < 17 && (IsWord(before) || IsWord(at(end)))))) continue;
        hit.length = end - p;
        hit.value = value(p, end, f.sep, f.shortOk);
        break;
      }
    }
    // A marker, then 16 digits (32 for a 128-bit WWN); WWNs of NAA 1, 2, 5, 6 only.
    std::string marker = t.substr(p, 6);
    for (char& c : marker) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const size_t markerSize = marker.rfind("naa.", 0) == 0 || marker.rfind("eui.", 0) == 0 ? 4
                              : marker == "wwn-0x"                                         ? 6
                                                                                           : 0;
    if (hit.length == 0 && markerSize != 0 && !IsWord(before)) {
      size_t end = p + markerSize;
      while (IsHex(at(end))) ++end;
      const size_t digits = end - p - markerSize;
      const bool eui = marker[0] == 'e';
      const int naa = digits == 0 ? 0 : std::stoi(t.substr(p + markerSize, 1), nullptr, 16);
      const bool ok = eui ? digits == 16 : (digits == 16 && (naa == 1 || naa == 2 || naa == 5)) || (digits == 32 && naa == 6);
      if (ok && !IsWord(at(end))) {
        hit.length = end - p;
        hit.value = std::stoull(t.substr(p + markerSize, 16), nullptr, 16);
        hit.derived = eui ? Derivation::None
                      : naa == 1 ? Derivation::WwnNaa1
                      : naa == 2 ? Derivation::WwnNaa2
                      : naa == 5 ? Derivation::WwnNaa5
                                 : Derivation::WwnNaa6;
      }
    }
    if (hit.length == 0 && ipv6(p, &hit.length, &hit.value)) hit.derived = Derivation::Ipv6Eui64;
    if (hit.length == 0) {
      ++p;
      continue;
    }
    hits.push_back(hit);
    p += hit.length;
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

TEST(RegistryScan, FindsTheNotationsPeoplePaste) {
  // macOS arp -a, Huawei, HP.
  EXPECT_EQ(Scan("? (192.168.1.1) at 0:c:29:3a:5b:7c on en0"), (std::vector<Hit>{{19, 15, 0x000C293A5B7C}}));
  EXPECT_EQ(Scan("00:0:0:0:0:1"), (std::vector<Hit>{{0, 12, 1}}));
  EXPECT_EQ(Scan("0011-2233-4455 1 Eth0/0/1"), (std::vector<Hit>{{0, 14, 0x001122334455}}));
  EXPECT_EQ(Scan("mac 001122-334455"), (std::vector<Hit>{{4, 13, 0x001122334455}}));
  EXPECT_EQ(Scan("AA:b:C:dd:e:F"), (std::vector<Hit>{{0, 13, 0xAA0B0CDD0E0F}}));
}

TEST(RegistryScan, NearMissesAreNoFinds) {
  for (const char* trap : {
           // times and timestamps
           "12:34:56", "Dec  7 22:08:15", "1:02:03:04:05", "2024-01-02T12:34:56.789Z", "00:00:00.000",
           // a seventh group, a leading or trailing separator
           "0:c:29:3a:5b:7c:1", ":0:c:29:3a:5b:7c", "0:c:29:3a:5b:7c:", "0:c:29:3a:5b:7c0", "0:c:29:3a:5b:123",
           "0:c::3a:5b:7c", "eth0:1:2:3:4:5", "0:c:29:3a:5b:7cz", "x0:c:29:3a:5b:7c",
           // IPv6 addresses that carry no MAC address
           "2001:db8::1", "fe80::1:2:3:4", "1:2:3:4:5:6:7:8", "::1:2:3:4:5:6", "1:2:3:4:5:6::",
           "2001:db8:ff:fe00::1", "fe80::ff:fe33:1.2.3.4", "::ffff:192.168.1.1",
           // UUIDs, hashes, version strings
           "123e4567-e89b-12d3-a456-426614174000", "{123e4567-e89b-12d3-a456-426614174000}",
           "0011-2233-4455-6677", "-0011-2233-4455", "0011-2233-4455-", "deadbeefcafe-123456", "abcdef-0123456",
           "01234-56789-abcde", "sha256:deadbeefcafe0011223344556677", "v1.2.3.4", "1234.5678.9abc.",
           "001122-334455-", "00112-2334455",
           // ratios and version lists of one-digit groups
           "1:2:3:4:5:6", "0:0:0:0:0:1",
           // 0x numbers are pointers and hashes; markers stuck to words or digits
           "0x00124b001cd4e0a1", "at 0x5000c500a1b2c3d4", "xnaa.5000c500a1b2c3d4", "naa.5000c500a1b2c3d4x",
           "eui.0025385b71b00d2", "eui.0025385b71b00d2400", "naa.5000c500a1b2c3d40",
           // WWNs with no registry number: locally assigned, NAA 4, a 64-bit NAA 6
           "naa.3000c500a1b2c3d4", "naa.4000c500a1b2c3d4", "naa.6000c500a1b2c3d4",
           // a ninth group
           "00:12:4b:00:1c:d4:e0:a1:02",
       }) {
    EXPECT_TRUE(Scan(trap).empty()) << trap << " gave " << ::testing::PrintToString(Scan(trap));
  }
}

TEST(RegistryScan, FindsIpv6AddressesThatCarryAMac) {
  const uint64_t vm = 0x000C293A5B7C;
  const Derivation v6 = Derivation::Ipv6Eui64;
  EXPECT_EQ(Scan("inet6 fe80::20c:29ff:fe3a:5b7c/64 scope link"), (std::vector<Hit>{{6, 27, vm, v6}}));
  EXPECT_EQ(Scan("fe80:0000:0000:0000:020C:29FF:FE3A:5B7C"), (std::vector<Hit>{{0, 39, vm, v6}}));
  EXPECT_EQ(Scan("ping fe80::20c:29ff:fe3a:5b7c%eth0."), (std::vector<Hit>{{5, 29, vm, v6}}));
  EXPECT_EQ(Scan("[2001:db8:1:2:20c:29ff:fe3a:5b7c%br-1a2b.100/128]"), (std::vector<Hit>{{1, 47, vm, v6}}));
  // tcpdump's address.port, and a colon ending a clause.
  EXPECT_EQ(Scan("IP6 fe80::20c:29ff:fe3a:5b7c.546 > ff02::1:2.547"), (std::vector<Hit>{{4, 24, vm, v6}}));
  EXPECT_EQ(Scan("from fe80::20c:29ff:fe3a:5b7c: up"), (std::vector<Hit>{{5, 24, vm, v6}}));
  // The universal/local bit comes back: 02:... in the identifier is 00:...
  EXPECT_EQ(Scan("::ff:fe00:1"), (std::vector<Hit>{{0, 11, 0x020000000001, v6}}));
  for (const char* trap : {"xfe80::20c:29ff:fe3a:5b7c", "fe80::20c:29ff:fe3a:5b7cg", "fe80::20c:29ff:fe3a:5b7c::",
                           "fe80::20c:29ff:fe3a:5b7c:1", "fe80::20c:29ff:fe3a:5b7c/129", "fe80::20c:29ff:fe3a:5b7c/6a",
                           "fe80::20c:29ff:fe3a:5b7c%", "fe80::20c:29ff:fe3a:5b7c%eth0:1", "fe80::20c:29ff:fe3a:5b7c.com",
                           "fe80::20c:29ff:fe3a:5b7c%0123456789abcdef", "fe80::20c:29ff:fe3a:123.4",
                           "1.fe80::20c:29ff:fe3a:5b7c", "fe80:::20c:29ff:fe3a:5b7c", "fe80::20c:29ff::fe3a:5b7c",
                           "fe80::20c:29ff:fe3a:5b7c/", "fe80::20c:29ff:fe3a:5b7c:x"}) {
    EXPECT_TRUE(Scan(trap).empty()) << trap << " gave " << ::testing::PrintToString(Scan(trap));
  }
}

TEST(RegistryScan, FindsMarkedIdentifiersAndEightGroupEuis) {
  const Derivation none = Derivation::None;
  const struct {
    const char* text;
    Hit hit;
  } rows[] = {
      {"zigbee 00:12:4b:00:1c:d4:e0:a1 joined", {7, 23, 0x00124B001CD4E0A1, none}},
      {"(00-12-4B-00-1C-D4-E0-A1)", {1, 23, 0x00124B001CD4E0A1, none}},
      {"nvme0n1 eui.0025385b71b00d24", {8, 20, 0x0025385B71B00D24, none}},
      {"sda naa.5000c500a1b2c3d4", {4, 20, 0x5000C500A1B2C3D4, Derivation::WwnNaa5}},
      {"/dev/disk/by-id/wwn-0x5000c500a1b2c3d4-part1", {16, 22, 0x5000C500A1B2C3D4, Derivation::WwnNaa5}},
      {"NAA.600508B1001C4D5E6F708192A3B4C5D6", {0, 36, 0x600508B1001C4D5E, Derivation::WwnNaa6}},
      {"port naa.2100002" "4ff4abcde,", {5, 20, 0x21000024FF4ABCDE, Derivation::WwnNaa2}},
  };
  for (const auto& row : rows) EXPECT_EQ(Scan(row.text), std::vector<Hit>{row.hit}) << row.text;
}

// The block-at-a-time scanner against the rules read literally, on text
// dense in hex digits and separators, across block boundaries, whole and in
// pieces.
TEST(RegistryScan, AgreesWithTheRulesOnRandomText) {
  std::mt19937 random(1);
  const std::string alphabet = "0123456789abcdefABCDEF:-.:-.:%/ xg\nfFeE::naeuwx.";
  static const char* kPlants[] = {"00:0c:29:aa:bb:cc", "70-B3-D5-F2-F1-23", "000c.29aa.bbcc", "0:c:29:a:b:c",
                                  "0011-2233-4455",    "001122-334455",     "fe80::20c:29ff:fe3a:5b7c",
                                  "fe80::20c:29ff:fe3a:5b7c%eth0/64", "::ff:fe00:1", "2001:db8:1:2:a00:27ff:fe12:3456/64",
                                  "00:12:4b:00:1c:d4:e0:a1", "1:2:3:4:5:6", "naa.5000c500a1b2c3d4", "eui.0025385b71b00d24",
                                  "wwn-0x2100002" "4ff4abcde", "naa.3000c500a1b2c3d4",
                                  "naa.600508b1001c4d5e6f708192a3b4c5d6"};
  for (int round = 0; round < 400; ++round) {
    std::string text(random() % 600, ' ');
    for (char& c : text) c = alphabet[random() % alphabet.size()];
    for (int k = 0; k < 5 && text.size() > 40; ++k) {
      const std::string plant = kPlants[random() % std::size(kPlants)];
      text.replace(random() % (text.size() - plant.size()), plant.size(), plant);
    }
    const std::vector<Hit> expected = Reference(text);
    ASSERT_EQ(Scan(text), expected) << text;
    ASSERT_EQ(ScanInPieces(text, 1 + random() % 100), expected) << text;
  }
}

TEST(RegistryEscape, JsonAndCsvStayWellFormed) {
  std::string json;
  text::AppendJsonString(&json, std::string("a\"b\\c\n\t\x01\x7f") + "\xC3\xA9\xFF" + std::string(1, '\0'));
  EXPECT_EQ(json, "\"a\\\"b\\\\c\\n\\t\\u0001\\u007f\xC3\xA9\xEF\xBF\xBD\\u0000\"");
  std::string csv;
  for (const char* field : {"plain", "a,b", "say \"hi\"", "two\nlines", " padded"}) {
    text::AppendCsvField(&csv, field);
    csv += '|';
  }
  EXPECT_EQ(csv, "plain|\"a,b\"|\"say \"\"hi\"\"\"|\"two\nlines\"|\" padded\"|");
  // Invalid UTF-8 becomes U+FFFD as in JSON, before the quoting is decided.
  csv.clear();
  text::AppendCsvField(&csv, "\xFF\xC3\xA9,\xE2\x82");
  EXPECT_EQ(csv, "\"\xEF\xBF\xBD\xC3\xA9,\xEF\xBF\xBD\xEF\xBF\xBD\"");
  // Text for the terminal: C0, DEL, C1 (U+009B, CSI) and invalid UTF-8 go;
  // other UTF-8 stays.
  EXPECT_EQ(text::DisplayText(std::string("a\x1B[2J\tb\x7F\xC2\x9B\x9B\xC2\xA0\xE2\x80\xA6z\0", 18)),
            "a\xEF\xBF\xBD[2J\xEF\xBF\xBD" "b\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xC2\xA0\xE2\x80\xA6z\xEF\xBF\xBD");
}

class RegistryCommands : public CacheHomeTest {};

TEST_F(RegistryCommands, AnnotateKeepsEveryByteAndLabelsAddresses) {
  using namespace std::string_literals;
  const std::string input = "a 00:0c:29:aa:bb:cc\r\n\0 bin \xFF\xFE 02:00:00:00:00:01\n"s +
                            "ff-ff-ff-ff-ff-ff 33:33:00:00:00:fb 14:34:56:78:9a:bc end";
  CliRun run = RunCli(xdgDir, "annotate", input);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "a 00:0c:29:aa:bb:cc [VMware, Inc.; VMware virtual NIC (generated by ESXi/Workstation)]\r\n"
                     "\0 bin \xFF\xFE 02:00:00:00:00:01 [locally administered]\n"s +
                         "ff-ff-ff-ff-ff-ff [broadcast] 33:33:00:00:00:fb [multicast; IPv6 multicast] "
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
    expected.insert(at, " [VMware, Inc.; VMware virtual NIC (generated by ESXi/Workstation)]");
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
            "input,mac,registry,assignment,bits,organization,address,group,local,broadcast,note,error,derived_from,also,"
            "source,kind,identifier\r\n");
  EXPECT_NE(run.out.find("\r\n02:00:00:00:00:01,02:00:00:00:00:01,,,,,,false,true,false,\"IEEE 802c AAI (administratively assigned, e.g. random)\",,,,,mac,\r\n"), std::string::npos);

  run = RunCli(xdgDir, "lookup 02:00:00:00:00:01");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("locally administered"), std::string::npos);
}

// The makers behind identifiers other than MAC addresses, from the built-in
// 2011 listing, and the kind of each answer.
TEST_F(RegistryCommands, EuisAndWorldWideNamesEndToEnd) {
  const struct {
    const char* args;
    const char* expected;
  } rows[] = {
      {"lookup --json 0x00124b001cd4e0a1",
       "\"mac\":null,\"registry\":\"MA-L\",\"assignment\":\"00124B\",\"bits\":24,\"organization\":\"Texas Instruments\""},
      {"lookup --json 0002:c903:00a1:b2c3", "\"organization\":\"Mellanox Technologies\""},
      {"lookup --json eui.0025385b71b00d24", "\"kind\":\"eui64\",\"identifier\":\"00:25:38:5B:71:B0:0D:24\""},
      {"lookup --json naa.5000c500a1b2c3d4",
       "\"mac\":\"00:0C:50\",\"registry\":\"MA-L\",\"assignment\":\"000C50\",\"bits\":24,\"organization\":\"Seagate "
       "Technology\""},
      {"lookup --json /dev/disk/by-id/wwn-0x5000c500a1b2c3d4",
       "\"derived_from\":\"wwn-naa5\",\"kind\":\"wwn\",\"identifier\":\"naa.5000c500a1b2c3d4\""},
      {"lookup --json naa.600508b1001c4d5e6f708192a3b4c5d6", "\"organization\":\"Hewlett Packard\""},
      {"lookup --wwn --csv 21:00:00:24:ff:4a:bc:de",
       "21:00:00:24:ff:4a:bc:de,00:24:FF:4A:BC:DE,MA-L,0024FF,24,QLogic Corporation,"},
      {"lookup 00:12:4b:00:1c:d4:e0:a1", "  EUI-64:       00:12:4B:00:1C:D4:E0:A1\n  Registry:     MA-L 00124B"},
      {"lookup naa.3000c500a1b2c3d4", "NAA type 3"},
  };
  for (const auto& row : rows) {
    const CliRun run = RunCli(xdgDir, row.args);
    EXPECT_NE((run.out + run.err).find(row.expected), std::string::npos) << row.args << "\n" << run.out << run.err;
  }
  const CliRun run = RunCli(xdgDir, "annotate", "sda naa.5000c500a1b2c3d4, at 0x5000c500a1b2c3d4 ratio 1:2:3:4:5:6\n");
  EXPECT_EQ(run.out, "sda naa.5000c500a1b2c3d4 [Seagate Technology], at 0x5000c500a1b2c3d4 ratio 1:2:3:4:5:6\n");
}

TEST_F(RegistryCommands, Ipv6AddressesAndNotesEndToEnd) {
  CliRun run = RunCli(xdgDir, "lookup fe80::20c:29ff:fe3a:5b7c");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("  MAC:          00:0C:29:3A:5B:7C\n  Derived:      from the IPv6 address's interface "
                         "identifier"),
            std::string::npos)
      << run.out;

  run = RunCli(xdgDir, "lookup --json fe80::20c:29ff:fe3a:5b7c%eth0/64 0:c:29:3a:5b:7c");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("{\"input\":\"fe80::20c:29ff:fe3a:5b7c%eth0/64\",\"mac\":\"00:0C:29:3A:5B:7C\",\"registry\":"
                         "\"MA-L\""),
            std::string::npos);
  EXPECT_NE(run.out.find(",\"derived_from\":\"ipv6-eui64\",\"kind\":\"ipv6\",\"identifier\":null}\n{\"input\":\"0:c:29:3a:5b:7c\""),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find(",\"derived_from\":null,\"kind\":\"mac\",\"identifier\":null}\n"), std::string::npos);

  run = RunCli(xdgDir, "lookup --csv 2001:db8::20c:29ff:fe3a:5b7c fe80::1");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find(",,ipv6-eui64,,,ipv6,\r\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\r\nfe80::1,,,,,,,,,,,not a MAC address: an IPv6 address whose interface identifier holds "
                         "no MAC address"),
            std::string::npos)
      << run.out;

  // An IPv6 address without a MAC inside is a clear error, and exit 1.
  run = RunCli(xdgDir, "lookup fe80::1");
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.out.empty());
  EXPECT_NE(run.err.find("\"fe80::1\": not a MAC address: an IPv6 address whose interface identifier holds no MAC"),
            std::string::npos)
      << run.err;
  for (const char* bad : {"fe80::1%", "fe80::1/200", "fe80::zz", "::ffff:10.0.0.1", "%", "/", ":::::::::"}) {
    run = RunCli(xdgDir, std::string("lookup '") + bad + "'");
    EXPECT_EQ(run.status, 1) << bad;
    EXPECT_NE(run.err.find("not a"), std::string::npos) << bad << ": " << run.err;
  }

  run = RunCli(xdgDir, "annotate",
               "inet6 fe80::20c:29ff:fe3a:5b7c/64 scope link\n"
               "inet6 fe80::1/64 scope link\n"
               "? (10.0.0.1) at 0:c:29:3a:5b:7c on en0\n"
               "0011-2233-4455 001122-334455 52:54:00:12:34:56\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "inet6 fe80::20c:29ff:fe3a:5b7c/64 [VMware, Inc.; VMware virtual NIC (generated by ESXi/Workstation)] "
            "scope link\n"
            "inet6 fe80::1/64 scope link\n"
            "? (10.0.0.1) at 0:c:29:3a:5b:7c [VMware, Inc.; VMware virtual NIC (generated by ESXi/Workstation)] on en0\n"
            "0011-2233-4455 [CIMSYS Inc] 001122-334455 [CIMSYS Inc] "
            "52:54:00:12:34:56 [locally administered; QEMU/KVM virtual NIC]\n");
  // The holder of 00-00-5E depends on the listing (ICANN today); the note
  // follows it.
  run = RunCli(xdgDir, "annotate", "vrrp 00:00:5e:00:01:05.\n");
  EXPECT_EQ(run.out.rfind("vrrp 00:00:5e:00:01:05 [", 0), 0u) << run.out;
  EXPECT_NE(run.out.find("; VRRP virtual router (IPv4) or CARP virtual host].\n"), std::string::npos) << run.out;

  run = RunCli(xdgDir, "annotate --json", "x fe80::20c:29ff:fe3a:5b7c%eth0 y\n");
  EXPECT_NE(run.out.find("\"derived_from\":\"ipv6-eui64\",\"kind\":\"ipv6\",\"identifier\":null,\"line\":1,\"column\":3,\"text\":\"fe80::20c:29ff:fe3a:5b7c%eth0\"}"),
            std::string::npos)
      << run.out;
}

// lookup - reads lines of any length, with or without a last line end, in
// bounded memory: a line too long to be an address is quoted by its start,
// and one of more than 1 MiB (/dev/zero) ends the reading.
TEST_F(RegistryCommands, LookupReadsLongAndUnendedLines) {
  const std::string x(200000, 'x');
  std::string input = "00:0c:29:aa:bb:cc\r\n" + x + "\n\n   \n" + std::string(9000, ' ') + "\n0:c:29:aa:bb:cc";
  CliRun run = RunCli(xdgDir, "lookup --csv -", input);
  EXPECT_EQ(run.status, 1);  // the long line is no address
  EXPECT_EQ(CountOf(run.out, "\r\n"), 4u) << run.out.substr(0, 300);
  EXPECT_NE(run.out.find("\r\n0:c:29:aa:bb:cc,00:0C:29:AA:BB:CC,"), std::string::npos);
  EXPECT_NE(run.out.find("\r\n" + x.substr(0, 64) + "\xE2\x80\xA6 (200000 bytes),,,,,,,,,,,not a MAC address: the "
                         "line is longer than 4 KiB,,,,,\r\n"),
            std::string::npos);
  // The start is cut before a character it would split.
  auto accents = [](size_t n) {
    std::string text;
    while (n-- > 0) text += "\xC3\xA9";
    return text;
  };
  run = RunCli(xdgDir, "lookup -", "a" + accents(3000) + "\n");
  EXPECT_NE(run.err.find("\"a" + accents(31) + "\xE2\x80\xA6 (6001 bytes)\""), std::string::npos) << run.err;

  run = RunCli(xdgDir, "lookup -", "00:0c:29:aa:bb:cc\n" + x + x + x + x + x + x + "\n00:0c:29:aa:bb:cc\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(CountOf(run.out, "00:0C:29:AA:BB:CC"), 1u);
  EXPECT_EQ(run.err, "vessarine-cli lookup: line 2 is longer than 1 MiB; not a list of addresses\n");
  run = RunCliFrom(xdgDir, {"lookup", "--json", "-"}, "/dev/zero");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "vessarine-cli lookup: line 1 is longer than 1 MiB; not a list of addresses\n");
}

// A read error is an error for both commands, never an empty success.
TEST_F(RegistryCommands, ReadErrorsAreReported) {
  for (const std::vector<const char*>& command :
       {std::vector<const char*>{"lookup", "-"}, {"lookup", "--json", "-"}, {"annotate"}}) {
    CliRun run = RunCliFrom(xdgDir, command, "/tmp");
    EXPECT_EQ(run.status, 1) << command[0];
    EXPECT_NE(run.err.find("cannot read the standard input: Is a directory\n"), std::string::npos) << run.err;
  }
}

// A table's texts and the user's own input reach the terminal without any
// control character; CSV and JSON stay valid UTF-8.
TEST_F(RegistryCommands, TextOutputCarriesNoControlCharacters) {
  std::filesystem::create_directories(xdgDir + "/vessarine");
  std::string error;
  ASSERT_TRUE(update::SaveTableImage(
      listing::Registry::Cid,
      listing::EncodeImage(listing::Registry::Cid,
                            {{0x0AE6A6, "Evil\x1B]0;owned\x07 Co\xC2\x9B\xFF", "St\x1B[2J 1\r\nUS\x7F"}}),
      &error))
      << error;
  auto clean = [](const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(text[i]);
      if ((c < 0x20 && c != '\n') || c == 0x7F || c == 0x9B || c == 0xFF) return false;
    }
    return true;
  };
  CliRun run = RunCli(xdgDir, "lookup 0a:e6:a6:00:00:01 \"$(printf '\\033[31m00\\r')\"");
  EXPECT_NE(run.out.find("Organization: Evil\xEF\xBF\xBD]0;owned\xEF\xBF\xBD Co"), std::string::npos) << run.out;
  EXPECT_TRUE(clean(run.out)) << run.out;
  EXPECT_TRUE(clean(run.err)) << run.err;
  run = RunCli(xdgDir, "annotate", "0a:e6:a6:00:00:01\n");
  EXPECT_EQ(run.out, "0a:e6:a6:00:00:01 [Evil\xEF\xBF\xBD]0;owned\xEF\xBF\xBD Co\xEF\xBF\xBD\xEF\xBF\xBD]\n");
  run = RunCli(xdgDir, "lookup --csv 0a:e6:a6:00:00:01");
  EXPECT_TRUE(text::IsValidUtf8(run.out)) << run.out;
}

// From a pipe each answer comes before the next line is written.
TEST_F(RegistryCommands, LookupAnswersEachLineFromAPipe) {
  int in[2], out[2];
  ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
  const pid_t child = SpawnCli(xdgDir, {"lookup", "--json", "-"}, in[0], out[1], 2);
  ASSERT_GT(child, 0);
  close(in[0]);
  close(out[1]);
  // One answer line; a poll bound only turns a hang into a failure.
  auto answer = [&] {
    std::string line;
    char c;
    pollfd p{out[0], POLLIN, 0};
    while (poll(&p, 1, 60000) == 1 && read(out[0], &c, 1) == 1 && c != '\n') line += c;
    return line;
  };
  for (const char* address : {"00:0c:29:aa:bb:cc\n", "not-a-mac\n"}) {
    ASSERT_EQ(write(in[1], address, std::strlen(address)), static_cast<ssize_t>(std::strlen(address)));
    EXPECT_EQ(answer().rfind(std::string("{\"input\":\"") + std::string(address, std::strlen(address) - 1), 0), 0u);
  }
  close(in[1]);
  int status = 0;
  waitpid(child, &status, 0);
  // The output pipe was widened, as far as this system lets a process.
  long most = 0;
  if (std::FILE* f = std::fopen("/proc/sys/fs/pipe-max-size", "r")) {
    if (std::fscanf(f, "%ld", &most) != 1) most = 0;
    std::fclose(f);
  }
  EXPECT_GE(fcntl(out[0], F_GETPIPE_SZ), std::min(most, 1L << 20));
  close(out[0]);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);  // the second line was no address
}
