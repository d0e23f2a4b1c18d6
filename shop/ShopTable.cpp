#include "shop/ShopTable.h"

#include <array>

#include "base/TextFormat.h"

namespace velmora::shop {

namespace {

enum class Kind { Key, Text, Time, Integer, Real };

struct Column {
    const char* name;
    Kind kind;
    std::size_t length;  // characters, for texts
};

// In the order of the record's fields; Bind and Row below follow it.
constexpr std::array kColumns = {
    Column{"job_id", Kind::Key, 36},        Column{"bench", Kind::Text, 255},
    Column{"tool_version", Kind::Text, 64}, Column{"started", Kind::Time, 0},
    Column{"ended", Kind::Time, 0},         Column{"port", Kind::Text, 1024},
    Column{"vendor_id", Kind::Text, 16},    Column{"product_id", Kind::Text, 16},
    Column{"serial", Kind::Text, 255},      Column{"file_name", Kind::Text, 1024},
    Column{"size", Kind::Integer, 0},       Column{"sha256", Kind::Text, 64},
    Column{"list_name", Kind::Text, 1024},  Column{"list_sha256", Kind::Text, 64},
    Column{"type", Kind::Text, 32},         Column{"flash_offset", Kind::Integer, 0},
    Column{"bytes_sent", Kind::Integer, 0}, Column{"seconds", Kind::Real, 0},
    Column{"outcome", Kind::Text, 64},      Column{"message", Kind::Text, 1024},
};

// The first `limit` characters of UTF-8 text.
std::string Cut(const std::string& text, std::size_t limit) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && chars++ == limit) {
            return text.substr(0, i);
        }
    }
    return text;
}

std::string ColumnList() {
    std::string list;
    for (const Column& c : kColumns) {
        list += (list.empty() ? "" : ", ") + std::string(c.name);
    }
    return list;
}

std::string Markers(std::size_t count) {
    std::string markers;
    for (std::size_t i = 0; i < count; ++i) {
        markers += i == 0 ? "?" : ", ?";
    }
    return markers;
}

std::optional<std::string> TextOf(const std::string& text, std::size_t column) {
    if (text.empty()) {
        return std::nullopt;
    }
    return Cut(ValidUtf8(text), kColumns[column].length);
}

std::optional<Timestamp> TimeOf(const std::string& utc) {
    return utc.empty() ? std::nullopt : std::optional<Timestamp>(Timestamp{utc});
}

void Bind(OdbcStatement& s, const JobRecord& r) {
    int n = 0;
    const auto text = [&](const std::string& value) {
        s.Bind(n + 1, TextOf(value, static_cast<std::size_t>(n)));
        ++n;
    };
    const auto integer = [&](std::optional<std::int64_t> value) { s.Bind(++n, value); };
    text(r.jobId);
    text(r.bench);
    text(r.toolVersion);
    s.Bind(++n, TimeOf(r.started));
    s.Bind(++n, TimeOf(r.ended));
    text(r.port);
    text(r.vendorId);
    text(r.productId);
    text(r.serial);
    text(r.file);
    integer(r.size ? std::optional<std::int64_t>(*r.size) : std::nullopt);
    text(r.sha256);
    text(r.list);
    text(r.listSha256);
    text(r.type);
    integer(r.offset ? std::optional<std::int64_t>(*r.offset) : std::nullopt);
    integer(static_cast<std::int64_t>(r.bytesSent));
    s.Bind(++n, std::optional<double>(r.seconds));
    text(r.outcome);
    text(r.message);
}

JobRecord Row(OdbcStatement& s) {
    int n = 0;
    const auto text = [&] { return s.Text(++n).value_or(""); };
    const auto integer = [&] { return s.Integer(++n); };
    JobRecord r;
    r.jobId = text();
    r.bench = text();
    r.toolVersion = text();
    r.started = s.Time(++n).value_or(Timestamp{}).utc;
    r.ended = s.Time(++n).value_or(Timestamp{}).utc;
    r.port = text();
    r.vendorId = text();
    r.productId = text();
    r.serial = text();
    r.file = text();
    if (const auto size = integer()) {
        r.size = static_cast<std::uint64_t>(*size);
    }
    r.sha256 = text();
    r.list = text();
    r.listSha256 = text();
    r.type = text();
    if (const auto offset = integer()) {
        r.offset = static_cast<std::uint32_t>(*offset);
    }
    r.bytesSent = static_cast<std::uint64_t>(integer().value_or(0));
    r.seconds = s.Real(++n).value_or(0.0);
    r.outcome = text();
    r.message = text();
    return r;
}

