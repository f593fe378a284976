// meterctl watch over 20 meters on one paced line (bench_line), whole
// process: the time of a cycle through all 20 against the wire floor of 20
// polls, the largest gap between two rows of a healthy meter when one of the
// 20 is silent, and meterctl's CPU at 20 meters and one second.
#include "benchsupport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QMap>
#include <QTextStream>

#include <algorithm>
#include <sys/resource.h>

namespace {

constexpr int Meters = 20;
constexpr int Silent = 7;

struct Run
{
    QMap<int, QVector<qint64>> rowMs; // by address, rows with values only
    double cpuMs = 0;
    QString err;
};

double childrenCpuMs()
{
    rusage usage;
    getrusage(RUSAGE_CHILDREN, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

Run watch(const Bench::Line &line, const QStringList &options)
{
    QProcess meterctl;
    const double cpuBefore = childrenCpuMs();
    meterctl.start(QStringLiteral(METERCTL_PATH),
                   QStringList { "--port", line.port(), "--baud", QString::number(line.baud()), "watch",
                                 "--addresses", QStringLiteral("1-%1").arg(Meters), "--format", "csv" }
                       + options);
    meterctl.waitForFinished(600000);
    Run run;
    run.cpuMs = childrenCpuMs() - cpuBefore;
    run.err = QString::fromUtf8(meterctl.readAllStandardError());
    for (const QString &row : QString::fromUtf8(meterctl.readAllStandardOutput()).split('\n')) {
        if (row.endsWith(QLatin1Char(',')) && !row.startsWith(QLatin1String("time")))
            run.rowMs[row.section(',', 1, 1).toInt()]
                << QDateTime::fromString(row.section(',', 0, 0), Qt::ISODateWithMs).toMSecsSinceEpoch();
    }
    return run;
}

// One poll on the wire: the 8-byte request and the 49-byte reply, each
// followed by its silence of 3.5 characters (at least 1.75 ms above 19200).
double pollFloorMs(const Bench::Line &line)
{
    const double silenceMs = line.baud() > 19200 ? 1.75 : line.wireMs(1) * 3.5;
    return line.wireMs(8 + 49) + 2 * silenceMs;
}

double largestGap(const QVector<qint64> &times, qint64 fromMs)
{
    qint64 gap = 0;
    for (int i = 1; i < times.size(); ++i) {
        if (times.at(i - 1) >= fromMs)
            gap = qMax(gap, times.at(i) - times.at(i - 1));
    }
    return double(gap);
}

void healthy(QTextStream &out, int baud)
{
    Bench::Line line(baud, 'N', 1);
    QString error;
    if (!line.start({ "--more-addresses", QStringLiteral("2-%1").arg(Meters), "--freeze" }, &error)) {
        out << "  " << error << Qt::endl;
        return;
    }
    // Back to back: an interval shorter than any cycle.
    const Run run = watch(line, { "--interval", "0.05", "--count", "12" });
    QVector<double> cycles;
    const QVector<qint64> &first = run.rowMs.value(1);
    for (int i = 2; i < first.size(); ++i) // the first cycle also reads each channel count
        cycles << double(first.at(i) - first.at(i - 1));
    const double floorMs = Meters * pollFloorMs(line);
    const double cycleMs = cycles.isEmpty() ? -1 : Bench::median(cycles);
    out << QStringLiteral(
               "  %1, 20 meters: cycle %2 ms, floor of 20 polls %3 ms, ratio %4 (goal 1.3 or less): %5\n")
               .arg(line.name())
               .arg(cycleMs, 0, 'f', 1)
               .arg(floorMs, 0, 'f', 1)
               .arg(cycleMs / floorMs, 0, 'f', 3)
               .arg(Bench::verdict(cycleMs > 0 && cycleMs / floorMs <= 1.3));
    out.flush();
}

void oneSilent(QTextStream &out, int baud, double intervalS, int timeoutMs)
{
    Bench::Line line(baud, 'N', 1);
    QString error;
    if (!line.start({ "--more-addresses", QStringLiteral("2-%1").arg(Meters), "--silent-addresses",
                      QString::number(Silent), "--freeze" },
                    &error)) {
        out << "  " << error << Qt::endl;
        return;
    }
    const Run run = watch(line,
                          { "--interval", QString::number(intervalS), "--count", "16", "--offline-retry", "4",
                            "--timeout", QString::number(timeoutMs) });
    // Steady state: from the first row after the silent meter went offline.
    const QVector<qint64> &first = run.rowMs.value(1);
    const qint64 detectedMs = first.value(3, 0);
    double steady = 0;
    double overall = 0;
    for (auto meter = run.rowMs.cbegin(); meter != run.rowMs.cend(); ++meter) {
        steady = qMax(steady, largestGap(meter.value(), detectedMs));
        overall = qMax(overall, largestGap(meter.value(), 0));
    }
    const double intervalMs = intervalS * 1000;
    const double floorMs = (Meters - 1) * pollFloorMs(line);
    out << QStringLiteral(
               "  %1, 19 meters + 1 silent, interval %2 s, --timeout %8 (floor of 19 polls %3 ms): largest "
               "gap between "
               "two rows of a healthy meter once the silent one is offline %4 ms, ratio %5 (goal 1.1 or "
               "less): %6; while it is found offline (3 polls with retries) %7 ms\n")
               .arg(line.name())
               .arg(intervalS)
               .arg(floorMs, 0, 'f', 0)
               .arg(steady, 0, 'f', 0)
               .arg(steady / intervalMs, 0, 'f', 3)
               .arg(Bench::verdict(steady > 0 && steady / intervalMs <= 1.1))
               .arg(overall, 0, 'f', 0)
               .arg(timeoutMs);
    out.flush();
}

void cpu(QTextStream &out)
{
    Bench::Line line(115200, 'N', 1);
    QString error;
    if (!line.start({ "--more-addresses", QStringLiteral("2-%1").arg(Meters) }, &error)) {
        out << "  " << error << Qt::endl;
        return;
    }
    const int seconds = 30;
    const Run run = watch(line, { "--interval", "1", "--count", QString::number(seconds) });
    const double share = run.cpuMs / (seconds * 10.0);
    out << QStringLiteral(
               "  115200 8N1, 20 meters every 1 s for %1 s: meterctl CPU %2 ms, %3 % of a core (goal "
               "below 2 %): %4\n")
               .arg(seconds)
               .arg(run.cpuMs, 0, 'f', 0)
               .arg(share, 0, 'f', 2)
               .arg(Bench::verdict(share < 2));
    out.flush();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    out << "bench_watch: meterctl watch --addresses 1-20 on one paced line\n";
    for (const int baud : { 9600, 115200 })
        healthy(out, baud);
    // The interval leaves room for the 19 polls and the silent one's single
    // try: its timeout and as long again of quiet on the line.
    oneSilent(out, 9600, 2, 250);
    oneSilent(out, 115200, 1, 200);
    // With the default timeout a try costs a second, more than the slack.
    oneSilent(out, 115200, 1, 500);
    cpu(out);
    return 0;
}
