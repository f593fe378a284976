#include "linkfigures.h"

#include <algorithm>

void LinkFigures::count(const MeterLink::Result &result)
{
    ++m_requests;
    switch (result.kind) {
    case MeterLink::Result::Good:
        ++m_good;
        m_responseUs << result.elapsedUs;
        break;
    case MeterLink::Result::Timeout:
        ++m_timeouts;
        break;
    case MeterLink::Result::Exception:
        ++m_exceptions;
        break;
    default:
        ++m_otherErrors;
        break;
    }
}

QString LinkFigures::text() const
{
    QVector<qint64> sorted = m_responseUs;
    std::sort(sorted.begin(), sorted.end());
    const auto ms = [](qint64 us) {
        return QString::number(us / 1000.0, 'f', 1);
    };
    const auto at = [&sorted](double fraction) {
        return sorted.isEmpty() ? 0 : sorted.at(int(fraction * (sorted.size() - 1) + 0.5));
    };
    return QStringLiteral("requests %1, good replies %2, timeouts %3, exception replies %4, other errors %5\n"
                          "response time median %6 ms, 95th percentile %7 ms, maximum %8 ms")
        .arg(m_requests)
        .arg(m_good)
        .arg(m_timeouts)
        .arg(m_exceptions)
        .arg(m_otherErrors)
        .arg(ms(at(0.5)), ms(at(0.95)), ms(sorted.isEmpty() ? 0 : sorted.last()));
}
