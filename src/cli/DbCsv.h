// CSV (RFC 4180) for `peltorn db`: reading a file into rows, writing rows, and the text form of a
// field value in both directions. Dates are written YYYY-MM-DD, money with up to four decimals,
// numbers with "." as decimal separator whatever the locale; a null is an empty cell.
#pragma once

#include "db/Db.h"

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace peltorn::cli {

// One record of a CSV file and its row number in the file (the header is row 1).
struct TCsvRow {
    int Row = 0;
    std::vector<std::string> Cells;
    bool Blank = false;  // a line with nothing on it (one empty cell that was not quoted)
};

// Splits text into records: fields separated by commas, records by CRLF or LF, fields may be
// quoted with '"' (a doubled quote inside stands for one) and then hold commas and line breaks.
// The line break after the last record is optional; a leading UTF-8 byte-order mark is skipped.
// Blank lines at the end of the text are no records (editors and spreadsheet programs often
// leave one); a blank line before the last record stays a record, marked Blank.
// Raises std::runtime_error naming the row on an unterminated quote or text after a closing
// quote.
std::vector<TCsvRow> ParseCsv(std::string_view text);

// Writes one record, quoting the cells that need it, ended by CRLF.
void WriteCsvRow(std::ostream& out, const std::vector<std::string>& cells);

// The text of the current value of a field: empty for null, otherwise by the field's type (or,
// for a computed column of unknown type, by the stored value). A value the field's type cannot
// hold (money beyond its range, infinity, an integer beyond 32 bits, a number no date is) is
// written as stored ("1000000000000000", "INF"), so that a damaged table can be inspected; the
// import refuses such values again.
std::string FieldText(const db::TField& field);

// Checks that text fits a field of this definition and assigns it to field (empty text: null).
// Raises std::runtime_error with the reason ("'abc' is not a number") on a value that does not
// fit: text for a number, an invalid date, text longer than a character field, more than four
// decimals for money. With field == nullptr only checks.
void AssignFieldText(const db::TFieldDef& def, std::string_view text, db::TField* field);

}  // namespace peltorn::cli
