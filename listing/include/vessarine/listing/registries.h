// The five IEEE registries whose tables the lookup consults, and what the
// rest of the program needs to know about each of them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "vessarine/store/bytes.h"

namespace listing {

// Order is also the order of the tables on disk and in result lists.
enum class Registry : uint8_t { MaL = 0, MaM = 1, MaS = 2, Iab = 3, Cid = 4 };

inline constexpr std::array<Registry, 5> kAllRegistries = {
    Registry::MaL, Registry::MaM, Registry::MaS, Registry::Iab, Registry::Cid};

struct RegistryInfo {
  std::string_view name;       // as in the CSV listings' first column: "MA-L"
  int bits;                    // prefix length of every assignment
  std::string_view fileBase;   // listing file name without extension: "oui"
  std::string_view url;        // where the Registration Authority publishes the text form
};

const RegistryInfo& Info(Registry r);

using ::HexDigitValue;
// "MA-L", "ma-l", "IAB", ... to a registry.
std::optional<Registry> RegistryFromName(std::string_view name);

}  // namespace listing
