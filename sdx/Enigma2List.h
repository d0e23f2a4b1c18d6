// Enigma2 settings: the service list and the bouquet files.
//
// The service list ("lamedb") opens with "eDVB services /N/". Versions 3 and
// 4 hold a section "transponders" (a line "namespace:tsid:onid" in hex, a
// line with the delivery data, "s freq:srate:pol:fec:pos:..." for a
// satellite, "c ..." cable, "t ..." terrestrial, then "/") and a section
// "services" (three lines each: "sid:namespace:tsid:onid:type:number", the
// name, then "p:provider,c:TTPPPP,...,C:caid,f:flags"), each closed by
// "end". Version 5 ("lamedb5") has one line per transponder,
// "t:namespace:tsid:onid,s:freq:srate:...", and per service,
// "s:sid:namespace:tsid:onid:type:number:source,"name",p:...,c:...".
// Numbers are hexadecimal but for the service type, the frequency (kHz), the
// symbol rate (symbols per second), the polarisation (0 H, 1 V, 2 L, 3 R)
// and the orbital position (tenths of a degree, west negative).
#pragma once

#include <string_view>
#include <vector>

#include "sdx/ListedService.h"

namespace velmora {

// The services of an Enigma2 list in its order, each with the data of its
// transponder, or the reason it does not go in. A version other than 3, 4
// and 5 is read in the layout its lines show.
ListedServices ReadEnigma2Services(std::string_view text, int version);

// The services a bouquet file ("userbouquet.*.tv", "*.radio") names in its
// "#SERVICE 1:0:type:sid:tsid:onid:namespace:..." lines, in its order;
// markers, references to other bouquets and streams are none.
std::vector<ServiceKey> ReadBouquetServices(std::string_view text);

}  // namespace velmora
