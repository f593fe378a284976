#ifndef METERCTL_LINKFIGURES_H
#define METERCTL_LINKFIGURES_H

#include "meterlink.h"

#include <QString>
#include <QVector>

// What the requests of a run came to: counts by outcome and the response
// times of the good ones.
class LinkFigures
{
public:
    void count(const MeterLink::Result &result);
    // Two lines: the counts, then the median, 95th percentile and maximum.
    QString text() const;

private:
    int m_requests = 0;
    int m_good = 0;
    int m_timeouts = 0;
    int m_exceptions = 0;
    int m_otherErrors = 0;
    QVector<qint64> m_responseUs;
};

#endif // METERCTL_LINKFIGURES_H
