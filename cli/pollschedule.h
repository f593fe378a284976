#ifndef METERCTL_POLLSCHEDULE_H
#define METERCTL_POLLSCHEDULE_H

#include <QHash>
#include <QVector>

// Which meters of a line are asked in a cycle. A meter that failed a number
// of polls in a row is offline: it keeps its place in every cycle (its row
// says so) but is asked only once per retry period, so that a dead meter
// costs the line little and the others keep their interval.
class PollSchedule
{
public:
    struct Turn
    {
        int address = 0;
        bool ask = true;
    };
    enum class Change { None, WentOffline, CameBack };

    // offlineAfter 0: a meter is never taken offline.
    PollSchedule(const QVector<int> &addresses, int offlineAfter, qint64 retryMs);

    // The meters of a cycle starting at nowMs: in the order of the list,
    // but offline meters due to be tried again come last, so that their
    // timeouts never hold up the meters that answer.
    QVector<Turn> cycle(qint64 nowMs) const;
    // The outcome of asking a meter, at nowMs.
    Change record(int address, bool good, qint64 nowMs);
    bool isOffline(int address) const { return m_meters.value(address).offline; }
    // Whether a turn tries an offline meter again.
    bool isRetry(const Turn &turn) const { return turn.ask && isOffline(turn.address); }
    const QVector<int> &addresses() const { return m_addresses; }

private:
    struct Meter
    {
        int failures = 0;
        bool offline = false;
        qint64 lastAskedMs = 0;
    };
    QVector<int> m_addresses;
    int m_offlineAfter;
    qint64 m_retryMs;
    QHash<int, Meter> m_meters;
};

#endif // METERCTL_POLLSCHEDULE_H
