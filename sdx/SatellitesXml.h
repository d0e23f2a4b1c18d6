// Names of satellite positions from an Enigma2 "satellites.xml":
//   <sat name="19.2E Astra 1KR/1L/1M/1N" flags="1" position="192"> ...
// (positions in tenths of a degree, west negative), and the satellite name a
// service of an Enigma2 or VDR list gets from them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace velmora {

using SatelliteNames = std::map<std::int32_t, std::string>;

// The name of each position (tenths of a degree east, 0..3599) as the first
// <sat> element of that position gives it, entities decoded. Elements inside
// comments, and those without a name or a position, count for nothing.
SatelliteNames ReadSatelliteNames(std::string_view xml);

// The position as text ("19.2E", "30.0W") and, where `names` has one, a space
// and its name, without a position it begins with ("19.2E", "19.2°E") and
// without a part in parentheses at its end: "Astra 1KR/1L/1M/1N (19.2E)" and
// "19.2E Astra 1KR/1L/1M/1N" both give "19.2E Astra 1KR/1L/1M/1N".
std::string SatelliteNameOf(std::int32_t position, const SatelliteNames& names);

}  // namespace velmora
