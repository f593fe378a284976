#include "valuehistory.h"

#include "registercodec.h"

#include <algorithm>
#include <cmath>
#include <limits>

ValueHistory::ValueHistory(int capacity, qint64 maxStepMs)
    : m_rows(std::max(capacity, 1))
    , m_maxStepMs(maxStepMs)
{ }

ValueHistory::Row &ValueHistory::push(qint64 time)
{
    if (m_count > 0)
        time = std::max(time, row(m_count - 1).time);
    const int capacity = int(m_rows.size());
    int at;
    if (m_count < capacity) {
        at = (m_first + m_count) % capacity;
        ++m_count;
    } else {
        at = m_first;
        m_first = (m_first + 1) % capacity;
    }
    Row &slot = m_rows[at];
    slot.time = time;
    slot.good = false;
    slot.channelCount = 0;
    slot.reason = 0;
    slot.words.fill(0);
    return slot;
}

void ValueHistory::append(qint64 time, const QVector<quint16> &words, int channelCount)
{
    Row &slot = push(time);
    slot.good = true;
    slot.channelCount = quint8(std::clamp(std::min(channelCount, int(words.size())), 0, Channels));
    std::copy_n(words.cbegin(), slot.channelCount, slot.words.begin());
}

void ValueHistory::appendFailure(qint64 time, const QString &reason)
{
    int index = m_reasons.indexOf(reason);
    if (index < 0 && m_reasons.size() <= 255) {
        index = m_reasons.size();
        m_reasons << reason;
    }
    // Past that many different texts, the new ones are not told.
    push(time).reason = quint8(std::max(index, 0));
}

void ValueHistory::clear()
{
    m_first = 0;
    m_count = 0;
}

int ValueHistory::lowerBound(qint64 time) const
{
    int low = 0;
    int high = m_count;
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (row(middle).time < time)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

namespace {

// The stretches each channel is gathering in the current pixel column. The
// channels with a value there are always the first openCount: a row holds
// the instrument's first channelCount channels.
class Gatherer
{
public:
    explicit Gatherer(QVector<QVector<ValueHistory::Stretch>> &out)
        : m_out(out)
    {
        m_breakBefore.fill(false);
    }

    // Channels from on have no value here: their lines end.
    void interruptFrom(int from)
    {
        closeFrom(from);
        std::fill(m_breakBefore.begin() + from, m_breakBefore.end(), true);
    }

    void take(const ValueHistory::Row &row, int column)
    {
        if (column != m_column) {
            closeFrom(0);
            m_column = column;
        }
        const int count = row.channelCount;
        if (count < ValueHistory::Channels)
            interruptFrom(count);
        for (int c = 0; c < m_openCount; ++c) {
            const qint16 value = qint16(row.words[size_t(c)]);
            m_low[c] = std::min(m_low[c], value);
            m_high[c] = std::max(m_high[c], value);
        }
        for (int c = m_openCount; c < count; ++c) {
            m_low[c] = m_high[c] = qint16(row.words[size_t(c)]);
            m_firstTime[c] = row.time;
        }
        m_openCount = std::max(m_openCount, count);
        m_lastTime = row.time;
    }

    void closeFrom(int from)
    {
        for (int c = from; c < m_openCount; ++c) {
            m_out[c].append({ m_firstTime[c] + (m_lastTime - m_firstTime[c]) / 2,
                              double(RegisterCodec::signedTenths(quint16(m_low[c]))),
                              double(RegisterCodec::signedTenths(quint16(m_high[c]))), m_breakBefore[c] });
            m_breakBefore[c] = false;
        }
        m_openCount = std::min(m_openCount, from);
    }

private:
    QVector<QVector<ValueHistory::Stretch>> &m_out;
    int m_column = std::numeric_limits<int>::min();
    int m_openCount = 0;
    qint64 m_lastTime = 0;
    std::array<qint16, ValueHistory::Channels> m_low {};
    std::array<qint16, ValueHistory::Channels> m_high {};
    std::array<qint64, ValueHistory::Channels> m_firstTime {};
    std::array<bool, ValueHistory::Channels> m_breakBefore;
};

} // namespace

QVector<QVector<ValueHistory::Stretch>> ValueHistory::envelopes(qint64 from, qint64 to, int columns) const
{
    QVector<QVector<Stretch>> out(Channels);
    if (m_count == 0 || to <= from || columns <= 0)
        return out;
    const int begin = std::max(lowerBound(from) - 1, 0);
    const int end = std::min(lowerBound(to + 1) + 1, m_count);
    for (QVector<Stretch> &stretches : out)
        stretches.reserve(std::min(end - begin, 2 * columns + 4));
    const double perMs = double(columns) / double(to - from);
    Gatherer gatherer(out);
    qint64 previousTime = -1;
    for (int i = begin; i < end; ++i) {
        const Row &r = row(i);
        if (!r.good || (previousTime >= 0 && r.time - previousTime > m_maxStepMs))
            gatherer.interruptFrom(0);
        if (!r.good) {
            previousTime = -1;
            continue;
        }
        // The rows outside from..to get columns of their own, -1 and columns.
        const int column = std::clamp(int(std::floor(double(r.time - from) * perMs)), -1, columns);
        gatherer.take(r, column);
        previousTime = r.time;
    }
    gatherer.closeFrom(0);
    return out;
}
