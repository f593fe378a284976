#include "valuehistory.h"

#include "registercodec.h"

#include <algorithm>
#include <cmath>

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

// What a channel has gathered in its current column.
struct Gathering
{
    int column = 0;
    float low = 0;
    float high = 0;
    qint64 firstTime = 0;
    qint64 lastTime = 0;
    qint64 previousTime = -1; // of the channel's last value, -1 after a break
    bool open = false;
    bool breakBefore = false;
};

void close(Gathering &g, QVector<ValueHistory::Stretch> &out)
{
    if (!g.open)
        return;
    out.append(
        { g.firstTime + (g.lastTime - g.firstTime) / 2, double(g.low), double(g.high), g.breakBefore });
    g.open = false;
    g.breakBefore = false;
}

void interrupt(Gathering &g, QVector<ValueHistory::Stretch> &out)
{
    close(g, out);
    g.breakBefore = true;
    g.previousTime = -1;
}

} // namespace

QVector<QVector<ValueHistory::Stretch>> ValueHistory::envelopes(qint64 from, qint64 to, int columns) const
{
    QVector<QVector<Stretch>> out(Channels);
    if (m_count == 0 || to <= from || columns <= 0)
        return out;
    const int begin = std::max(lowerBound(from) - 1, 0);
    const int end = std::min(lowerBound(to + 1) + 1, m_count);
    const double perMs = double(columns) / double(to - from);
    std::array<Gathering, Channels> gathering;

    for (int i = begin; i < end; ++i) {
        const Row &r = row(i);
        if (!r.good) {
            for (int c = 0; c < Channels; ++c)
                interrupt(gathering[c], out[c]);
            continue;
        }
        // The rows outside from..to get columns of their own, -1 and columns.
        const int column = std::clamp(int(std::floor(double(r.time - from) * perMs)), -1, columns);
        for (int c = 0; c < Channels; ++c) {
            Gathering &g = gathering[c];
            if (c >= r.channelCount) {
                interrupt(g, out[c]);
                continue;
            }
            if (g.previousTime >= 0 && r.time - g.previousTime > m_maxStepMs)
                interrupt(g, out[c]);
            if (g.open && g.column != column)
                close(g, out[c]);
            const float value = RegisterCodec::signedTenths(r.words[c]);
            if (!g.open) {
                g.open = true;
                g.column = column;
                g.low = g.high = value;
                g.firstTime = r.time;
            } else {
                g.low = std::min(g.low, value);
                g.high = std::max(g.high, value);
            }
            g.lastTime = r.time;
            g.previousTime = r.time;
        }
    }
    for (int c = 0; c < Channels; ++c)
        close(gathering[c], out[c]);
    return out;
}
