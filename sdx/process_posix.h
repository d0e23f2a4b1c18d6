// Helpers of the POSIX process layer, visible for tests.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::posix {

// The words of a command line, split at spaces (runs of spaces and a
// trailing space give no empty words).
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// Where `name` is found: in `exeDir` first, then in each folder of `pathVar`
// (colon-separated; an empty entry means the current directory, as PATH
// defines it). Only regular files that may be executed count. A name that
// contains a slash is taken as it is. The result is an absolute path.
std::optional<std::string> LocateProgram(const std::string& name, const std::string& exeDir,
                                         const std::string& pathVar);

// The folder of the running executable (from /proc/self/exe); empty when unknown.
std::string ExecutableDirectory();

}  // namespace velmora::posix
