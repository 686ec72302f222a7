// A data-aware grid's model over one table of the main database (MERGRHD or MERGEDTL).
//
// The set-up tables are small, so the model keeps the rows as last read, each with its key, and
// positions the table on a row by that key when the grid's current row changes. The row being
// edited or inserted is read live from the table's record buffer. A row is written (posted) when
// the grid's current row changes, when the grid loses the focus (the page's exit handlers) or
// by the page's own operations; a post that fails (a second group with the same NO) is reported
// by the standard error report and the row stays in editing.
#pragma once

#include "db/Db.h"
#include "support/Operator.h"

#include <QAbstractTableModel>

#include <functional>
#include <string>
#include <vector>

namespace peltorn::ui {

struct TGridColumn {
    QString Title;  // two-line titles use "\n"
    std::string Field;
    int Width = 10;         // in characters
    bool CheckBox = false;  // shown as a check box ticked for "T"
    bool ReadOnly = false;  // lookup fields
};

class TDbTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // keyFields: the fields of the table's index order ("NO", or "NO", "CODE"), used to find a
    // row again.
    TDbTableModel(db::TDbTable& table, std::vector<TGridColumn> columns,
                  std::vector<std::string> keyFields, support::IOperator& op,
                  QObject* parent = nullptr);

    db::TDbTable& Table() { return m_table; }
    const std::vector<TGridColumn>& Columns() const { return m_columns; }

    // Reads the rows again, keeping the table on its current record (or its edit).
    void Reload();
    // The row the table's current record is shown in (-1 with none).
    int CurrentRow() const { return m_currentRow; }
    // Makes row current in the table. A pending edit of another row is posted first; when that
    // fails the error is reported and false is returned (the edit stays). Posting puts the rows
    // in index order again, so the row asked for may then be shown at another position:
    // CurrentRow() tells where.
    bool MoveTo(int row);
    // The grid's own row insertion: a new record at the end, in editing.
    bool AppendRow();
    // Posts a pending edit; reports a failure and returns false.
    bool PostPending();
    // Drops a pending edit or insertion (Esc in the grid); false when there was none.
    bool CancelPending();
    bool Editing() const;

    void SetReadOnly(bool readOnly);
    bool ReadOnly() const { return m_readOnly; }

    // Runs an engine handler and reports what it raises with the standard error report; the rows
    // are read again afterwards. Returns false when the handler raised.
    bool Guard(const std::function<void()>& handler);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

private:
    struct TRow {
        std::vector<QString> Values;
        std::vector<std::string> Key;
    };
    // Runs action; what it raises goes to the standard error report and false is returned.
    bool Try(const std::function<void()>& action);
    QString LiveValue(int column) const;
    std::vector<std::string> CurrentKey() const;
    void FindRow(const std::vector<std::string>& key);

    db::TDbTable& m_table;
    std::vector<TGridColumn> m_columns;
    std::vector<std::string> m_keyFields;
    support::IOperator& m_operator;
    std::vector<TRow> m_rows;
    int m_currentRow = -1;
    bool m_readOnly = false;
};

}  // namespace peltorn::ui
