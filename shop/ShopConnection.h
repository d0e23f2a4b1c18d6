// Where the shop record is: an ODBC connection string, given on the command
// line or read from a file that only its owner may read.
#pragma once

#include <string>

namespace velmora::shop {

// Reads the connection string from `path`: its first line that is neither
// empty nor a comment (#). Empty when all went well; otherwise what is wrong
// and what to do, in plain words (a file that others may read is refused).
std::string ConnectionFromFile(const std::string& path, std::string& connection);

// Empty, or why a connection string typed on the command line is refused:
// one with a password would show in the process list.
std::string CommandLineConnectionProblem(const std::string& connection);

// Names the database a connection string reaches, whatever its password:
// the state file beside the log is kept per database.
std::string TargetOf(const std::string& connection);

}  // namespace velmora::shop
