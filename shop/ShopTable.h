// The shop record's table, velmora_jobs: one row per job, with the fields of
// the job log's record, keyed by job_id. Column names are the log's keys in
// snake case, except where a key is a reserved word in some database:
// file -> file_name, list -> list_name, offset -> flash_offset. Times are UTC.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/JobLog.h"
#include "shop/Odbc.h"

namespace velmora::shop {

inline constexpr const char* kJobTable = "velmora_jobs";

// The CREATE TABLE statement for the database product `dbms` (as ODBC names
// it): PostgreSQL, SQL Server and MariaDB/MySQL get their own time and text
// types, any other the standard ones.
std::string CreateTableSql(const std::string& dbms);

class ShopTable {
public:
    explicit ShopTable(OdbcConnection& connection) : m_connection(connection) {}

    // Creates the table when it is missing. Throws OdbcFailure, with a hint
    // at the owner when this user may not create it.
    void Ensure();
    // The ones of `jobIds` that have a row already.
    std::set<std::string> Existing(const std::vector<std::string>& jobIds);
    // Adds the record's row. Texts longer than their column are cut there
    // (the local log keeps them whole).
    void Insert(const JobRecord& record);
    // Every row whose start lies in [since, until) (either may be empty: no
    // bound), oldest first.
    std::vector<JobRecord> Read(const std::string& sinceUtc, const std::string& untilUtc);
    // False when the table is not there (a shop that has not sent a job yet).
    bool Exists();

private:
    OdbcConnection& m_connection;
    std::optional<OdbcStatement> m_insert;
};

}  // namespace velmora::shop
