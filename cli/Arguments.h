// Checks of typed options, made while the command line is parsed, before any
// port is opened: each refusal names the option and shows an example.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

namespace velmora::cli {

// One of `allowed`; with `anyCase` letters may be in either case, and blanks,
// '/' and '-' are ignored, and the value becomes the allowed spelling.
CLI::Validator OneOf(std::vector<std::string> allowed, std::string what, std::string example,
                     bool anyCase = false);

// A flash offset: one to eight hex digits, with or without 0x.
CLI::Validator HexOffset();

// A port name that is not empty (nor blanks only): an empty one would mean
// the default port.
CLI::Validator PortName();

// Seconds to wait: a number from 0 (for ever) to a week.
CLI::Validator Seconds();

// A whole number that fits 32 bits, for the database limits and LNB values.
CLI::Validator WholeNumber(std::string example);

// An orbital position as technicians write it ("19.2E", "13E", "30W"); the
// value becomes its tenths of a degree east ("192", "130", "3300").
CLI::Validator OrbitalPosition();

// The closest of `candidates` to `typed`, when it is close enough to be what
// was meant; empty otherwise.
std::string ClosestMatch(const std::string& typed, const std::vector<std::string>& candidates);

// A usage error for the first argument in `extras` (what a command could not
// place): an unknown option with a "did you mean", or an unexpected argument.
std::string ExtrasProblem(const CLI::App& command, const std::vector<std::string>& extras);

}  // namespace velmora::cli
