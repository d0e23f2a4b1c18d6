#include "base/JobSettings.h"

#include <algorithm>
#include <cstddef>
#include <limits>

namespace velmora {

namespace {

std::uint32_t HexDigitValue(char ch) {
    if (ch >= '0' && ch <= '9') {
        return static_cast<std::uint32_t>(ch - '0');
    }
    if (ch >= 'a' && ch <= 'f') {
        return static_cast<std::uint32_t>(ch - 'a' + 10);
    }
    if (ch >= 'A' && ch <= 'F') {
        return static_cast<std::uint32_t>(ch - 'A' + 10);
    }
    return 0;  // "x" of a 0x prefix, blanks, signs, bytes above 0x7F
}

}  // namespace

std::uint32_t ParseHexOffset(std::string text, int lastIndex) {
    // Walk from the last character towards the first. The weight wraps to 0
    // after eight digits (16^8 = 2^32), so earlier characters add nothing and
    // the walk can stop there: texts of any length are safe.
    if (lastIndex < 0 || text.empty()) {
        return 0;
    }
    std::size_t index = std::min(static_cast<std::size_t>(lastIndex), text.size() - 1);
    std::uint32_t sum = 0;
    std::uint32_t weight = 1;
    for (int used = 0; used < 8; ++used) {
        sum += HexDigitValue(text[index]) * weight;
        weight *= 16;
        if (index == 0) {
            break;
        }
        --index;
    }
    return sum;
}

std::uint32_t ParseHexOffset(std::string_view text) {
    return ParseHexOffset(
        std::string(text),
        static_cast<int>(std::min<std::size_t>(text.size(), std::numeric_limits<int>::max())) - 1);
}

UpgradeType UpgradeTypeFromText(std::string_view text) {
    if (text == "Code") {
        return UpgradeType::Code;
    }
    if (text == "Database") {
        return UpgradeType::Database;
    }
    if (text == "Db Import/Export") {
        return UpgradeType::DbImportExport;
    }
    return UpgradeType::Custom;
}

const char* UpgradeTypeText(UpgradeType type) {
    switch (type) {
        case UpgradeType::Code:
            return "Code";
        case UpgradeType::Database:
            return "Database";
        case UpgradeType::DbImportExport:
            return "Db Import/Export";
        case UpgradeType::Custom:
            return "Custom";
    }
    return "?";
}

std::int32_t DecimalValue(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate in 64 bits and wrap to 32 like the C runtime's conversion on
    // the receiver's original platform; the values in use are small.
    std::uint32_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10U + static_cast<std::uint32_t>(text[i] - '0');
    }
    if (negative) {
        value = 0U - value;
    }
    return static_cast<std::int32_t>(value);
}

void ConvertDialogValues(const DialogValues& values, JobSettings& settings, LineParams& line) {
    // Port number: the last character of the port text alone, as a decimal digit.
    line.nPort = 0;
    if (!values.strPort.empty()) {
        const char last = values.strPort.back();
        line.nPort = (last >= '0' && last <= '9') ? last - '0' : 0;
    }
    line.nBaudRate = static_cast<std::uint32_t>(DecimalValue(values.strBaudRate));
    settings.nOffset = ParseHexOffset(values.strOffset);

    if (values.strParity == "ODD") {
        line.nParity = kOddParity;
    } else if (values.strParity == "EVEN") {
        line.nParity = kEvenParity;
    } else {
        line.nParity = kNoParity;
    }
    line.nDataBits = static_cast<std::uint8_t>(DecimalValue(values.strDataBits) & 0xFF);

    settings.nUpgradeType = UpgradeTypeFromText(values.strUpgradeType);
    settings.bPackedModel = values.strModelNo == kPackedModelName ? 1 : 0;
    settings.bTerrestrial = values.strProjectName == kTerrestrialProjectName ? 1 : 0;

    settings.nMaxSat = values.nMaxSat;
    settings.nMaxTp = values.nMaxTp;
    settings.nMaxTv = values.nMaxTv;
    settings.nMaxRadio = values.nMaxRadio;
    settings.nDbSize = values.lDbSize;
    settings.nLnbCHigh = values.nLnbCHigh;
    settings.nLnbCLow = values.nLnbCLow;
    settings.nLnbKuHigh = values.nLnbKuHigh;
    settings.nLnbKuLow = values.nLnbKuLow;

    if (values.strStopBits == "1.5") {
        line.nStopBits = kOne5StopBits;
    } else if (values.strStopBits == "2") {
        line.nStopBits = kTwoStopBits;
    } else {
        line.nStopBits = kOneStopBit;
    }
}

JobSettings JobSettingsFor(const DialogValues& values, const std::string& file,
                           const std::string& workDir) {
    JobSettings settings;
    LineParams unused;
    ConvertDialogValues(values, settings, unused);
    settings.strFilePath = file;
    settings.strWorkDir = workDir;
    return settings;
}

}  // namespace velmora
