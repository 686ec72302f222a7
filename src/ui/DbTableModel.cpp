#include "ui/DbTableModel.h"

#include <algorithm>
#include <exception>

namespace peltorn::ui {

TDbTableModel::TDbTableModel(db::TDbTable& table, std::vector<TGridColumn> columns,
                             std::vector<std::string> keyFields, support::IOperator& op,
                             QObject* parent)
    : QAbstractTableModel(parent),
      m_table(table),
      m_columns(std::move(columns)),
      m_keyFields(std::move(keyFields)),
      m_operator(op) {
    Reload();
}

bool TDbTableModel::Editing() const {
    return m_table.Active() && (m_table.State() == db::TDataSetState::dsEdit ||
                                m_table.State() == db::TDataSetState::dsInsert);
}

std::vector<std::string> TDbTableModel::CurrentKey() const {
    std::vector<std::string> key;
    for (const auto& f : m_keyFields)
        key.push_back(const_cast<db::TDbTable&>(m_table).FieldByName(f).AsString());
    return key;
}

QString TDbTableModel::LiveValue(int column) const {
    auto& table = const_cast<db::TDbTable&>(m_table);
    return QString::fromStdString(
        table.FieldByName(m_columns[static_cast<std::size_t>(column)].Field).AsString());
}

void TDbTableModel::Reload() {
    if (Editing()) {
        // Reading the rows would move the cursor and post the edit: the edited row is shown live
        // and the others keep their last values.
        if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
        return;
    }
    beginResetModel();
    m_rows.clear();
    m_currentRow = -1;
    try {
        if (m_table.Active()) {
            const bool had = m_table.HasCurrentRecord();
            std::vector<std::string> current = had ? CurrentKey() : std::vector<std::string>{};
            for (m_table.First(); !m_table.Eof(); m_table.Next()) {
                TRow row;
                for (std::size_t c = 0; c < m_columns.size(); ++c)
                    row.Values.push_back(LiveValue(static_cast<int>(c)));
                row.Key = CurrentKey();
                m_rows.push_back(std::move(row));
            }
            FindRow(current);
        }
    } catch (const std::exception& e) {
        endResetModel();
        m_operator.ReportError(e.what());
        return;
    }
    endResetModel();
}

void TDbTableModel::FindRow(const std::vector<std::string>& key) {
    m_currentRow = -1;
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i].Key == key) {
            MoveTo(static_cast<int>(i));
            return;
        }
    }
    if (!m_rows.empty()) MoveTo(0);
}

bool TDbTableModel::MoveTo(int row) {
    if (!m_table.Active() || row < 0) return false;
    // The row being edited or inserted is current already, stored or not.
    if (row == m_currentRow && (Editing() || m_table.HasCurrentRecord())) return true;
    if (row >= static_cast<int>(m_rows.size())) return false;
    // Posting reads the rows again, in index order: the row asked for is found by its key.
    const std::vector<std::string> key = m_rows[static_cast<std::size_t>(row)].Key;
    if (Editing()) {
        if (!PostPending()) return false;
        const auto found = std::find_if(m_rows.begin(), m_rows.end(),
                                        [&key](const TRow& r) { return r.Key == key; });
        if (found == m_rows.end()) return false;
        row = static_cast<int>(found - m_rows.begin());
    }
    bool found = false;
    if (!Try([&] { found = m_table.FindKey(key); }) || !found) return false;
    m_currentRow = row;
    return true;
}

bool TDbTableModel::CancelPending() {
    if (!Editing()) return false;
    Try([this] { m_table.Cancel(); });
    Reload();
    return true;
}

bool TDbTableModel::PostPending() {
    if (!Editing()) return true;
    if (!Try([this] { m_table.Post(); })) return false;
    Reload();
    return true;
}

bool TDbTableModel::AppendRow() {
    if (m_readOnly || !m_table.Active()) return false;
    if (!PostPending()) return false;
    if (!Try([this] { m_table.Append(); })) return false;
    const int row = static_cast<int>(m_rows.size());
    beginInsertRows({}, row, row);
    TRow fresh;
    for (std::size_t c = 0; c < m_columns.size(); ++c)
        fresh.Values.push_back(LiveValue(static_cast<int>(c)));
    m_rows.push_back(std::move(fresh));
    m_currentRow = row;
    endInsertRows();
    return true;
}

void TDbTableModel::SetReadOnly(bool readOnly) { m_readOnly = readOnly; }

bool TDbTableModel::Try(const std::function<void()>& action) {
    try {
        action();
        return true;
    } catch (const std::exception& e) {
        m_operator.ReportError(e.what());
        return false;
    }
}

bool TDbTableModel::Guard(const std::function<void()>& handler) {
    const bool ok = Try(handler);
    Reload();
    return ok;
}

int TDbTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int TDbTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant TDbTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(m_rows.size())) return {};
    const auto& column = m_columns[static_cast<std::size_t>(index.column())];
    const bool live = index.row() == m_currentRow && Editing();
    QString value;
    try {
        value = live ? LiveValue(index.column())
                     : m_rows[static_cast<std::size_t>(index.row())]
                           .Values[static_cast<std::size_t>(index.column())];
    } catch (const std::exception&) {
        return {};
    }
    if (column.CheckBox) {
        if (role == Qt::CheckStateRole) return value.trimmed() == "T" ? Qt::Checked : Qt::Unchecked;
        return {};
    }
    if (role == Qt::DisplayRole || role == Qt::EditRole) return value;
    return {};
}

QVariant TDbTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal && section >= 0 &&
        section < static_cast<int>(m_columns.size()))
        return m_columns[static_cast<std::size_t>(section)].Title;
    return {};
}

Qt::ItemFlags TDbTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    const auto& column = m_columns[static_cast<std::size_t>(index.column())];
    if (m_readOnly || column.ReadOnly) return f;
    return f | (column.CheckBox ? Qt::ItemIsUserCheckable : Qt::ItemIsEditable);
}

bool TDbTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || m_readOnly) return false;
    const auto& column = m_columns[static_cast<std::size_t>(index.column())];
    if (column.ReadOnly) return false;
    if (!MoveTo(index.row()) && !(index.row() == m_currentRow && Editing())) return false;
    try {
        if (!Editing()) m_table.Edit();
        db::TField& field = m_table.FieldByName(column.Field);
        if (column.CheckBox) {
            if (role != Qt::CheckStateRole) return false;
            field.SetAsString(value.toInt() == Qt::Checked ? "T" : "N");
        } else {
            if (role != Qt::EditRole) return false;
            const std::string text = value.toString().trimmed().toStdString();
            if (text.empty())
                field.Clear();
            else
                field.SetAsString(text);
        }
    } catch (const std::exception& e) {
        m_operator.ReportError(e.what());
        return false;
    }
    emit dataChanged(this->index(index.row(), 0), this->index(index.row(), columnCount() - 1));
    return true;
}

}  // namespace peltorn::ui
