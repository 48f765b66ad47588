#include "config/descriptors.h"

#include <algorithm>
#include <array>

namespace config {

namespace {

constexpr std::array<InterfaceDescriptor, 7> INTERFACES{{
    {INTERFACETYPES::EPP, "EPP", Endpoint::none, false},
    {INTERFACETYPES::PCIMEM, "PCIMEM", Endpoint::none, false},
    {INTERFACETYPES::PCIPORT, "PCIPORT", Endpoint::none, false},
    {INTERFACETYPES::ISAPORT, "ISAPORT", Endpoint::none, false},
    {INTERFACETYPES::OSDEVICE, "OSDEVICE", Endpoint::serial_port, false},
    {INTERFACETYPES::EZAL16, "EZAL16", Endpoint::ip_address, true},
    {INTERFACETYPES::OSZAL, "OSZAL", Endpoint::serial_port, true},
}};

constexpr std::array<ProtocolDescriptor, 6> PROTOCOLS{{
    {PROTOCOLTYPES::BUS, "BUS", false, 0, Reach::one_drive, false},
    {PROTOCOLTYPES::HEX, "HEX", true, 115200, Reach::one_drive, true},
    {PROTOCOLTYPES::ZAL, "ZAL", true, 115200, Reach::one_drive, true},
    // The rate the module's channels are started at.
    {PROTOCOLTYPES::SSZAL, "SSZAL", false, 2500000, Reach::channels, true},
    {PROTOCOLTYPES::DIRECT, "DIRECT", false, 0, Reach::nothing, true},
    // What an unknown name reads as: nothing speaks it, and the link says so when it opens.
    {PROTOCOLTYPES::INVALID, "", false, 0, Reach::nothing, true},
}};

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool same_name(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return upper(x) == upper(y); });
}

template <class Row, std::size_t N>
const Row* row_named(const std::array<Row, N>& rows, std::string_view name) {
  if (name.empty()) return nullptr;
  for (const Row& row : rows) {
    if (same_name(row.name, name)) return &row;
  }
  return nullptr;
}

template <class Row, std::size_t N, class Kind>
const Row& row_of(const std::array<Row, N>& rows, Kind kind) {
  for (const Row& row : rows) {
    if (row.kind == kind) return row;
  }
  return rows.back();
}

}  // namespace

std::span<const InterfaceDescriptor> interfaces() { return INTERFACES; }
std::span<const ProtocolDescriptor> protocols() { return PROTOCOLS; }

const InterfaceDescriptor& describe(INTERFACETYPES kind) { return row_of(INTERFACES, kind); }
const ProtocolDescriptor& describe(PROTOCOLTYPES kind) { return row_of(PROTOCOLS, kind); }

const InterfaceDescriptor* interface_named(std::string_view name) { return row_named(INTERFACES, name); }
const ProtocolDescriptor* protocol_named(std::string_view name) { return row_named(PROTOCOLS, name); }

}  // namespace config
