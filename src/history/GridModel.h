// The grids' model: a fixed list of titled columns over a table model, each naming a table
// column (or none, then empty), centred, read-only when asked, with typed values checked.
#pragma once

#include <QAbstractTableModel>
#include <QPointer>
#include <QString>

#include <vector>

class QSqlTableModel;

namespace zeva {

struct TGridColumn {
    QString field; // the table column it shows
    QString title;
};

class TGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    TGridModel(QAbstractItemModel* source, std::vector<TGridColumn> columns, bool readOnly, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // The view asks for a submit when an edit ends (Enter) and when its cursor leaves a row. With
    // rows held, neither posts: the owner posts a row when the cursor leaves it.
    bool submit() override;
    void revert() override;
    void SetHoldRows(bool hold) { m_holdRows = hold; }
    bool RowDirty(int row) const;
    // A row still being inserted (not yet in the table); the table model marks it "*".
    bool IsNewRow(int row) const;

    QAbstractItemModel* source() const { return m_source; }
    // Drops a row's pending changes; the view, moving its cursor off a row that goes away, must not
    // post that very row meanwhile.
    void RevertRow(int row);
    bool Reverting() const { return m_reverting; }
    // The table column behind a grid column, -1 when the table has none.
    int SourceColumn(int column) const { return m_map[std::size_t(column)]; }
    int ColumnOf(const QString& field) const;
    // Texts longer than this show whole in the cell's tooltip.
    static constexpr int TooltipFrom = 16;
    // No column grows wider than this, whatever its texts.
    static constexpr int MaxColumnWidth = 260;

private:
    void remap();

    QPointer<QAbstractItemModel> m_source;
    std::vector<TGridColumn> m_columns;
    std::vector<int> m_map;   // source column per grid column
    std::vector<int> m_kinds; // what each grid column's values are
    bool m_readOnly;
    bool m_reverting = false;
    bool m_holdRows = false;
};

} // namespace zeva
