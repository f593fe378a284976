// The trend window over a day of history: drawing all of it and its last
// hour, the CPU a new poll costs with the window open, the memory the day
// takes, and the main window's poll with the trend window open and closed.
#include "benchsupport.h"
#include "e2erig.h"
#include "trends.h"
#include "trendwindow.h"
#include "valuehistory.h"

#include <QComboBox>
#include <QPixmap>

#include <QFile>
#include <QTextStream>
#include <qwt_plot.h>
#include <qwt_plot_canvas.h>

#include <cmath>

namespace Bench {

constexpr int Day = 24 * 3600;

// A day of polls at one a second, ending now: slow waves, some noise, a
// failed poll every ten minutes.
void fillDay(ValueHistory &history)
{
    const qint64 end = QDateTime::currentMSecsSinceEpoch();
    quint32 noise = 12345;
    QVector<quint16> words(ValueHistory::Channels);
    for (int s = 0; s < Day; ++s) {
        const qint64 time = end - qint64(Day - s) * 1000;
        if (s % 600 == 599) {
            history.appendFailure(time, QStringLiteral("Response timeout."));
            continue;
        }
        for (int c = 0; c < words.size(); ++c) {
            noise = noise * 1664525u + 1013904223u;
            const double value = 200.0 * c + 150.0 * std::sin(s / (900.0 + 97.0 * c)) + (noise >> 24) / 32.0;
            words[c] = quint16(qint16(std::lround(value)));
        }
        history.append(time, words, ValueHistory::Channels);
    }
}

namespace {

double residentMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1.0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1.0;
}

// The median of runs of what, in ms of wall time and of CPU.
template<typename What> std::pair<double, double> measure(int runs, What what)
{
    QVector<double> wall, cpu;
    for (int run = 0; run < runs; ++run) {
        const double cpuBefore = cpuMs();
        const double before = clockMs(CLOCK_MONOTONIC);
        what();
        wall << clockMs(CLOCK_MONOTONIC) - before;
        cpu << cpuMs() - cpuBefore;
    }
    return { median(wall), median(cpu) };
}

// Gathers the span's columns and paints the curves on the plot's canvas.
void drawNow(TrendWindow &trend)
{
    trend.follow();
    const QPixmap picture = trend.plot()->canvas()->grab();
    Q_UNUSED(picture)
}

void addRow(Table &table, const QString &what, double value, const QString &goal, double goalValue)
{
    table.add({ what, figure(value, 2), {}, {}, {}, goal, verdict(value <= goalValue) });
}

// Judged by its CPU time, which other work on the machine does not stretch.
void addDrawRow(Table &table, const QString &what, std::pair<double, double> figures, double goalValue)
{
    table.add({ what,
                QStringLiteral("%1 (%2)").arg(figure(figures.first, 2), figure(figures.second, 2)),
                {},
                {},
                {},
                QStringLiteral("≤ %1").arg(goalValue),
                verdict(figures.second <= goalValue) });
}

} // namespace

void runTrendRows(const Plan &plan, Table &table)
{
    const double before = residentMb();
    ValueHistory history;
    fillDay(history);
    const double grown = residentMb() - before;
    table.add({ QStringLiteral("history of 24 h, 22 channels: MB held (RSS growth)"),
                QStringLiteral("%1 (%2)").arg(
                    figure(history.capacity() * sizeof(ValueHistory::Row) / 1048576.0), figure(grown)),
                {},
                {},
                {},
                QStringLiteral("≤ 40"),
                verdict(grown <= 40.0) });

    TrendWindow trend(&history, nullptr);
    trend.resize(1600, 900);
    trend.show();
    const bool exposed = QTest::qWaitForWindowExposed(&trend);
    Q_UNUSED(exposed)
    trend.setChannelCount(ValueHistory::Channels);
    trend.showAllChannels(true);
    auto *span = trend.findChild<QComboBox *>();
    const int runs = plan.brief ? 5 : 30;

    span->setCurrentIndex(4);
    const auto whole = measure(runs, [&trend]() { drawNow(trend); });
    addDrawRow(table, QStringLiteral("trend 1600x900: draw all 24 h, 22 curves (cpu ms)"), whole, 20.0);
    span->setCurrentIndex(2);
    const auto hour = measure(runs, [&trend]() { drawNow(trend); });
    addDrawRow(table, QStringLiteral("trend 1600x900: draw the last hour (cpu ms)"), hour, 5.0);

    // A new poll on the open window, at its first span and at all of the day.
    QVector<quint16> words(ValueHistory::Channels, 250);
    qint64 time = history.row(history.size() - 1).time;
    for (int index : { 1, 4 }) {
        span->setCurrentIndex(index);
        // The mean: at long spans most polls change no pixel, and some redraw it all.
        const int polls = plan.brief ? 120 : 600;
        const double cpuBefore = cpuMs();
        for (int poll = 0; poll < polls; ++poll) {
            time += 1000;
            words[poll % words.size()] = quint16(poll % 700);
            history.append(time, words, ValueHistory::Channels);
            trend.refresh();
            // The paint a redraw asks for, as the event loop would do it.
            QCoreApplication::processEvents();
        }
        addRow(table, QStringLiteral("trend open (%1): CPU per new poll, mean").arg(span->itemText(index)),
               (cpuMs() - cpuBefore) / polls, QStringLiteral("≤ 2"), 2.0);
    }
}

} // namespace Bench
