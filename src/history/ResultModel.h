// A read-only table over a fully fetched result, columns named by the result's columns.
#pragma once

#include "Database.h"

#include <QAbstractTableModel>

namespace zeva {

class TResultModel : public QAbstractTableModel {
public:
    explicit TResultModel(const TQueryResult& result, QObject* parent = nullptr)
        : QAbstractTableModel(parent), m_result(result)
    {
    }
    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : m_result.RecordCount();
    }
    int columnCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_result.columns().size());
    }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole))
            return {};
        return m_result.rows()[std::size_t(index.row())][index.column()];
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section < m_result.columns().size())
            return m_result.columns()[section];
        return QAbstractTableModel::headerData(section, orientation, role);
    }

private:
    TQueryResult m_result;
};

} // namespace zeva
