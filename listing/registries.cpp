#include "vessarine/listing/registries.h"

namespace listing {

namespace {

constexpr RegistryInfo kInfo[] = {
    {"MA-L", 24, "oui", "https://standards-oui.ieee.org/oui/oui.txt"},
    {"MA-M", 28, "mam", "https://standards-oui.ieee.org/oui28/mam.txt"},
    {"MA-S", 36, "oui36", "https://standards-oui.ieee.org/oui36/oui36.txt"},
    {"IAB", 36, "iab", "https://standards-oui.ieee.org/iab/iab.txt"},
    {"CID", 24, "cid", "https://standards-oui.ieee.org/cid/cid.txt"},
};

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

}  // namespace

const RegistryInfo& Info(Registry r) { return kInfo[static_cast<size_t>(r)]; }

std::optional<Registry> RegistryFromName(std::string_view name) {
  for (Registry r : kAllRegistries) {
    if (SameIgnoringCase(name, Info(r).name)) return r;
  }
  return std::nullopt;
}

}  // namespace listing
