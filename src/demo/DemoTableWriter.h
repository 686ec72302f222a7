// Appending rows to one table of a demo company database: the small writer the demo generator
// fills every table with. Internal to the demo installation (the files that fill a company
// database).
#pragma once

#include "db/Db.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace peltorn::demo {

// Amounts of the demo data are whole cents.
using Cents = std::int64_t;

// One table of a company database, open for appending. Row() starts a record, the setters fill
// it (a field the table lacks raises the layer's "Field not found"), Post() writes it. With generic
// filling, every field is first given a plain value of its type, so that tables the merge only
// copies hold no empty columns.
class TTableWriter {
public:
    TTableWriter(db::TDbConnection& connection, const std::string& table, int year)
        : m_table(table), m_year(year) {
        m_table.SetConnection(&connection);
        m_table.SetTableName(table);
        m_table.Open();
    }
    TTableWriter& Row(bool generic = false) {
        m_table.Append();
        ++m_rows;
        if (generic) FillGeneric();
        return *this;
    }
    TTableWriter& Text(std::string_view field, std::string_view value) {
        m_table.FieldByName(field).SetAsString(value);
        return *this;
    }
    TTableWriter& Int(std::string_view field, int value) {
        m_table.FieldByName(field).SetAsInteger(value);
        return *this;
    }
    TTableWriter& Float(std::string_view field, double value) {
        m_table.FieldByName(field).SetAsFloat(value);
        return *this;
    }
    TTableWriter& Money(std::string_view field, Cents value) {
        m_table.FieldByName(field).SetAsCurrency(db::TCurrency::FromUnits(value * 100));
        return *this;
    }
    TTableWriter& Date(std::string_view field, int year, int month, int day) {
        m_table.FieldByName(field).SetAsDateTime(db::EncodeDate(year, month, day));
        return *this;
    }
    TTableWriter& Null(std::string_view field) {
        m_table.FieldByName(field).Clear();
        return *this;
    }
    void Post() { m_table.Post(); }
    int Rows() const { return m_rows; }

private:
    void FillGeneric() {
        const int n = m_rows;
        for (int i = 0; i < m_table.FieldCount(); ++i) {
            db::TField& f = m_table.Fields(i);
            const std::string& name = f.FieldName();
            switch (f.DataType()) {
                case db::TFieldType::ftString: {
                    std::string text;
                    if (name.find("DESC") != std::string::npos ||
                        name.find("NAME") != std::string::npos ||
                        name.find("REMARK") != std::string::npos) {
                        text = "Demo " + name + " " + std::to_string(n);
                    } else if (f.Size() == 1) {
                        text = "N";
                    } else {
                        std::string stem;
                        for (char c : name)
                            if (c != '_' && stem.size() < 3) stem += c;
                        text = stem + std::to_string(n);
                    }
                    f.SetAsString(text);
                    break;
                }
                case db::TFieldType::ftSmallint:
                case db::TFieldType::ftInteger: f.SetAsInteger(n); break;
                case db::TFieldType::ftFloat:
                case db::TFieldType::ftCurrency: f.SetAsFloat(((n * 37) % 97 + 1) * 5.25); break;
                case db::TFieldType::ftDate:
                case db::TFieldType::ftDateTime:
                    f.SetAsDateTime(db::EncodeDate(m_year, (n - 1) % 12 + 1, (n * 7) % 28 + 1));
                    break;
                case db::TFieldType::ftTime:
                    f.SetAsDateTime(0.375);  // 09:00
                    break;
                case db::TFieldType::ftBoolean: f.SetAsBoolean(n % 2 == 0); break;
                case db::TFieldType::ftMemo: f.SetAsString("Demo note " + std::to_string(n)); break;
                default:  // numbered by the layer (auto-increment) or binary: left alone
                    break;
            }
        }
    }

    db::TDbTable m_table;
    int m_year;
    int m_rows = 0;
};

}  // namespace peltorn::demo
