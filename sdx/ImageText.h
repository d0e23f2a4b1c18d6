// The decoded image as people and scripts read it: tables of its satellites,
// transponders, TV and radio channels with their totals, and the same as one
// JSON object.
#pragma once

#include <string>

#include "sdx/ImageDecode.h"

namespace velmora {

// Readable tables: satellites (band, LNB values, name, position with E/W),
// transponders, TV and radio channels, and the totals.
std::string FormatImageTables(const DecodedImage& image);

// The same as one JSON object, one line per member and per array item:
// {"image":{...},"satellites":[...],"transponders":[...],"tv":[...],
//  "radio":[...],"totals":{"satellites":n,"transponders":n,"tv":n,"radio":n}}
std::string FormatImageJson(const DecodedImage& image);

// "19.2E", "30.0W": a decoded satellite position.
std::string PositionText(const DecodedSatellite& sat);

}  // namespace velmora
