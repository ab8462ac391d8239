// The grids' model.
#include "GridModel.h"

#include "Application.h"
#include "Convert.h"

#include <QSqlField>
#include <QSqlRecord>
#include <QSqlTableModel>

namespace zeva {

namespace {

// The kind of a value a table column holds, by its declared type.
enum class Kind { Text, Whole, Number, Flag };

Kind kindOf(const QAbstractItemModel* source, int column)
{
    auto* table = qobject_cast<const QSqlTableModel*>(source);
    if (!table || column < 0)
        return Kind::Text;
    QString name = table->record().fieldName(column);
    if (name == QLatin1String("CFlag"))
        return Kind::Flag;
    QSqlRecord rec = table->database().record(table->tableName());
    QSqlField f = rec.field(name);
    switch (f.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::LongLong: return Kind::Whole;
    case QMetaType::Double: return Kind::Number;
    default: break;
    }
    // NUMERIC columns come back as strings from the driver: the temperatures.
    static const QStringList numeric{"T1", "T2", "T3", "T4", "T5", "T6", "T7", "AAtoneT", "BAtoneT", "CAtoneT",
                                     "DAtoneT", "AHightT", "BHightT", "CHightT", "DHightT"};
    return numeric.contains(name) ? Kind::Number : Kind::Text;
}

QString shown(const QVariant& v)
{
    if (v.isNull())
        return {};
    if (v.typeId() == QMetaType::Double)
        return QString::number(v.toDouble(), 'g', 15);
    return v.toString();
}

} // namespace

TGridModel::TGridModel(QAbstractItemModel* source, std::vector<TGridColumn> columns, bool readOnly, QObject* parent)
    : QAbstractTableModel(parent), m_source(source), m_columns(std::move(columns)), m_readOnly(readOnly)
{
    remap();
    connect(source, &QAbstractItemModel::modelAboutToBeReset, this, [this] { beginResetModel(); });
    connect(source, &QAbstractItemModel::modelReset, this, [this] {
        remap();
        endResetModel();
    });
    connect(source, &QAbstractItemModel::rowsAboutToBeInserted, this,
            [this](const QModelIndex&, int first, int last) { beginInsertRows({}, first, last); });
    connect(source, &QAbstractItemModel::rowsInserted, this, [this] { endInsertRows(); });
    connect(source, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex&, int first, int last) { beginRemoveRows({}, first, last); });
    connect(source, &QAbstractItemModel::rowsRemoved, this, [this] { endRemoveRows(); });
    connect(source, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex& a, const QModelIndex& b) {
        emit dataChanged(index(a.row(), 0), index(b.row(), columnCount() - 1));
    });
    connect(source, &QAbstractItemModel::headerDataChanged, this,
            [this](Qt::Orientation o, int a, int b) { emit headerDataChanged(o, a, b); });
    connect(source, &QAbstractItemModel::layoutChanged, this, [this] { emit layoutChanged(); });
}

void TGridModel::remap()
{
    m_map.clear();
    m_kinds.clear();
    auto* table = qobject_cast<QSqlTableModel*>(m_source.data());
    for (const TGridColumn& c : m_columns) {
        int col = -1;
        if (table)
            col = table->record().indexOf(c.field);
        else
            for (int i = 0; i < m_source->columnCount(); ++i)
                if (m_source->headerData(i, Qt::Horizontal, Qt::DisplayRole).toString() == c.field)
                    col = i;
        m_map.push_back(col);
        m_kinds.push_back(int(kindOf(m_source, col)));
    }
}

int TGridModel::ColumnOf(const QString& field) const
{
    for (std::size_t i = 0; i < m_columns.size(); ++i)
        if (m_columns[i].field == field)
            return int(i);
    return -1;
}

int TGridModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() || !m_source ? 0 : m_source->rowCount();
}

int TGridModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant TGridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    int col = SourceColumn(index.column());
    if (col < 0)
        return {}; // a column the shown table lacks stays empty
    QVariant v = m_source->data(m_source->index(index.row(), col), Qt::EditRole);
    if (Kind(m_kinds[std::size_t(index.column())]) == Kind::Flag) {
        if (role == Qt::CheckStateRole)
            return QVariant(v.toInt() ? Qt::Checked : Qt::Unchecked); // empty (a new row) shows unchecked
        return {};
    }
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return shown(v); // every editor is a text box; setData checks the text
    if (role == Qt::ToolTipRole) {
        // Column widths are capped; a long text is read whole here.
        QVariant text = shown(v);
        return text.toString().size() > TooltipFrom ? text : QVariant();
    }
    return {};
}

bool TGridModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    int col = index.isValid() ? SourceColumn(index.column()) : -1;
    if (col < 0 || m_readOnly)
        return false;
    QModelIndex target = m_source->index(index.row(), col);
    Kind kind = Kind(m_kinds[std::size_t(index.column())]);
    if (kind == Kind::Flag) {
        if (role != Qt::CheckStateRole)
            return false;
        return m_source->setData(target, value.toInt() == Qt::Checked ? 1 : 0, Qt::EditRole);
    }
    if (role != Qt::EditRole)
        return false;
    QString text = value.toString().trimmed();
    QVariant stored = text;
    try {
        if (text.isEmpty())
            stored = QVariant();
        else if (kind == Kind::Whole)
            stored = StrToInt(text);
        else if (kind == Kind::Number)
            stored = StrToFloat(text);
    } catch (const EConvertError& e) {
        // A value its column cannot hold is refused when the cell is left.
        ShowErrorBox(QString::fromUtf8(e.what()));
        return false;
    }
    // An address beyond one byte would be polled as another instrument's.
    if (m_columns[std::size_t(index.column())].field == QLatin1String("ApparatusAddress") && !stored.isNull() &&
        (stored.toLongLong() < 0 || stored.toLongLong() > 255)) {
        ShowErrorBox(QStringLiteral("'%1' is not a valid bus address (0..255)").arg(text));
        return false;
    }
    return m_source->setData(target, stored, Qt::EditRole);
}

QVariant TGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && section >= 0 && section < columnCount()) {
        if (role == Qt::DisplayRole)
            return m_columns[std::size_t(section)].title;
        if (role == Qt::TextAlignmentRole)
            return int(Qt::AlignCenter);
        return {};
    }
    if (orientation == Qt::Vertical && m_source)
        return m_source->headerData(section, orientation, role);
    return {};
}

Qt::ItemFlags TGridModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    int col = index.isValid() ? SourceColumn(index.column()) : -1;
    if (m_readOnly || col < 0)
        return f;
    if (Kind(m_kinds[std::size_t(index.column())]) == Kind::Flag)
        return f | Qt::ItemIsUserCheckable;
    return f | Qt::ItemIsEditable;
}

bool TGridModel::submit()
{
    if (m_reverting || m_holdRows)
        return true;
    return m_source ? m_source->submit() : false;
}

bool TGridModel::RowDirty(int row) const
{
    auto* table = qobject_cast<QSqlTableModel*>(m_source.data());
    if (!table || row < 0 || row >= table->rowCount())
        return false;
    for (int c = 0; c < table->columnCount(); ++c)
        if (table->isDirty(table->index(row, c)))
            return true;
    return IsNewRow(row);
}

bool TGridModel::IsNewRow(int row) const
{
    return m_source && m_source->headerData(row, Qt::Vertical).toString() == QLatin1String("*");
}

void TGridModel::RevertRow(int row)
{
    auto* table = qobject_cast<QSqlTableModel*>(m_source.data());
    if (!table)
        return;
    m_reverting = true;
    table->revertRow(row);
    m_reverting = false;
}

void TGridModel::revert()
{
    if (m_source)
        m_source->revert();
}

} // namespace zeva
