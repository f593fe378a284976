// Benchmarks of the window, printed as one table.
//
//   meterbench [--short] [--only PART]... [--command LABEL=FLOOR_BYTES=COMMAND]...
//
// Round trips go over a paced line (bench_line) to the virtual instrument in
// a process of its own, beside a bare Qt client, libmodbus (bench_libmodbus,
// where it was built) and the wire's own time. The console, idle and start-up
// figures come from fresh child processes of this same program:
//
//   meterbench console lines|flat|random|unthrottled SECONDS
//   meterbench idle SECONDS
//   meterbench startup window|empty
//
// --command adds a row for any program run against the line, timed as a
// whole process; {port}, {baud}, {parity} and {stopbits} in COMMAND are the
// line's and FLOOR_BYTES is what its requests and replies put on the wire.
#include "benchsupport.h"

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QSysInfo>
#include <QTextStream>
#include <QThread>

int main(int argc, char **argv)
{
    const qint64 mainEntryNs = Bench::monotonicNs();
    const QByteArray mode = argc > 1 ? argv[1] : "";
    if (mode == "startup")
        return Bench::startupChild(argc, argv, mainEntryNs);
    if (mode == "console")
        return Bench::consoleChild(argc, argv);
    if (mode == "idle")
        return Bench::idleChild(argc, argv);

    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Bench::Plan plan;
    const QStringList arguments = QCoreApplication::arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments.at(i) == QLatin1String("--short")) {
            plan.brief = true;
            plan.blocks = 3;
            plan.pollRuns = 10;
            plan.tableRuns = 3;
            plan.consoleSeconds = 20;
            plan.idleSeconds = 20;
            plan.startupRuns = 7;
        } else if (arguments.at(i) == QLatin1String("--command") && i + 1 < arguments.size()) {
            plan.commands << arguments.at(++i);
        } else if (arguments.at(i) == QLatin1String("--only") && i + 1 < arguments.size()) {
            plan.only << arguments.at(++i);
        } else {
            QTextStream(stderr)
                << "usage: meterbench [--short] [--only link|commands|startup|trend|idle|console]... "
                   "[--command LABEL=FLOOR_BYTES=COMMAND]...\n";
            return 2;
        }
    }

    QTextStream progress(stderr);
    Bench::Table table;
    const QDateTime started = QDateTime::currentDateTimeUtc();
    const auto wanted = [&plan](const char *part) {
        return plan.only.isEmpty() || plan.only.contains(QLatin1String(part));
    };
    if (wanted("link")) {
        progress << "round trips over the paced line\n";
        progress.flush();
        Bench::runLink(plan, table);
    }
    if (wanted("commands"))
        Bench::runCommands(plan, table);
    if (wanted("startup")) {
        progress << "start-up\n";
        progress.flush();
        Bench::runStartupRows(plan, table);
    }
    if (wanted("trend")) {
        progress << "trend window\n";
        progress.flush();
        Bench::runTrendRows(plan, table);
        Bench::runTrendPoll(plan, table);
    }
    if (wanted("idle"))
        Bench::runIdleRow(plan, table);
    if (wanted("console")) {
        progress << "console\n";
        progress.flush();
        Bench::runConsoleRows(plan, table);
    }

    QTextStream out(stdout);
    out << (plan.brief ? "SHORT RUN (figures only show that everything works; "
                         "the console runs do not reach the scrollback trim)\n\n"
                       : "")
        << "meterbench, " << started.toString(Qt::ISODate) << ", " << QSysInfo::prettyProductName() << ", "
        << QThread::idealThreadCount() << " cores, load average at the end " << QString::fromLatin1([] {
               QFile file(QStringLiteral("/proc/loadavg"));
               return file.open(QIODevice::ReadOnly) ? file.readAll().left(14) : QByteArray("?");
           }())
        << "\n\n";
    table.print(out);
    out << "Ratios are the window's figure divided by the one beside it. The wire floor is the time the "
           "frames' bytes take on the line (10 bits a byte for 8N1, 11 for 8E1), no gaps.\n";
    return 0;
}
