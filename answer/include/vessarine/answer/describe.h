// What the lookup and annotate commands say about one address: the match,
// if any, and the address's class, as JSON fields, a CSV row, a text block
// or a short label.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "vessarine/identifier/address.h"
#include "vessarine/registry/tables.h"

namespace answer {

struct Description {
  identifier::ParsedAddress address;
  identifier::AddressClass cls;
  std::optional<registry::Match> match;
};

// The broadcast address is never looked up; a group address not listed as
// it is gets its holder's assignment (the address with the I/G bit clear).
Description Describe(const registry::RegistryTables& tables, const identifier::ParsedAddress& address);

// The "note" field: the well-known meaning of the address, else for a
// locally administered address its IEEE 802c quadrant; empty when neither.
std::string_view Note(const Description& d);

// The JSON object's members, without the braces: "input", "mac",
// "registry" ("user" for a prefix of the user's file), "assignment",
// "bits", "organization", "address", "also" (the further holders of an
// assignment listed more than once), "source" (a user prefix's FILE:LINE,
// else null), "group", "local", "broadcast", "note", "derived_from"
// ("ipv6-eui64", "wwn-naa1", "wwn-naa2", "wwn-naa5", "wwn-naa6" or null),
// "kind" (what was read: "mac", "ipv6", "eui64" or "wwn") and "identifier"
// (an EUI-64 or WWN as read, canonically; null for the others). "mac" is
// the MAC address (a WWN's OUI as three bytes), null for an EUI-64.
void AppendJsonMembers(std::string* out, std::string_view input, const Description& d);
// {"input": ..., "error": ...}
void AppendJsonError(std::string* out, std::string_view input, std::string_view error);

// CSV: the same fields, "error" before "derived_from", then "also" and
// "source" (the further holders' names), "kind" and "identifier" last;
// address lines joined by line feeds.
std::string_view CsvHeader();
void AppendCsvRow(std::string* out, std::string_view input, const Description& d);
void AppendCsvError(std::string* out, std::string_view input, std::string_view error);

// A readable block of lines, each ending in '\n'. This and the label are
// for the terminal: the input's and the table's texts go through
// AppendDisplayText (escape.h).
void AppendTextBlock(std::string* out, std::string_view input, const Description& d);

// " [holder]" with the well-known note after a "; " when there is one:
// " [ICANN, IANA Department; VRRP virtual router (IPv4) or CARP virtual
// host]". Without a holder: "broadcast", "multicast", "locally
// administered" or "unknown"; a group address with a holder and no note
// reads "multicast: holder".
void AppendLabel(std::string* out, const Description& d);

}  // namespace answer
