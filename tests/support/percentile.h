#ifndef PERCENTILE_H
#define PERCENTILE_H

#include <QVector>

#include <algorithm>

inline double percentile(QVector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(qMin(values.size() - 1, int(p * values.size())));
}

#endif // PERCENTILE_H
