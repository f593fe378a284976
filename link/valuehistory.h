#ifndef METERCONFIG_VALUEHISTORY_H
#define METERCONFIG_VALUEHISTORY_H

#include <QStringList>
#include <QVector>

#include <array>
#include <vector>

// The measured values of every poll since connecting, for the trend plot:
// bounded, the oldest dropped first, and summarised per pixel column so that
// drawing a day costs what drawing a minute does.
class ValueHistory
{
public:
    static constexpr int Channels = 22;
    // A little over a day at one poll a second.
    static constexpr int DefaultCapacity = 100000;
    // Values further apart than this are not joined by a line: the polls
    // between them did not happen (no link, the console held the line).
    static constexpr qint64 DefaultMaxStepMs = 3000;

    struct Row
    {
        qint64 time; // ms since the epoch
        bool good; // false: the poll had no good reply, and no values
        quint8 channelCount; // the channels the instrument has; the rest are no values
        quint8 reason; // of a failed poll, for reason()
        std::array<quint16, Channels> words;
    };

    // One stretch of a curve within a pixel column: the lowest and highest
    // value of the channel there, at the middle of their times. breakBefore:
    // no line joins it to the stretch before.
    struct Stretch
    {
        qint64 time;
        double low;
        double high;
        bool breakBefore;
    };

    explicit ValueHistory(int capacity = DefaultCapacity, qint64 maxStepMs = DefaultMaxStepMs);

    // A poll's reply; times that go back (the clock was set back) are taken
    // as the last one, so that the rows stay in order.
    void append(qint64 time, const QVector<quint16> &words, int channelCount);
    // A poll without a good reply, and why.
    void appendFailure(qint64 time, const QString &reason = QString());
    void clear();

    int size() const { return m_count; }
    bool isEmpty() const { return m_count == 0; }
    int capacity() const { return int(m_rows.size()); }
    qint64 maxStepMs() const { return m_maxStepMs; }
    // Oldest first.
    const Row &row(int index) const { return m_rows[(m_first + index) % m_rows.size()]; }
    // Why the poll of a failed row failed.
    QString reason(const Row &row) const { return m_reasons.value(row.reason); }
    // The first row at or after time; size() if none.
    int lowerBound(qint64 time) const;

    // For each channel, the stretches from..to split into columns pixel
    // columns; the rows just outside it are included, so that a line runs on
    // to the edge.
    QVector<QVector<Stretch>> envelopes(qint64 from, qint64 to, int columns) const;

private:
    Row &push(qint64 time);

    std::vector<Row> m_rows;
    // The few texts a failure gives, each kept once; the first is none.
    QStringList m_reasons { QString() };
    int m_first = 0;
    int m_count = 0;
    qint64 m_maxStepMs;
};

#endif // METERCONFIG_VALUEHISTORY_H
