// What the shop record needs of the system, per system (platform_posix.cpp,
// platform_win32.cpp).
#pragma once

#include <string>

namespace velmora::shop {

// This computer's name; empty when the system names none.
std::string HostName();

// Empty when only the file's owner (and the system's administrators) may
// read it; otherwise why not and how to make it so, in plain words. A file
// that cannot be looked at says why too.
std::string PrivateFileProblem(const std::string& path);

}  // namespace velmora::shop

#include <ctime>

namespace velmora::shop {

// The local civil time of `when`, as the system's time zone has it.
std::tm LocalCivilTime(std::time_t when);

}  // namespace velmora::shop
