// A line series that draws millions of points at screen speed.
#pragma once

#include "ChartMath.h"

#include <qcustomplot.h>

namespace zeva {

// Drawn per pixel column as the first, the lowest, the highest and the last point in it, the
// extremes read from a block summary kept as points come (appending and dropping the oldest keep
// it; anything else rebuilds it at the next paint). A break (a NaN value) in a column stays a
// break. Where a column holds a few points they are drawn as they are.
class TDecimatedGraph : public QCPGraph {
    Q_OBJECT
public:
    TDecimatedGraph(QCPAxis* keyAxis, QCPAxis* valueAxis);

    // A point behind every point of an equal key (the order of arrival among equal keys).
    void Add(double key, double value);
    // The first point of that key; the summary follows when it was the first of all.
    void RemoveFirstOf(double key);
    void Clear();
    // Lowest and highest value over [from, to] of the keys, NaN ignored.
    TMinMaxIndex::TExtremes ValueRange(double from, double to) const;

protected:
    void getOptimizedLineData(QVector<QCPGraphData>* lineData, const QCPGraphDataContainer::const_iterator& begin,
                              const QCPGraphDataContainer::const_iterator& end) const override;

private:
    // The summary matches the points (a change through data() is caught by the count).
    void sync() const;
    double valueAt(std::size_t i) const { return (mDataContainer->constBegin() + qsizetype(i))->value; }

    mutable TMinMaxIndex m_index;
    mutable bool m_stale = false;
};

} // namespace zeva
