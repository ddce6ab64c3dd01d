// Conversion of a registry listing into a store.
#include <cstring>
#include <mutex>

#include "vessarine/store/bytes.h"
#include "vessarine/store/store.h"
#include "vessarine/listing/convert.h"
#include "tests/test_support.h"

namespace {

// One registry entry as the listing writes it.
std::string Entry(const std::string& oui, const std::string& name, const std::vector<std::string>& lines,
                  bool emptyLine = true) {
  std::string dashed = oui.substr(0, 2) + "-" + oui.substr(2, 2) + "-" + oui.substr(4, 2);
  std::string e = dashed + "   (hex)\t\t" + name + "\n" + oui + "     (base 16)\t\t" + name + "\n";
  for (const std::string& l : lines) e += "\t\t\t\t" + l + "\n";
  if (emptyLine) e += "\n";
  return e;
}

std::string Record(const StoreSnapshot& s, int i) {
  return std::string(s.macList + static_cast<size_t>(i) * kRecordSize, kRecordSize);
}

std::string Name(const StoreSnapshot& s, int i) {
  return std::string(s.macList + static_cast<size_t>(i) * kRecordSize + kNameOffset);
}

std::string Block(const StoreSnapshot& s, int i) {
  size_t from = static_cast<uint32_t>(HexToInt(s.macList + static_cast<size_t>(i) * kRecordSize + 6, 8));
  size_t to = i + 1 < s.count
                  ? static_cast<uint32_t>(HexToInt(s.macList + static_cast<size_t>(i + 1) * kRecordSize + 6, 8))
                  : s.addrLength;
  return std::string(s.addrList + from, to - from);
}

// The store a listing converts into (an empty one when it is refused).
StoreSnapshot Convert(std::string text) {
  StorePtr s = listing::ConvertListing(text);
  EXPECT_NE(s, nullptr);
  return s ? *s : StoreSnapshot{};
}

}  // namespace

class ConvertTest : public CoreTest {};

// The built-in copy is exactly the conversion of the listing the build made
// it from, whichever that was.
TEST_F(ConvertTest, BuiltInCopyIsItsListingConverted) {
  std::string listing = BuiltinListing();
  StoreSnapshot s = Convert(listing);  // a copy: the listing stays uncleaned
  ASSERT_GT(s.count, 0);

  StartUp();
  std::shared_lock lock(StoreLock());
  ASSERT_EQ(companyCount, s.count);
  EXPECT_EQ(std::memcmp(companyMacList, s.macList, static_cast<size_t>(s.count) * 114), 0);
  EXPECT_EQ(std::memcmp(companyAddrList, s.addrList, s.addrLength + 1), 0);
}

// The 2011 listing's figures, and the blocks of its private entries.
TEST_F(ConvertTest, ListingOf2011) {
  std::string listing = Listing2011();
  StoreSnapshot s = Convert(listing);
  ASSERT_EQ(s.count, listing2011::kRecords);
  EXPECT_EQ(s.addrLength, listing2011::kAddrLength);
  EXPECT_EQ(Block(s, 108), "006cPRIVATE>");
  EXPECT_EQ(Block(s, 457), "01c9>");
  // Byte for byte the store every earlier version made of this listing.
  EXPECT_EQ(Hash64(s.macList, static_cast<size_t>(s.count) * kRecordSize), 474023196898940999u);
  EXPECT_EQ(Hash64(s.addrList, s.addrLength), 11913560789246771234u);
}

// Bytes hashed in parts, as a file checked through a small buffer is, hash
// as they do whole, however the parts fall on the 32-byte stripes.
TEST(Hash64Parts, AnySplitHashesAsWhole) {
  std::string bytes(200, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 37 + 11);
  const struct {
    size_t size;
    std::vector<size_t> parts;
  } cases[] = {{0, {}}, {5, {1, 4}}, {64, {31, 1, 32}}, {200, {7, 50, 0, 100, 43}}, {200, {33, 33, 33, 101}}};
  for (const auto& c : cases) {
    Hash64Parts hash;
    size_t at = 0;
    for (size_t n : c.parts) {
      hash.Add(bytes.data() + at, n);
      at += n;
    }
    EXPECT_EQ(hash.Finish(), Hash64(bytes.data(), c.size)) << c.size;
  }
}

TEST_F(ConvertTest, CleaningAndRefusal) {
  std::string text = Entry("00A0C9", "A\"B\\C\x80\x81\xFF", {"x\xE9y"});
  StoreSnapshot s = Convert(text);
  ASSERT_EQ(s.count, 1);
  EXPECT_EQ(Name(s, 0), "A~B~C\x80**\n");
  EXPECT_EQ(Block(s, 0), "0000x*y>");

  // A '>' anywhere (an HTML page, say) refuses the listing.
  std::string html = "<html><body>" + Entry("000001", "X", {"Y"}) + "</body></html>";
  EXPECT_EQ(listing::ConvertListing(html), nullptr);
}

