// Numeric ids of the dialogs' controls and of the items of the system menu.
#pragma once

namespace velmora::ui {

// (ID_OK and ID_CANCEL are the template's IDOK and IDCANCEL, renamed so that
// they never meet the macros of <windows.h>.)
enum ControlId : int {
    ID_NONE = -1,                // labels, frames and pictures: never addressed
    ID_OK = 1,                   // "&Start" in the main dialog, "확인" in the about box
    ID_CANCEL = 2,               // "&Cancel"
    IDC_PORT = 1003,             // Port: COM1..COM8
    IDC_BAUDRATE = 1004,         // hidden
    IDC_PARITY = 1005,           // hidden
    IDC_DATABITS = 1006,         // hidden
    IDC_STOPBITS = 1007,         // hidden
    IDC_FILEPATH = 1008,         // read-only file box
    IDC_SELECTFILE = 1009,       // "S&elect File"
    IDC_SENDPROGRESS = 1010,     // "Data Send Progress"
    IDC_ANALYSEPROGRESS = 1011,  // "Data analyse Progress"
    IDC_UPGRADETYPE = 1012,      // hidden from here on
    IDC_OFFSET = 1013,
    IDC_MODELNO = 1014,
    IDC_PROJECTNAME = 1015,
    IDC_MAXSAT = 1016,
    IDC_MAXTP = 1017,
    IDC_DBSIZE = 1018,
    IDC_MAXTV = 1019,
    IDC_MAXRADIO = 1020,
    IDC_LNBCHIGH = 1021,
    IDC_LNBCLOW = 1022,
    IDC_LNBKUHIGH = 1023,
    IDC_LNBKULOW = 1024,
    IDC_STATUS = 1025,  // the job's state in words, empty while idle
    // The station window; it shares the ids above for the file, its button
    // and the settings, and ID_OK ("&Start") and ID_CANCEL ("&Close").
    IDC_ST_PORTS = 1030,         // the serial ports present, each with a check box
    IDC_ST_EVERYADAPTER = 1031,  // "Every USB serial adapter, also those plugged in later"
    IDC_ST_ONCE = 1032,          // "One receiver per port"
    IDC_ST_LOGPATH = 1033,       // the job log's path, read-only
    IDC_ST_LOGFILE = 1034,       // "&Log File…"
    IDC_ST_SOUND = 1035,         // "S&ound"
    IDC_ST_STOP = 1036,          // "S&top"
    IDC_ST_TOTALS = 1037,        // finished, failed, receivers per hour
    IDC_ST_TILES = 1038,         // one tile per port
    IDC_ST_RECORD = 1039,        // the shop record: a connection string or its file
};

// Resource ids: the dialog templates, the icon, the banner and the string of
// the about item.
enum ResourceId : int {
    IDD_ABOUTBOX = 100,
    IDS_ABOUTBOX = 101,
    IDD_UPGRADE_DIALOG = 102,
    IDD_STATION_DIALOG = 103,
    IDR_MAINFRAME = 128,
    IDB_BANNER = 135,
};

// System-menu command of the about item. Windows keeps the low four bits of a
// system command for itself, so 0x0010 to 0x001F all mean this item.
inline constexpr unsigned IDM_ABOUTBOX = 0x0010;
// The "Settings…" item after it, which shows and hides the settings area.
inline constexpr unsigned IDM_SETTINGS = 0x0020;
// The "Station…" item after that, which opens the station window.
inline constexpr unsigned IDM_STATION = 0x0030;

}  // namespace velmora::ui
