#include "shop/Odbc.h"

#include <cstdint>
#include <cstdio>

#include "base/TextFormat.h"
#include "shop/OdbcApi.h"

namespace velmora::shop {

namespace {

using WideText = std::vector<SQLWCHAR>;

// UTF-8 as UTF-16 with a terminating zero; a byte that is not well-formed
// UTF-8 becomes U+FFFD.
WideText Wide(const std::string& text) {
    const std::string valid = ValidUtf8(text);
    WideText out;
    out.reserve(valid.size() + 1);
    for (std::size_t i = 0; i < valid.size();) {
        const auto lead = static_cast<unsigned char>(valid[i]);
        const int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        std::uint32_t code = extra == 0 ? lead : (lead & (0x3FU >> extra));
        for (std::size_t k = 1; k <= static_cast<std::size_t>(extra); ++k) {
            code = (code << 6) | (static_cast<unsigned char>(valid[i + k]) & 0x3FU);
        }
        i += static_cast<std::size_t>(extra) + 1;
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<SQLWCHAR>(0xD800 + (code >> 10)));
            out.push_back(static_cast<SQLWCHAR>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<SQLWCHAR>(code));
        }
    }
    out.push_back(0);
    return out;
}

void AppendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// UTF-16 as UTF-8; a lone surrogate becomes U+FFFD.
std::string Narrow(const SQLWCHAR* text, std::size_t length) {
    std::string out;
    for (std::size_t i = 0; i < length; ++i) {
        std::uint32_t code = text[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < length && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;
        }
        AppendUtf8(out, code);
    }
    return out;
}

std::size_t WideLength(const SQLWCHAR* text, std::size_t capacity) {
    std::size_t n = 0;
    while (n < capacity && text[n] != 0) {
        ++n;
    }
    return n;
}

// Every diagnostic of the handle on one line, passwords masked; `state` is
// the first one's SQLSTATE.
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle, std::string& state) {
    std::string text;
    for (SQLSMALLINT record = 1;; ++record) {
        SQLWCHAR sqlState[6] = {};
        SQLINTEGER native = 0;
        SQLWCHAR message[1024] = {};
        SQLSMALLINT length = 0;
        const SQLRETURN rc = SQLGetDiagRecW(type, handle, record, sqlState, &native, message,
                                            static_cast<SQLSMALLINT>(std::size(message)), &length);
        if (!SQL_SUCCEEDED(rc)) {
            break;
        }
        if (record == 1) {
            state = Narrow(sqlState, WideLength(sqlState, 5));
        }
        // On one line: drivers pass on the server's messages with their line ends.
        if (!text.empty() && text.back() != ' ') {
            text += ' ';
        }
        for (const char c : Narrow(message, WideLength(message, std::size(message)))) {
            const bool blank = c == '\n' || c == '\r' || c == '\t' || c == ' ';
            if (!blank) {
                text += c;
            } else if (!text.empty() && text.back() != ' ') {
                text += ' ';
            }
        }
    }
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return MaskedConnection(text);
}

// Throws what the handle says when `rc` is a failure.
void Check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* what) {
    if (SQL_SUCCEEDED(rc)) {
        return;
    }
    std::string state;
    std::string text = handle != SQL_NULL_HANDLE ? Diagnostics(type, handle, state) : "";
    if (text.empty()) {
        text = rc == SQL_INVALID_HANDLE ? "invalid handle" : "no reason given";
    }
    throw OdbcFailure(std::string(what) + ": " + text, state);
}

