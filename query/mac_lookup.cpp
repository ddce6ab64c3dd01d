#include <cstring>
#include <mutex>
#include <shared_mutex>

#include "vessarine/db/loader.h"
#include "vessarine/listing/convert.h"
#include "vessarine/identifier/identifier.h"
#include "vessarine/listing/registries.h"
#include "vessarine/registry/tables.h"
#include "vessarine/store/bytes.h"
#include "vessarine/store/store.h"
#include "vessarine/store/texts.h"
#include "vessarine/query/format.h"
#include "vessarine/query/queries.h"

namespace {

// The validation message for `input`, or nullptr when it is a valid address
// of 3 or 6 bytes.
const char* CheckMacInput(std::string_view input) {
  const size_t length = input.size();
  if (length == 0) return kMsgEnterMac;
  if (length != 17 && length != 8) return kMsgBadMac;
  for (size_t p = 0; p < length; ++p) {
    char c = input[p];
    bool ok = (p + 1) % 3 == 0 ? (c == ':' || c == '-') : HexDigitValue(c) >= 0;
    if (!ok) return kMsgBadMac;
  }
  for (size_t p = 5; p <= 14 && p < length; p += 3) {
    if (input[p] != input[2]) return kMsgMixedSeparators;
  }
  return nullptr;
}

// For all six bytes inside a 28- or 36-bit block (MA-M, MA-S, IAB): its
// holder's company text, which names the block's holder rather than the
// parent assignment's "IEEE Registration Authority". Empty otherwise.
std::string BlockHolderText(std::string_view in) {
  if (in.size() != 17) return {};
  const auto address = identifier::ParseAddress(in, nullptr);
  if (!address) return {};
  const auto tables = registry::SharedTables();
  const std::optional<registry::Match> block = tables->LookupBlock(address->value);
  return block ? listing::StoreCompanyText(block->organization, block->address) : std::string();
}

}  // namespace

QueryAnswer LookupMac(std::string_view in) {
  if (const char* message = CheckMacInput(in)) return {FormatMessage(message), QueryOutcome::Message};
  // Only the first three bytes take part; the rest was only validated.
  const char key[6] = {AsciiUpper(in[0]), AsciiUpper(in[1]), AsciiUpper(in[3]),
                       AsciiUpper(in[4]), AsciiUpper(in[6]), AsciiUpper(in[7])};
  std::string collected = BlockHolderText(in);
  if (collected.empty()) {
    std::shared_lock lock(StoreLock());
    ForEachRecordWithKey(key, [&collected](int32_t i) { collected += GetCompanyText(i); });
  }
  if (collected.empty()) return {FormatMessage(kMsgNoMatch), QueryOutcome::Message};
  QueryAnswer answer;
  ExpandLineBreaks(collected, answer.text);
  return answer;
}

QueryAnswer ListMacs() {
  QueryAnswer answer;
  std::string& listing = answer.text;
  std::shared_lock lock(StoreLock());
  // Every line fits its record's 114 bytes: the listing is built in one
  // buffer of that size and never through the line-break rebuild.
  listing.reserve(static_cast<size_t>(companyCount) * kRecordSize);
  for (int32_t i = 0; i < companyCount; ++i) {
    const char* r = companyMacList + static_cast<size_t>(i) * kRecordSize;
    const char head[14] = {'\r', '\n', r[0], r[1], ':', r[2], r[3], ':', r[4], r[5], ' ', ' ', ' ', ' '};
    listing.append(head, sizeof head);
    listing.append(r + kNameOffset, strnlen(r + kNameOffset, kNameFieldSize));
  }
  return answer;
}
