// db_bench: throughput of the record-at-a-time pattern of the merge (one FindKey, then Edit or
// Append, then Post, per record) against one bulk INSERT ... SELECT of the same rows, on a table
// of 100,000 rows with a three-field index, in a folder of free tables.
//
//   build/db_bench [rows] [folder]     (default 100000 rows, a temporary folder)
#include "db/Db.h"

#include <sys/resource.h>
#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

using namespace peltorn::db;
namespace fs = std::filesystem;

namespace {

TTableDef Table(const std::string& name) {
    TTableDef def;
    def.Name = name;
    def.Fields = {
        {"EMPCODE", TFieldType::ftString, 12, ""}, {"PERIOD", TFieldType::ftString, 6, ""},
        {"CYCLE", TFieldType::ftString, 1, ""},    {"ALLW_DED_CODE", TFieldType::ftString, 8, ""},
        {"AMOUNT", TFieldType::ftCurrency, 0, ""}, {"FAMOUNT", TFieldType::ftFloat, 0, ""},
        {"REMARK", TFieldType::ftString, 30, ""}};
    def.Indexes = {{"KEY", {"EMPCODE", "PERIOD", "CYCLE"}, false}};
    return def;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void Exec(TDbConnection& conn, const std::string& sql) {
    TDbQuery q("exec");
    q.SetConnection(&conn);
    q.SQL().Add(sql);
    q.ExecSQL();
}

}  // namespace

int main(int argc, char** argv) {
    int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
    fs::path dir =
        argc > 2 ? fs::path(argv[2])
                 : fs::temp_directory_path() / ("peltorn-db-bench-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);

    TDbConnection conn("bench");
    conn.SetConnectPath(dir.string());
    conn.Connect();
    CreateTable(conn, Table("SRC"));
    CreateTable(conn, Table("DEST"));
    CreateTable(conn, Table("BULK"));

    // Source rows: employee i, period 2024mm, cycle 1. The destination already holds every second
    // source key, so half of the records update and half are added.
    Exec(conn,
         "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i + 1 < " +
             std::to_string(rows) +
             ") INSERT INTO SRC SELECT printf('E%06d', i / 12), printf('2024%02d', i % 12 + 1), "
             "'1', 'BASIC', i * 1.5, i * 0.25, 'source row' FROM n");
    Exec(conn,
         "INSERT INTO DEST SELECT EMPCODE, PERIOD, CYCLE, 'OLD', 0, 0, 'old' FROM SRC WHERE "
         "rowid % 2 = 0");

    TDbQuery source("source");
    source.SetConnection(&conn);
    source.SQL().Add("SELECT * FROM SRC");
    TDbTable dest("dest");
    dest.SetConnection(&conn);
    dest.SetTableName("DEST");
    dest.SetIndexFieldNames("EMPCODE;PERIOD;CYCLE");

    auto start = std::chrono::steady_clock::now();
    source.Open();
    dest.Open();
    int updated = 0, added = 0;
    for (source.First(); !source.Eof(); source.Next()) {
        if (dest.FindKey({source.Fields(0).AsString(), source.Fields(1).AsString(),
                          source.Fields(2).AsString()})) {
            dest.Edit();
            ++updated;
        } else {
            dest.Append();
            ++added;
        }
        for (int i = 0; i < source.FieldCount(); ++i) {
            TField& f = source.Fields(i);
            dest.FieldByName(f.FieldName()).SetAsVariant(f.AsVariant());
        }
        dest.Post();
    }
    dest.FlushFileBuffers();
    double recordTime = Seconds(start);
    source.Close();
    dest.Close();

    start = std::chrono::steady_clock::now();
    Exec(conn, "INSERT INTO BULK SELECT * FROM SRC");
    double bulkTime = Seconds(start);

    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("rows                      %d (updated %d, added %d)\n", rows, updated, added);
    std::printf("record at a time          %.3f s  %.0f records/s\n", recordTime,
                rows / recordTime);
    std::printf("bulk INSERT ... SELECT    %.3f s  %.0f records/s\n", bulkTime, rows / bulkTime);
    std::printf("ratio record/bulk         %.1f\n", recordTime / bulkTime);
    std::printf("peak memory               %.1f MB\n", usage.ru_maxrss / 1024.0);
    conn.Disconnect();
    if (argc <= 2) fs::remove_all(dir);
    return 0;
}