bool EqualsIgnoringCase(const std::string& a, const char* b) {
    return AsciiLower(a) == b;
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

bool OdbcFailure::LostConnection() const {
    // 08: connection exceptions; HYT00/HYT01: time-outs; 57P0x: the
    // PostgreSQL server shuts down; 28: the login was refused.
    return m_state.empty() || m_state.rfind("08", 0) == 0 || m_state.rfind("HYT", 0) == 0 ||
           m_state.rfind("57P", 0) == 0 || m_state.rfind("28", 0) == 0 || m_state == "HY000";
}

bool OdbcFailure::Duplicate() const {
    return m_state == "23000" || m_state == "23505";
}

bool OdbcFailure::RowRefused() const {
    // Class 22: data exceptions; 23: integrity constraints.
    return !Duplicate() && (m_state.rfind("22", 0) == 0 || m_state.rfind("23", 0) == 0);
}

std::string MaskedConnection(const std::string& connection) {
    std::string out;
    std::size_t at = 0;
    while (at < connection.size()) {
        const std::size_t equals = connection.find('=', at);
        const std::size_t semicolon = connection.find(';', at);
        if (equals == std::string::npos || (semicolon != std::string::npos && semicolon < equals)) {
            const std::size_t end =
                semicolon == std::string::npos ? connection.size() : semicolon + 1;
            out += connection.substr(at, end - at);
            at = end;
            continue;
        }
        const std::string key = connection.substr(at, equals - at);
        std::size_t end = equals + 1;
        if (end < connection.size() && connection[end] == '{') {
            // A braced value runs to its closing brace; "}}" is a brace in it.
            for (++end; end < connection.size(); ++end) {
                if (connection[end] == '}') {
                    if (end + 1 < connection.size() && connection[end + 1] == '}') {
                        ++end;
                        continue;
                    }
                    ++end;
                    break;
                }
            }
        }
        end = std::min(connection.find(';', end), connection.size());
        const std::string name = Trimmed(key);
        const bool secret = EqualsIgnoringCase(name, "pwd") || EqualsIgnoringCase(name, "password");
        out += key + "=" + (secret ? "***" : connection.substr(equals + 1, end - equals - 1));
        at = end;
    }
    return out;
}

// ---------------------------------------------------------------------------

struct OdbcConnection::Handles {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    bool connected = false;

    ~Handles() {
        if (connected) {
            SQLDisconnect(dbc);
        }
        if (dbc != SQL_NULL_HDBC) {
            SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        }
        if (env != SQL_NULL_HENV) {
            SQLFreeHandle(SQL_HANDLE_ENV, env);
        }
    }
};

OdbcConnection::OdbcConnection(const std::string& connection, int timeoutSeconds)
    : m_handles(std::make_unique<Handles>()), m_timeoutSeconds(timeoutSeconds) {
    Handles& h = *m_handles;
    Check(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h.env), SQL_HANDLE_ENV, SQL_NULL_HANDLE,
          "ODBC is not available");
    Check(SQLSetEnvAttr(h.env, SQL_ATTR_ODBC_VERSION,
                        reinterpret_cast<SQLPOINTER>(static_cast<std::intptr_t>(SQL_OV_ODBC3)), 0),
          SQL_HANDLE_ENV, h.env, "ODBC 3 is not available");
    Check(SQLAllocHandle(SQL_HANDLE_DBC, h.env, &h.dbc), SQL_HANDLE_ENV, h.env,
          "ODBC gave no connection");
    const auto seconds = reinterpret_cast<SQLPOINTER>(static_cast<std::intptr_t>(timeoutSeconds));
    Check(SQLSetConnectAttrW(h.dbc, SQL_ATTR_LOGIN_TIMEOUT, seconds, 0), SQL_HANDLE_DBC, h.dbc,
          "the login time limit was refused");
    // Not every driver keeps a limit for requests other than statements.
    SQLSetConnectAttrW(h.dbc, SQL_ATTR_CONNECTION_TIMEOUT, seconds, 0);
    WideText text = Wide(connection);
    SQLWCHAR completed[1024];
    SQLSMALLINT completedLength = 0;
    Check(SQLDriverConnectW(h.dbc, nullptr, text.data(), SQL_NTS, completed,
                            static_cast<SQLSMALLINT>(std::size(completed)), &completedLength,
                            SQL_DRIVER_NOPROMPT),
          SQL_HANDLE_DBC, h.dbc, "no connection");
    h.connected = true;
}

OdbcConnection::~OdbcConnection() = default;

std::string OdbcConnection::DbmsName() {
    SQLWCHAR name[256] = {};
    SQLSMALLINT bytes = 0;
    Check(SQLGetInfoW(m_handles->dbc, SQL_DBMS_NAME, name, sizeof name, &bytes), SQL_HANDLE_DBC,
          m_handles->dbc, "the server's name could not be read");
    return Narrow(name, WideLength(name, std::size(name)));
}

