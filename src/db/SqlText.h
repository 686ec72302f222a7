// Reading statement texts: the tokens of a statement, the tables it names and its parameters,
// and the three statement forms the layer carries out itself (IF EXISTS ... THEN ... END IF,
// ALTER TABLE ... ALTER COLUMN, the catalogue view SYSTEM.COLUMNS).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace peltorn::db::detail {

// Upper-case names of the tables a statement reads or writes: the names after FROM (and its
// comma list), JOIN, UPDATE, INTO and TABLE, and the qualifiers of qualified column names.
std::vector<std::string> ReferencedTables(const std::string& sql);

// Parameter names (without the colon) in order of first appearance.
std::vector<std::string> ParameterNames(const std::string& sql);

struct IfExistsStatement {
    std::string Condition;  // the SELECT inside EXISTS ( )
    std::string Then;       // the statement after THEN
};
std::optional<IfExistsStatement> ParseIfExists(const std::string& sql);

struct AlterColumnStatement {
    std::string Table;
    std::string Column;
    std::string NewName;
    std::string NewType;
};
std::optional<AlterColumnStatement> ParseAlterColumn(const std::string& sql);

bool IsSelect(const std::string& sql);

}  // namespace peltorn::db::detail
