#include "pollschedule.h"

PollSchedule::PollSchedule(const QVector<int> &addresses, int offlineAfter, qint64 retryMs)
    : m_addresses(addresses)
    , m_offlineAfter(offlineAfter)
    , m_retryMs(retryMs)
{
    for (const int address : addresses)
        m_meters.insert(address, Meter());
}

QVector<PollSchedule::Turn> PollSchedule::cycle(qint64 nowMs) const
{
    QVector<Turn> turns;
    QVector<Turn> retries;
    for (const int address : m_addresses) {
        const Meter meter = m_meters.value(address);
        if (meter.offline && nowMs - meter.lastAskedMs >= m_retryMs)
            retries.append({ address, true });
        else
            turns.append({ address, !meter.offline });
    }
    return turns + retries;
}

PollSchedule::Change PollSchedule::record(int address, bool good, qint64 nowMs)
{
    Meter &meter = m_meters[address];
    meter.lastAskedMs = nowMs;
    if (good) {
        meter.failures = 0;
        if (!meter.offline)
            return Change::None;
        meter.offline = false;
        return Change::CameBack;
    }
    ++meter.failures;
    if (meter.offline || m_offlineAfter <= 0 || meter.failures < m_offlineAfter)
        return Change::None;
    meter.offline = true;
    return Change::WentOffline;
}