bool OdbcConnection::TableExists(const std::string& name) {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    Check(SQLAllocHandle(SQL_HANDLE_STMT, m_handles->dbc, &stmt), SQL_HANDLE_DBC, m_handles->dbc,
          "ODBC gave no statement");
    OdbcStatement statement(stmt, m_timeoutSeconds);
    WideText table = Wide(name);
    WideText kind = Wide("TABLE");
    Check(SQLTablesW(stmt, nullptr, 0, nullptr, 0, table.data(), SQL_NTS, kind.data(), SQL_NTS),
          SQL_HANDLE_STMT, stmt, "the tables could not be listed");
    return statement.Fetch();
}

OdbcStatement OdbcConnection::Prepare(const std::string& sql) {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    Check(SQLAllocHandle(SQL_HANDLE_STMT, m_handles->dbc, &stmt), SQL_HANDLE_DBC, m_handles->dbc,
          "ODBC gave no statement");
    OdbcStatement statement(stmt, m_timeoutSeconds);
    WideText text = Wide(sql);
    Check(SQLPrepareW(stmt, text.data(), SQL_NTS), SQL_HANDLE_STMT, stmt,
          "the statement was refused");
    return statement;
}

// ---------------------------------------------------------------------------

struct OdbcStatement::Parameter {
    SQLSMALLINT cType = SQL_C_WCHAR;
    SQLSMALLINT sqlType = SQL_WVARCHAR;
    WideText text;
    SQLBIGINT integer = 0;
    double real = 0;
    SQL_TIMESTAMP_STRUCT time{};
    SQLLEN indicator = SQL_NULL_DATA;
};

OdbcStatement::OdbcStatement(void* handle, int timeoutSeconds) : m_handle(handle) {
    // A driver without statement time limits still runs the statement.
    SQLSetStmtAttrW(handle, SQL_ATTR_QUERY_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(static_cast<std::intptr_t>(timeoutSeconds)), 0);
}

OdbcStatement::OdbcStatement(OdbcStatement&& other) noexcept
    : m_handle(other.m_handle), m_parameters(std::move(other.m_parameters)) {
    other.m_handle = nullptr;
}

OdbcStatement::~OdbcStatement() {
    if (m_handle != nullptr) {
        SQLFreeHandle(SQL_HANDLE_STMT, m_handle);
    }
}

OdbcStatement::Parameter& OdbcStatement::Slot(int number) {
    while (m_parameters.size() < static_cast<std::size_t>(number)) {
        m_parameters.push_back(std::make_unique<Parameter>());
    }
    Parameter& p = *m_parameters[static_cast<std::size_t>(number) - 1];
    p = Parameter{};
    return p;
}

void OdbcStatement::Bind(int number, const std::optional<std::string>& text) {
    Parameter& p = Slot(number);
    if (text) {
        p.text = Wide(*text);
        p.indicator = static_cast<SQLLEN>((p.text.size() - 1) * sizeof(SQLWCHAR));
    }
}

void OdbcStatement::Bind(int number, std::optional<std::int64_t> value) {
    Parameter& p = Slot(number);
    p.cType = SQL_C_SBIGINT;
    p.sqlType = SQL_BIGINT;
    if (value) {
        p.integer = *value;
        p.indicator = 0;
    }
}

void OdbcStatement::Bind(int number, std::optional<double> value) {
    Parameter& p = Slot(number);
    p.cType = SQL_C_DOUBLE;
    p.sqlType = SQL_DOUBLE;
    if (value) {
        p.real = *value;
        p.indicator = 0;
    }
}

void OdbcStatement::Bind(int number, const std::optional<Timestamp>& when) {
    Parameter& p = Slot(number);
    p.cType = SQL_C_TYPE_TIMESTAMP;
    p.sqlType = SQL_TYPE_TIMESTAMP;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, milli = 0;
    if (when && std::sscanf(when->utc.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3dZ", &year, &month, &day,
                            &hour, &minute, &second, &milli) == 7) {
        p.time = {static_cast<SQLSMALLINT>(year),
                  static_cast<SQLUSMALLINT>(month),
                  static_cast<SQLUSMALLINT>(day),
                  static_cast<SQLUSMALLINT>(hour),
                  static_cast<SQLUSMALLINT>(minute),
                  static_cast<SQLUSMALLINT>(second),
                  static_cast<SQLUINTEGER>(milli) * 1000000U};
        p.indicator = 0;
    }
}

