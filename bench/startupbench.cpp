// Start-up to the first paint, against an empty window built the same way,
// and the window's appetite while it sits idle and unconnected.
#include "benchsupport.h"
#include "portwatcher.h"
#include "widget.h"

#include <QApplication>
#include <QTest>
#include <QTextStream>

#include <cstdlib>

namespace Bench {

namespace {

// Catches the window's first paint; counted once the event loop is back,
// when the whole window has been painted and handed to the screen.
class FirstPaint : public QObject
{
public:
    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            object->removeEventFilter(this);
            QTimer::singleShot(0, this, [this]() {
                paintedNs = monotonicNs();
                QCoreApplication::quit();
            });
        }
        return false;
    }
    qint64 paintedNs = 0;

private:
    bool m_seen = false;
};

const char *platformName(const QString &platform)
{
    return platform == QLatin1String("xcb") ? "Xvfb" : "offscreen";
}

} // namespace

int startupChild(int argc, char **argv, qint64 mainEntryNs)
{
    const bool empty = argc > 2 && qstrcmp(argv[2], "empty") == 0;
    const qint64 spawnedNs = qEnvironmentVariableIsSet("METERBENCH_SPAWNED_NS")
        ? qgetenv("METERBENCH_SPAWNED_NS").toLongLong()
        : mainEntryNs;
    QApplication app(argc, argv);
    const qint64 appNs = monotonicNs();
    // The window as main builds it, or an empty one of the same size.
    QWidget *window = empty ? new QWidget : new Widget;
    if (empty)
        window->resize(990, 532);
    const qint64 builtNs = monotonicNs();
    FirstPaint paint;
    window->installEventFilter(&paint);
    window->show();
    QTimer::singleShot(10000, &app, &QCoreApplication::quit);
    app.exec();
    QTextStream(stdout) << "application_ms=" << (appNs - mainEntryNs) / 1e6 << "\n"
                        << "construct_ms=" << (builtNs - appNs) / 1e6 << "\n"
                        << "main_to_paint_ms=" << (paint.paintedNs - mainEntryNs) / 1e6 << "\n"
                        << "spawn_to_paint_ms=" << (paint.paintedNs - spawnedNs) / 1e6 << "\n";
    delete window;
    return paint.paintedNs > 0 ? 0 : 1;
}

void runStartupRows(const Plan &plan, Table &table)
{
    QStringList platforms { QStringLiteral("offscreen") };
    if (!qEnvironmentVariableIsEmpty("DISPLAY"))
        platforms.prepend(QStringLiteral("xcb"));
    for (const QString &platform : platforms) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
        QVector<double> window[3], empty[3];
        const char *keys[] = { "main_to_paint_ms", "spawn_to_paint_ms", "construct_ms" };
        // Alternating, so that a slow spell of the machine hits both.
        for (int run = 0; run < plan.startupRuns; ++run) {
            for (const char *kind : { "window", "empty" }) {
                environment.insert(QStringLiteral("METERBENCH_SPAWNED_NS"), QString::number(monotonicNs()));
                const auto values
                    = runChild({ QStringLiteral("startup"), QLatin1String(kind) }, 20000, environment);
                if (values.isEmpty())
                    continue;
                for (int k = 0; k < 3; ++k)
                    (qstrcmp(kind, "empty") == 0 ? empty : window)[k]
                        << values.value(QLatin1String(keys[k])).toDouble();
            }
        }
        const double w = median(window[0]);
        const double e = median(empty[0]);
        Row row;
        row.what = QStringLiteral("start-up to first paint, %1 (from main; from spawn)")
                       .arg(QLatin1String(platformName(platform)));
        row.window = QStringLiteral("%1; %2 (constructor %3)")
                         .arg(figure(w), figure(median(window[1])), figure(median(window[2])));
        row.bareQt = QStringLiteral("empty window %1 (×%2); %3 (×%4)")
                         .arg(figure(e))
                         .arg(e > 0 ? w / e : 0, 0, 'f', 2)
                         .arg(figure(median(empty[1])))
                         .arg(median(empty[1]) > 0 ? median(window[1]) / median(empty[1]) : 0, 0, 'f', 2);
        if (platform == QLatin1String("xcb")) {
            row.goal = QStringLiteral("≤ ×1.3 empty window");
            row.verdict = verdict(e > 0 && w / e <= 1.3);
        }
        table.add(row);
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        table.addNote(QStringLiteral("No display: start-up measured offscreen only (run under xvfb-run)."));
}

int idleChild(int argc, char **argv)
{
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 60;
    QApplication app(argc, argv);
    Widget window;
    window.show();
    // Start-up work is over before the count begins.
    QTest::qWait(2000);
    const double cpuBefore = cpuMs();
    QElapsedTimer wall;
    wall.start();
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    const double percent = 100.0 * (cpuMs() - cpuBefore) / double(wall.elapsed());
    const auto *watcher = window.findChild<PortWatcher *>();
    const char *modes[] = { "stopped", "udev", "device folder", "polling" };
    QTextStream(stdout) << "cpu_percent=" << percent << "\n"
                        << "watch=" << (watcher ? modes[int(watcher->mode())] : "none") << "\n";
    return 0;
}

void runIdleRow(const Plan &plan, Table &table)
{
    QTextStream(stderr) << "  idle (" << plan.idleSeconds << " s)\n";
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const auto values = runChild({ QStringLiteral("idle"), QString::number(plan.idleSeconds) },
                                 (plan.idleSeconds + 30) * 1000, environment);
    const double cpu = values.value(QStringLiteral("cpu_percent"), QStringLiteral("-1")).toDouble();
    Row row;
    row.what = QStringLiteral("idle, not connected, %1 s (ports watched by %2)")
                   .arg(plan.idleSeconds)
                   .arg(values.value(QStringLiteral("watch")));
    row.window = QStringLiteral("cpu %1 % of a core").arg(figure(cpu, 3));
    row.goal = QStringLiteral("≤ 0.1 %");
    row.verdict = verdict(cpu >= 0 && cpu <= 0.1);
    table.add(row);
}

} // namespace Bench
