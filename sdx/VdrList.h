// VDR channel lists ("channels.conf"): one channel a line of 13 fields,
//   Name:Frequency:Parameters:Source:Srate:VPID:APID:TPID:CAID:SID:NID:TID:RID
// for example "3sat HD;ZDFvision:11347:VC23M5O35P0S1:S19.2E:22000:6510=27:
// 6520=deu@3;6522=deu@106:6530:0:11150:1:1010:0". Group lines begin with
// ':', comments with '#'. The name ends at ',' (a short name follows) or ';'
// (the provider), '|' stands for ':'. The frequency is in MHz, the symbol
// rate in kS/s, the PIDs and identifiers decimal, the CA ids hexadecimal.
#pragma once

#include <string_view>

#include "sdx/ListedService.h"

namespace velmora {

// The channels of a VDR list in its order, or the reason each does not go in.
ListedServices ReadVdrServices(std::string_view text);

}  // namespace velmora