TEST_F(ConvertTest, OffsetsIndexesAndPrivateEntries) {
  std::string text = Entry("000000", "XEROX CORPORATION", {"M/S 105-50C", "800 PHILLIPS ROAD", "WEBSTER NY 14580", "UNITED STATES"}) +
                     "00-00-6C   (hex)\t\tPRIVATE\n00006C     (base 16)\t\t \n\t\t\t\t \n" +
                     Entry("00006D", "CRAY COMMUNICATIONS, LTD.", {"P.O. BOX 7", "UK"});
  StoreSnapshot s = Convert(text);
  ASSERT_EQ(s.count, 3);
  EXPECT_EQ(Record(s, 0).substr(0, 32), "00000000000000XEROX CORPORATION\n");
  EXPECT_EQ(Record(s, 1).substr(0, 22), "00006C00000041PRIVATE\n");
  EXPECT_EQ(Block(s, 1), "0001PRIVATE>");
  EXPECT_EQ(Name(s, 2), "CRAY COMMUNICATIONS, LTD.\n");
  EXPECT_EQ(Block(s, 2), "0002P.O. BOX 7>UK>");
}

TEST_F(ConvertTest, IndexKeepsItsLastFourDigits) {
  std::string text;
  for (int i = 0; i <= 65536; ++i) text += Entry("000000", "N", {"A"});
  StoreSnapshot s = Convert(text);
  ASSERT_EQ(s.count, 65537);
  EXPECT_EQ(Block(s, 65535), "ffffA>");
  EXPECT_EQ(Block(s, 65536), "0000A>");
}

TEST_F(ConvertTest, LongAddressLineIsCutAt200) {
  std::string line(250, 'L');
  StoreSnapshot s = Convert(Entry("000001", "N", {line}));
  // The next part is read as a further line, less four characters.
  EXPECT_EQ(Block(s, 0), "0000" + std::string(200, 'L') + std::string(46, 'L') + ">");
}

// An entry whose base-16 line is followed by the empty line has one empty
// address line and leaves the next entry alone.
TEST_F(ConvertTest, EntryWithoutAddressLines) {
  std::string text = Entry("000001", "Private", {}) + Entry("000002", "Next Ltd", {"Street 1", "TOWN"});
  StoreSnapshot s = Convert(text);
  ASSERT_EQ(s.count, 2);
  EXPECT_EQ(Name(s, 0), "Private\n");
  EXPECT_EQ(Block(s, 0), "0000>");
  EXPECT_EQ(Name(s, 1), "Next Ltd\n");
  EXPECT_EQ(Block(s, 1), "0001Street 1>TOWN>");
}

// A name too long for its field keeps 98 characters and its line feed; the
// rest of its line does not leak into the address.
TEST_F(ConvertTest, LongNameIsCut) {
  std::string name(120, 'n');
  StoreSnapshot s = Convert(Entry("000001", name, {"Road 1"}) + Entry("000002", std::string(98, 'm'), {"Road 2"}));
  ASSERT_EQ(s.count, 2);
  EXPECT_EQ(Name(s, 0), std::string(98, 'n') + "\n");
  EXPECT_EQ(Block(s, 0), "0000Road 1>");
  EXPECT_EQ(Name(s, 1), std::string(98, 'm') + "\n");
}

// Line ends of either kind give the same store; what the listing reader
// refuses (nothing at all, a file cut short) gives none.
TEST_F(ConvertTest, LineEndsAndRefusals) {
  const std::string lf = Entry("000001", "A", {"B", "C"}) + Entry("000002", "D", {});
  std::string crlf;
  for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  StoreSnapshot a = Convert(lf), b = Convert(crlf);
  ASSERT_EQ(a.count, 2);
  ASSERT_EQ(b.count, 2);
  EXPECT_EQ(std::string(a.macList, 228), std::string(b.macList, 228));
  EXPECT_EQ(std::string(a.addrList), std::string(b.addrList));
  for (const char* refused : {"", "\n\n", "000001     (base 16)\t\tNam"}) {
    EXPECT_EQ(listing::ConvertListing(refused), nullptr) << refused;
  }
}

// Today's registry as Debian ships it: CRLF, unsorted, bare private entries.
TEST_F(ConvertTest, DebianListingKeepsEveryEntry) {
  SKIP_UNLESS_IEEE_DATA();
  std::string text = ReadFile(kIeeeData + "/oui.txt");
  size_t entries = CountOf(text, "(base 16)");
  StoreSnapshot s = Convert(text);
  EXPECT_EQ(static_cast<size_t>(s.count), entries);
  for (int i = 0; i < s.count; ++i) {
    const char* r = s.macList + static_cast<size_t>(i) * kRecordSize;
    ASSERT_NE(std::memchr(r + kNameOffset, '\0', kNameFieldSize), nullptr) << i;
  }
}
