// TDbQuery: one SQL statement on a connection, with named parameters (":PERIOD").
//
// A SELECT opens a read-only cursor over its result; the rows are walked from the statement, not
// held in memory (First runs the statement again). Other statements run with ExecSQL.
// On a folder of free tables the statement reaches the table files it names; an encrypted table
// needs the statement password (EnableEncryption) or its own table password (SetTablePassword).
//
// The layer also speaks three statement forms that SQLite itself does not:
//   IF EXISTS (SELECT ...) THEN statement; END IF
//   the catalogue view SYSTEM.COLUMNS (PARENT, Name, Field_Type; 15 = auto-increment)
//   ALTER TABLE t ALTER COLUMN c c INTEGER   (a rebuild that keeps rows, values and indexes)
#pragma once

#include "db/DbDataSet.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace peltorn::db {

namespace detail {
class QueryCursor;
}

// The statement text as lines; any change closes the query.
class TStringList {
public:
    void Clear();
    void Add(const std::string& line);
    const std::vector<std::string>& Lines() const { return m_lines; }
    std::string Text() const;  // lines joined with a line break
    int Count() const { return static_cast<int>(m_lines.size()); }
    std::function<void()> OnChange;

private:
    std::vector<std::string> m_lines;
};

class TParam {
public:
    explicit TParam(std::string name) : m_name(std::move(name)) {}
    const std::string& Name() const { return m_name; }
    void SetAsString(std::string_view value) {
        m_value = std::string(value);
        m_bound = true;
    }
    void SetAsInteger(std::int32_t value) {
        m_value = TDbValue(value);
        m_bound = true;
    }
    void SetAsFloat(double value) {
        m_value = TDbValue(value);
        m_bound = true;
    }
    void Clear() {
        m_value = TDbValue();
        m_bound = true;
    }
    const TDbValue& Value() const { return m_value; }
    bool Bound() const { return m_bound; }

private:
    std::string m_name;
    TDbValue m_value;
    bool m_bound = false;
};

class TDbQuery : public TDataSet {
public:
    explicit TDbQuery(std::string name = {});
    ~TDbQuery() override;

    TStringList& SQL() { return m_sql; }

    // Parameters are found in any letter case; a name the statement does not have raises
    // EDbDatasetError "Parameter 'X' not found". A parameter without a value is passed as empty
    // text.
    TParam& ParamByName(std::string_view name);

    // On a closed query: mark it prepared and forget the rows affected. On an open one:
    // EDbDatasetError "Cannot perform this operation on an open dataset".
    void Prepare();
    // On a closed query: run the statement; any result rows are discarded. On an open one: the
    // same error as Prepare.
    void ExecSQL();
    int RowsAffected() const { return m_rowsAffected; }

    // The password every encrypted free table of the statement is opened with; connects the
    // connection. Forgotten when the connection disconnects.
    void EnableEncryption(const std::string& password);
    // The password of one named table (any letter case). Forgotten on disconnect.
    void SetTablePassword(const std::string& table, const std::string& password);

    void First() override;
    void Next() override;
    // Moves distance rows on; the rows passed over are not read into the fields. At the end of the
    // rows the dataset is at its end, the last row read staying current.
    void MoveBy(int distance);
    void Prior() override;
    void Last() override;
    int RecordCount() override;

    void Append() override;
    void Edit() override;
    void Delete() override;

    void ConnectionClosing() override;

    // Layer internals.
    const std::string& StatementPassword() const { return m_statementPassword; }
    const std::map<std::string, std::string>& TablePasswords() const { return m_tablePasswords; }

protected:
    void DoOpen() override;
    void DoClose() override;
    void DoPost() override;
    void DoDelete() override;

private:
    void SqlChanged();
    void SyncParams();
    void LoadRow();

    TStringList m_sql;
    std::vector<std::unique_ptr<TParam>> m_params;
    std::string m_paramsFor;  // statement text the parameter list was made for
    int m_rowsAffected = 0;
    bool m_prepared = false;
    std::string m_statementPassword;
    std::map<std::string, std::string> m_tablePasswords;  // upper-case table name -> password
    std::unique_ptr<detail::QueryCursor> m_cursor;
    friend class detail::QueryCursor;
    int m_recordCount = -1;
    int m_position = 0;
};

}  // namespace peltorn::db
