// Windows only: a system error code as plain text, for the port and process layers.
#pragma once

#include <string>

namespace velmora {

// For example "Access is denied (error 5)".
std::string Win32ErrorText(unsigned long error);

}  // namespace velmora
