// A small client over ODBC (sql.h): a connection, statements with bound
// parameters and columns read back as text, numbers or timestamps. The same
// code reaches PostgreSQL through psqlODBC, SQL Server or MariaDB, through
// unixODBC on Linux and the system's ODBC on Windows. Texts are UTF-8 here and
// go through ODBC's wide-character calls, whatever the driver's own encoding.
//
// Every call that waits for the server has a time limit: the login, and each
// statement. A failure throws OdbcFailure.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora::shop {

// What the driver or the driver manager said, with the SQLSTATE of its first
// diagnostic ("08001": no connection, "28P01": wrong password, ...).
class OdbcFailure : public std::runtime_error {
public:
    OdbcFailure(const std::string& text, std::string state)
        : std::runtime_error(text), m_state(std::move(state)) {}
    const std::string& State() const { return m_state; }
    // The server or the connection is away (as opposed to a refused statement).
    bool LostConnection() const;
    // The row is there already (a key that is taken).
    bool Duplicate() const;
    // The database will not take this row as it is (a value it refuses),
    // whereas another row would go in.
    bool RowRefused() const;

private:
    std::string m_state;
};

// The connection string with the value of every password key (PWD=,
// Password=) replaced by "***", for any message that shows it.
std::string MaskedConnection(const std::string& connection);

// A timestamp as the job log writes it ("2026-12-09T08:15:02.123Z", UTC).
struct Timestamp {
    std::string utc;
};

class OdbcStatement;

class OdbcConnection {
public:
    // Connects with the ODBC connection string (or "DSN=name"), waiting at
    // most `timeoutSeconds` for the login and for each statement later.
    OdbcConnection(const std::string& connection, int timeoutSeconds);
    ~OdbcConnection();
    OdbcConnection(const OdbcConnection&) = delete;
    OdbcConnection& operator=(const OdbcConnection&) = delete;

    // The server's product name ("PostgreSQL", "Microsoft SQL Server", ...).
    std::string DbmsName();
    // True when a table of that name is visible to this user.
    bool TableExists(const std::string& name);
    OdbcStatement Prepare(const std::string& sql);

private:
    friend class OdbcStatement;
    struct Handles;
    std::unique_ptr<Handles> m_handles;
    int m_timeoutSeconds;
};

class OdbcStatement {
public:
    ~OdbcStatement();
    OdbcStatement(OdbcStatement&& other) noexcept;
    OdbcStatement& operator=(OdbcStatement&&) = delete;
    OdbcStatement(const OdbcStatement&) = delete;

    // Parameters, numbered from 1 in the order of the statement's markers;
    // nullopt binds NULL. They are kept until the next Execute.
    void Bind(int number, const std::optional<std::string>& text);
    void Bind(int number, std::optional<std::int64_t> value);
    void Bind(int number, std::optional<double> value);
    void Bind(int number, const std::optional<Timestamp>& when);
    void Execute();
    // The next row of a result; false when there is none.
    bool Fetch();
    // Columns of the current row, numbered from 1; nullopt for NULL.
    std::optional<std::string> Text(int column);
    std::optional<std::int64_t> Integer(int column);
    std::optional<double> Real(int column);
    std::optional<Timestamp> Time(int column);

private:
    friend class OdbcConnection;
    struct Parameter;
    OdbcStatement(void* handle, int timeoutSeconds);
    Parameter& Slot(int number);

    void* m_handle;
    std::vector<std::unique_ptr<Parameter>> m_parameters;
};

}  // namespace velmora::shop
