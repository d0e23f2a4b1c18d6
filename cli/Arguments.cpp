#include "cli/Arguments.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>

#include "sdx/ListedService.h"

#include "base/TextFormat.h"

namespace velmora::cli {

namespace {

std::string Folded(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c != ' ' && c != '/' && c != '-' && c != '_') {
            out += c;
        }
    }
    return AsciiLower(out);
}

std::size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) {
        row[j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// The choices as the help shows them, {a,b,c}; the shell completion reads them there.
std::string ChoiceList(const std::vector<std::string>& allowed) {
    std::string list = "{";
    for (const std::string& name : allowed) {
        list += (list.size() > 1 ? "," : "") + name;
    }
    return list + "}";
}

}  // namespace

CLI::Validator OneOf(std::vector<std::string> allowed, std::string what, std::string example,
                     bool anyCase) {
    return CLI::Validator(
        [allowed, what, example, anyCase](std::string& value) -> std::string {
            for (const std::string& name : allowed) {
                if (value == name || (anyCase && Folded(value) == Folded(name))) {
                    value = name;
                    return {};
                }
            }
            std::string list;
            for (std::size_t i = 0; i < allowed.size(); ++i) {
                const std::string& name = allowed[i];
                list += (i == 0 ? "" : i + 1 == allowed.size() ? " or " : ", ");
                list += name.find(' ') != std::string::npos ? Quoted(name) : name;
            }
            return Quoted(value) + " is not " + what + ": use " + list + ", for example " + example;
        },
        ChoiceList(allowed));
}

CLI::Validator HexOffset() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            std::string digits = value;
            if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
                digits = digits.substr(2);
            }
            const bool hex = !digits.empty() && digits.size() <= 8 &&
                             std::all_of(digits.begin(), digits.end(), [](char c) {
                                 return std::isxdigit(static_cast<unsigned char>(c)) != 0;
                             });
            if (hex) {
                return {};
            }
            return Quoted(value) +
                   " is not a flash offset: give one to eight hex digits, with or without 0x, "
                   "for example --offset 1b0000 or --offset 0x1B0000";
        },
        "");
}

CLI::Validator PortName() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            if (value.find_first_not_of(" \t") != std::string::npos) {
                return {};
            }
            return "the port name is empty (an unset variable in a script?): give a COM name, a "
                   "device path or auto, for example --port /dev/ttyUSB0";
        },
        "");
}

CLI::Validator Seconds() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            constexpr double kWeek = 7 * 24 * 3600;
            char* end = nullptr;
            const double seconds = std::strtod(value.c_str(), &end);
            const bool number =
                !value.empty() && end != nullptr && *end == '\0' && std::isfinite(seconds);
            if (number && seconds >= 0 && seconds <= kWeek) {
                return {};
            }
            return Quoted(value) +
                   " is not a number of seconds from 0 to 604800 (a week): for example "
                   "--timeout 30, or --timeout 0 to wait for as long as it takes";
        },
        "");
}

CLI::Validator WholeNumber(std::string example) {
    return CLI::Validator(
        [example](std::string& value) -> std::string {
            char* end = nullptr;
            errno = 0;
            const long long number = std::strtoll(value.c_str(), &end, 10);
            const bool whole = !value.empty() && end != nullptr && *end == '\0' && errno == 0 &&
                               number >= std::numeric_limits<std::int32_t>::min() &&
                               number <= std::numeric_limits<std::int32_t>::max();
            if (whole) {
                return {};
            }
            return Quoted(value) + " is not a whole number (32 bits): for example " + example;
        },
        "");
}

CLI::Validator OrbitalPosition() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            if (const std::optional<std::int32_t> tenths = ParseOrbitalPosition(value)) {
                value = std::to_string(*tenths);
                return {};
            }
            return Quoted(value) +
                   " is not an orbital position: give degrees with at most one decimal and E or "
                   "W, for example --satellite 19.2E, --satellite 13E or --satellite 30W";
        },
        "");
}

std::string ClosestMatch(const std::string& typed, const std::vector<std::string>& candidates) {
    std::string best;
    std::size_t bestDistance = std::numeric_limits<std::size_t>::max();
    for (const std::string& candidate : candidates) {
        const std::size_t d = EditDistance(typed, candidate);
        if (d < bestDistance) {
            bestDistance = d;
            best = candidate;
        }
    }
    const std::size_t allowed = std::max<std::size_t>(2, typed.size() / 3);
    return bestDistance <= allowed ? best : std::string();
}

std::string ExtrasProblem(const CLI::App& command, const std::vector<std::string>& extras) {
    std::vector<std::string> names;
    for (const CLI::Option* option : command.get_options()) {
        for (const std::string& name : option->get_lnames()) {
            names.push_back("--" + name);
        }
    }
    const std::string where = "velmora-cli " + command.get_name() + ": ";
    for (const std::string& extra : extras) {
        if (extra.size() < 2 || extra[0] != '-') {
            continue;
        }
        const std::string typed = extra.substr(0, extra.find('='));
        const std::string near = ClosestMatch(typed, names);
        return where + "unknown option " + typed +
               (near.empty() ? "." : ". Did you mean " + near + "?");
    }
    return where + "unexpected argument " + Quoted(extras.front()) + ".";
}

}  // namespace velmora::cli