struct Types {
    const char* time;
    const char* text;
    const char* real;
};

Types TypesFor(const std::string& dbms) {
    const std::string name = AsciiLower(dbms);
    if (name.find("postgres") != std::string::npos) {
        return {"TIMESTAMP(3)", "VARCHAR", "DOUBLE PRECISION"};
    }
    if (name.find("sql server") != std::string::npos) {
        return {"DATETIME2(3)", "NVARCHAR", "FLOAT"};
    }
    if (name.find("mysql") != std::string::npos || name.find("mariadb") != std::string::npos) {
        return {"DATETIME(3)", "VARCHAR", "DOUBLE"};
    }
    return {"TIMESTAMP", "VARCHAR", "DOUBLE PRECISION"};
}

}  // namespace

std::string CreateTableSql(const std::string& dbms) {
    const Types types = TypesFor(dbms);
    std::string sql = std::string("CREATE TABLE ") + kJobTable + " (";
    for (const Column& c : kColumns) {
        sql += c.kind == Kind::Key ? "" : ", ";
        sql += std::string(c.name) + " ";
        switch (c.kind) {
            case Kind::Key:
                sql += "CHAR(" + std::to_string(c.length) + ") NOT NULL PRIMARY KEY";
                break;
            case Kind::Text:
                sql += std::string(types.text) + "(" + std::to_string(c.length) + ")";
                break;
            case Kind::Time:
                sql += types.time;
                break;
            case Kind::Integer:
                sql += "BIGINT";
                break;
            case Kind::Real:
                sql += types.real;
                break;
        }
    }
    return sql + ")";
}

bool ShopTable::Exists() {
    return m_connection.TableExists(kJobTable);
}

void ShopTable::Ensure() {
    if (Exists()) {
        return;
    }
    try {
        m_connection.Prepare(CreateTableSql(m_connection.DbmsName())).Execute();
    } catch (const OdbcFailure& failure) {
        if (failure.LostConnection()) {
            throw;
        }
        if (Exists()) {
            return;  // another bench made it meanwhile
        }
        throw OdbcFailure(std::string("the table ") + kJobTable +
                              " is missing and this user may not create it (" + failure.what() +
                              "); have the database's owner create it once, as the README shows",
                          failure.State());
    }
}

std::set<std::string> ShopTable::Existing(const std::vector<std::string>& jobIds) {
    std::set<std::string> found;
    constexpr std::size_t kChunk = 50;
    for (std::size_t first = 0; first < jobIds.size(); first += kChunk) {
        const std::size_t count = std::min(kChunk, jobIds.size() - first);
        OdbcStatement select = m_connection.Prepare(std::string("SELECT job_id FROM ") + kJobTable +
                                                    " WHERE job_id IN (" + Markers(count) + ")");
        for (std::size_t i = 0; i < count; ++i) {
            select.Bind(static_cast<int>(i + 1), std::optional<std::string>(jobIds[first + i]));
        }
        select.Execute();
        while (select.Fetch()) {
            std::string id = select.Text(1).value_or("");
            id.erase(id.find_last_not_of(' ') + 1);
            found.insert(id);
        }
    }
    return found;
}

void ShopTable::Insert(const JobRecord& record) {
    if (!m_insert) {
        m_insert.emplace(m_connection.Prepare(std::string("INSERT INTO ") + kJobTable + " (" +
                                              ColumnList() + ") VALUES (" +
                                              Markers(kColumns.size()) + ")"));
    }
    Bind(*m_insert, record);
    m_insert->Execute();
}

std::vector<JobRecord> ShopTable::Read(const std::string& sinceUtc, const std::string& untilUtc) {
    std::string sql = "SELECT " + ColumnList() + " FROM " + kJobTable;
    std::vector<std::string> bounds;
    if (!sinceUtc.empty()) {
        sql += " WHERE started >= ?";
        bounds.push_back(sinceUtc);
    }
    if (!untilUtc.empty()) {
        sql += bounds.empty() ? " WHERE started < ?" : " AND started < ?";
        bounds.push_back(untilUtc);
    }
    OdbcStatement select = m_connection.Prepare(sql + " ORDER BY started, job_id");
    for (std::size_t i = 0; i < bounds.size(); ++i) {
        select.Bind(static_cast<int>(i + 1), TimeOf(bounds[i]));
    }
    select.Execute();
    std::vector<JobRecord> records;
    while (select.Fetch()) {
        records.push_back(Row(select));
    }
    return records;
}

}  // namespace velmora::shop
