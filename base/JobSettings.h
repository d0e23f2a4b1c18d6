// The record through which a front end (the dialog or the command line) hands a
// job to the upgrade worker and to the channel-list conversion, together with
// the rules that turn the dialog's texts and numbers into it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// What the receiver's boot loader is asked to do with the file.
enum class UpgradeType : std::int32_t {
    Code = 0,            // program image, always written to flash offset 0x00010000
    Database = 1,        // channel database image, written to nOffset
    DbImportExport = 2,  // behaves like Database
    Custom = 3,          // any other Upgrade Type text: the worker does nothing
};

// Receiver models and projects the Start command recognises by name.
inline constexpr std::string_view kPackedModelName = "LX3300AB";
inline constexpr std::string_view kTerrestrialProjectName = "DVB-S+T";

// Which services of an Enigma2 or VDR channel list go into the image, and
// where the names of their satellites come from. The defaults take every
// service, in the list's order.
struct ListChoice {
    // Orbital positions in tenths of a degree east (0..3599; 30.0W is 3300);
    // empty: every position.
    std::vector<std::int32_t> positions;
    // Enigma2 bouquet files: only the services they name, in their order;
    // empty: the list's own order.
    std::vector<std::string> bouquets;
    bool freeOnly = false;  // only services without conditional access
    // The satellites.xml that names the positions; empty: the one beside the
    // list, when there is one.
    std::string satellitesXml;
    // Read an Enigma2 list of a version other than 3, 4 and 5 all the same.
    bool anyVersion = false;

    // True when something besides the list itself shapes what goes in.
    bool Chosen() const {
        return !positions.empty() || !bouquets.empty() || freeOnly || !satellitesXml.empty();
    }
};

struct JobSettings {
    UpgradeType nUpgradeType = UpgradeType::Code;
    std::uint32_t nOffset = 0;      // flash offset of a database image
    std::uint8_t bPackedModel = 0;  // 1: the image goes through the external packer
    std::uint8_t bTerrestrial = 0;  // 1: 32-byte transponder records
    std::int32_t nMaxSat = 0;
    std::int32_t nMaxTp = 0;
    std::int32_t nMaxTv = 0;
    std::int32_t nMaxRadio = 0;
    std::int32_t nDbSize = 0;
    std::int32_t nLnbCHigh = 0;  // local-oscillator frequencies, MHz
    std::int32_t nLnbCLow = 0;
    std::int32_t nLnbKuHigh = 0;
    std::int32_t nLnbKuLow = 0;
    std::string strFilePath;      // the file chosen to send (or the channel list)
    char szImageName[10] = {};    // image produced by a conversion, zero-terminated
    std::uint8_t bConverted = 0;  // 1 when szImageName is the file to send
    // Folder that holds the conversion's working files ("db1.bin", "tmp.bin",
    // "db.bin"). Empty means the process's current directory.
    std::string strWorkDir;
    // What an Enigma2 or VDR list gives the image; the dialog keeps the defaults.
    ListChoice listChoice;
};

// The settings exactly as the dialog's controls hold them: texts of the lists
// and combos, numbers of the digit fields. The defaults are the dialog's.
struct DialogValues {
    std::string strPort = "COM1";
    std::string strBaudRate = "115200";
    std::string strDataBits = "8";
    std::string strParity = "NONE";
    std::string strStopBits = "1";
    std::string strUpgradeType = "Code";
    std::string strOffset = "1b0000";
    std::string strModelNo = "ZT4400VBOX";
    std::string strProjectName = "DVB-S";
    std::int32_t nMaxSat = 32;
    std::int32_t nMaxTp = 512;
    std::int32_t nMaxTv = 500;
    std::int32_t nMaxRadio = 1;
    std::int32_t lDbSize = 65535;
    std::int32_t nLnbCHigh = 5150;
    std::int32_t nLnbCLow = 5150;
    std::int32_t nLnbKuHigh = 10600;
    std::int32_t nLnbKuLow = 9750;
};

// Parity and stop-bit codes of the serial line (the Windows device-control codes).
enum ParityCode : std::uint8_t { kNoParity = 0, kOddParity = 1, kEvenParity = 2 };
enum StopBitsCode : std::uint8_t { kOneStopBit = 0, kOne5StopBits = 1, kTwoStopBits = 2 };

// Line parameters handed to CSerialPort::Open; they are not part of JobSettings.
struct LineParams {
    int nPort = 0;  // 1 for COM1
    std::uint32_t nBaudRate = 0;
    std::uint8_t nDataBits = 0;
    std::uint8_t nParity = kNoParity;
    std::uint8_t nStopBits = kOneStopBit;
    // A device path that replaces "COM<nPort>" (command line only); empty for the dialog.
    std::string strDevice;
};

// Parses the Offset field: hexadecimal digits read from the end of the text;
// anything that is not a hex digit counts as 0, and only the last eight
// characters carry weight, so no text of any length can overflow.
// lastIndex is the index of the last character to use (length - 1, -1 when empty).
std::uint32_t ParseHexOffset(std::string text, int lastIndex);

// Convenience form over the whole text.
std::uint32_t ParseHexOffset(std::string_view text);

// Upgrade Type text to its code: exact, case-sensitive; anything else is Custom.
UpgradeType UpgradeTypeFromText(std::string_view text);
// The list's text for `type`, as UpgradeTypeFromText reads it.
const char* UpgradeTypeText(UpgradeType type);

// Decimal text to a number the way the Start command reads it: optional sign,
// then leading digits; whatever follows is ignored and no digits give 0.
std::int32_t DecimalValue(std::string_view text);

// Turns the dialog's values into the job settings and the line parameters.
// strFilePath, szImageName, bConverted, strWorkDir and listChoice of
// `settings` are not touched.
void ConvertDialogValues(const DialogValues& values, JobSettings& settings, LineParams& line);

// The settings of a job on `file` from the dialog's values, its working files
// in `workDir` (empty: the current folder).
JobSettings JobSettingsFor(const DialogValues& values, const std::string& file,
                           const std::string& workDir);

}  // namespace velmora