void OdbcStatement::Execute() {
    SQLFreeStmt(m_handle, SQL_CLOSE);
    for (std::size_t i = 0; i < m_parameters.size(); ++i) {
        Parameter& p = *m_parameters[i];
        SQLPOINTER value = &p.integer;
        SQLULEN size = 0;
        SQLSMALLINT digits = 0;
        SQLLEN bytes = 0;
        if (p.cType == SQL_C_WCHAR) {
            p.text.resize(std::max<std::size_t>(p.text.size(), 1));
            value = p.text.data();
            size = std::max<SQLULEN>(p.text.size() - 1, 1);
            bytes = static_cast<SQLLEN>(p.text.size() * sizeof(SQLWCHAR));
        } else if (p.cType == SQL_C_DOUBLE) {
            value = &p.real;
        } else if (p.cType == SQL_C_TYPE_TIMESTAMP) {
            value = &p.time;
            size = 23;
            digits = 3;
        }
        Check(SQLBindParameter(m_handle, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, p.cType,
                               p.sqlType, size, digits, value, bytes, &p.indicator),
              SQL_HANDLE_STMT, m_handle, "a value could not be bound");
    }
    const SQLRETURN rc = SQLExecute(m_handle);
    if (rc != SQL_NO_DATA) {
        Check(rc, SQL_HANDLE_STMT, m_handle, "the statement failed");
    }
}

bool OdbcStatement::Fetch() {
    const SQLRETURN rc = SQLFetch(m_handle);
    if (rc == SQL_NO_DATA) {
        return false;
    }
    Check(rc, SQL_HANDLE_STMT, m_handle, "a row could not be read");
    return true;
}

std::optional<std::string> OdbcStatement::Text(int column) {
    WideText all;
    SQLWCHAR piece[512];
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN rc = SQLGetData(m_handle, static_cast<SQLUSMALLINT>(column), SQL_C_WCHAR,
                                        piece, sizeof piece, &indicator);
        if (rc == SQL_NO_DATA) {
            break;
        }
        Check(rc, SQL_HANDLE_STMT, m_handle, "a column could not be read");
        if (indicator == SQL_NULL_DATA) {
            return std::nullopt;
        }
        const std::size_t room = std::size(piece) - 1;
        const std::size_t chars =
            indicator == SQL_NO_TOTAL
                ? room
                : std::min(room, static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR));
        all.insert(all.end(), piece, piece + chars);
        if (rc == SQL_SUCCESS) {
            break;
        }
    }
    return Narrow(all.data(), all.size());
}

std::optional<std::int64_t> OdbcStatement::Integer(int column) {
    SQLBIGINT value = 0;
    SQLLEN indicator = 0;
    Check(SQLGetData(m_handle, static_cast<SQLUSMALLINT>(column), SQL_C_SBIGINT, &value,
                     sizeof value, &indicator),
          SQL_HANDLE_STMT, m_handle, "a column could not be read");
    return indicator == SQL_NULL_DATA ? std::nullopt : std::optional<std::int64_t>(value);
}

std::optional<double> OdbcStatement::Real(int column) {
    double value = 0;
    SQLLEN indicator = 0;
    Check(SQLGetData(m_handle, static_cast<SQLUSMALLINT>(column), SQL_C_DOUBLE, &value,
                     sizeof value, &indicator),
          SQL_HANDLE_STMT, m_handle, "a column could not be read");
    return indicator == SQL_NULL_DATA ? std::nullopt : std::optional<double>(value);
}

std::optional<Timestamp> OdbcStatement::Time(int column) {
    SQL_TIMESTAMP_STRUCT t{};
    SQLLEN indicator = 0;
    Check(SQLGetData(m_handle, static_cast<SQLUSMALLINT>(column), SQL_C_TYPE_TIMESTAMP, &t,
                     sizeof t, &indicator),
          SQL_HANDLE_STMT, m_handle, "a column could not be read");
    if (indicator == SQL_NULL_DATA) {
        return std::nullopt;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02u:%02u:%02u.%03uZ", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, static_cast<unsigned>(t.fraction / 1000000U));
    return Timestamp{text};
}

}  // namespace velmora::shop
