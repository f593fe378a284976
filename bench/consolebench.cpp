// The debug console under what a line can deliver: text lines and text
// without line breaks at 115200 baud, random bytes (NULs, CR and LF, invalid
// UTF-8) at the same pace, and a device that ignores the baud rate and sends
// as fast as the window takes it. A child process writes into a
// pseudo-terminal; the window reads the other end.
#include "benchsupport.h"
#include "consolebacklog.h"
#include "widget.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTextStream>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace Bench {

namespace {

// 8N1: ten bit times per byte.
constexpr double PacedBytesPerSecond = 115200.0 / 10.0;
constexpr int ProbePeriodMs = 10;

enum class Feed { Lines, Flat, Random, Unthrottled };

QByteArray feedText(Feed feed)
{
    QByteArray text;
    if (feed == Feed::Random) {
        // Seeded, so every run sees the same bytes: a third of them the
        // troublesome ones, the rest anything at all.
        std::mt19937 random(20240601);
        const char awkward[] = { '\0', '\r', '\n', '\xC3', '\xE8', '\xF0', '\x80', '\xBF', '\xFF' };
        for (int i = 0; i < 65536; ++i) {
            const unsigned r = random();
            text += r % 3 == 0 ? awkward[(r >> 8) % sizeof(awkward)] : char(r >> 16);
        }
        return text;
    }
    for (int i = 0; i < 64; ++i) {
        const QByteArray line = "T" + QByteArray::number(i)
            + " CH1=23.4 CH2=-5.1 CH3=100.0 CH4=0.0 CH5=87.2 CH6=12.9 CH7=44.0 CH8=-0.3 CH9=19.8";
        text += feed == Feed::Flat ? line + ' ' : line + "\r\n";
    }
    return text;
}

// Writes at the line's pace (or as fast as the reader takes it) until the
// time is up; reports the bytes written.
[[noreturn]] void runWriter(int master, int go, int report, Feed feed, int seconds)
{
    char start;
    if (read(go, &start, 1) != 1)
        _exit(1);
    const QByteArray text = feedText(feed);
    const qint64 begin = monotonicNs();
    qint64 written = 0;
    int offset = 0;
    for (;;) {
        const double elapsed = (monotonicNs() - begin) / 1e9;
        if (elapsed >= seconds)
            break;
        qint64 due = feed == Feed::Unthrottled ? text.size() - offset
                                               : qint64(elapsed * PacedBytesPerSecond) - written;
        while (due > 0) {
            const int n = int(qMin<qint64>(due, text.size() - offset));
            const ssize_t done = write(master, text.constData() + offset, size_t(n));
            if (done < 0 && errno == EINTR)
                continue;
            if (done <= 0)
                _exit(2);
            written += done;
            due -= done;
            offset = (offset + int(done)) % text.size();
        }
        if (feed != Feed::Unthrottled)
            usleep(5000);
    }
    char line[64];
    const int length = std::snprintf(line, sizeof(line), "%lld\n", static_cast<long long>(written));
    if (write(report, line, size_t(length)) != length)
        _exit(3);
    _exit(0);
}

long peakResidentKiB()
{
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int consoleChild(int argc, char **argv)
{
    const QByteArray mode = argc > 2 ? argv[2] : "lines";
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 60;
    const Feed feed = mode == "flat" ? Feed::Flat
        : mode == "random"           ? Feed::Random
        : mode == "unthrottled"      ? Feed::Unthrottled
                                     : Feed::Lines;

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return 1;
    termios settings;
    tcgetattr(master, &settings);
    cfmakeraw(&settings);
    cfsetspeed(&settings, B115200);
    tcsetattr(master, TCSANOW, &settings);
    const QString slave = QString::fromLocal8Bit(ptsname(master));

    int go[2];
    int report[2];
    if (pipe(go) != 0 || pipe(report) != 0)
        return 1;
    const pid_t writer = fork();
    if (writer == 0) {
        close(go[1]);
        close(report[0]);
        runWriter(master, go[0], report[1], feed, seconds);
    }
    close(go[0]);
    close(report[1]);

    QApplication app(argc, argv);
    Widget window;
    window.resize(1000, 700);
    auto *view = window.findChild<QTextBrowser *>(QStringLiteral("textBrowser"));
    auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    for (int i = 0; i < tabs->count(); ++i) {
        if (tabs->widget(i)->isAncestorOf(view))
            tabs->setCurrentIndex(i);
    }
    window.show();
    auto *ports = window.findChild<QComboBox *>(QStringLiteral("serialPortCombo"));
    ports->addItem(slave);
    ports->setCurrentText(slave);
    QMetaObject::invokeMethod(&window, "debug_start");
    if (window.findChild<QPushButton *>(QStringLiteral("debugBt"))->text() != QStringLiteral("停止调试")) {
        kill(writer, SIGKILL);
        return 1;
    }
    close(master);

    QElapsedTimer wall;
    QElapsedTimer sinceProbe;
    qint64 stallMost = 0;
    int viewMost = 0;
    bool trimmed = false;
    // A late probe is a stall; the window's own part in it is the CPU time its
    // thread spent meanwhile, the rest is the machine's other work.
    double busyMost = 0;
    double threadCpuAtProbe = clockMs(CLOCK_THREAD_CPUTIME_ID);
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&]() {
        const double threadCpu = clockMs(CLOCK_THREAD_CPUTIME_ID);
        busyMost = qMax(busyMost, threadCpu - threadCpuAtProbe);
        threadCpuAtProbe = threadCpu;
        stallMost = qMax(stallMost, sinceProbe.restart() - ProbePeriodMs);
        const int chars = view->document()->characterCount();
        trimmed = trimmed || chars < viewMost;
        viewMost = qMax(viewMost, chars);
    });

    char start = 1;
    if (write(go[1], &start, 1) != 1)
        return 1;
    const double cpuAtStart = cpuMs();
    wall.start();
    sinceProbe.start();
    probe.start(ProbePeriodMs);
    QTimer::singleShot(seconds * 1000 + 500, &app, &QCoreApplication::quit);
    app.exec();

    const double cpu = cpuMs() - cpuAtStart;
    const double elapsed = wall.elapsed() / 1000.0;
    long long written = 0;
    char line[64] = {};
    if (read(report[0], line, sizeof(line) - 1) > 0)
        std::sscanf(line, "%lld", &written);
    waitpid(writer, nullptr, 0);

    const QString shown = view->toPlainText();
    QTextStream out(stdout);
    out << "cpu_percent=" << 100.0 * cpu / 1000.0 / elapsed << "\n"
        << "stall_ms=" << stallMost << "\n"
        << "busy_ms=" << busyMost << "\n"
        << "peak_rss_mb=" << peakResidentKiB() * 1024.0 / 1e6 << "\n"
        << "offered_mb_s=" << written / double(seconds) / 1e6 << "\n"
        << "view_chars_most=" << viewMost << "\n"
        << "trimmed=" << (trimmed ? 1 : 0) << "\n"
        << "gap_lines=" << shown.count(QStringLiteral("已丢弃")) << "\n";
    return 0;
}

void runConsoleRows(const Plan &plan, Table &table)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // The instrument's text is decoded as the locale says; UTF-8 is what
    // makes invalid sequences possible.
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    const char *modes[] = { "lines", "flat", "random", "unthrottled" };
    const QString length = plan.brief
        ? QStringLiteral("%1 s, SHORT: no trim reached").arg(plan.consoleSeconds)
        : QStringLiteral("%1 s").arg(plan.consoleSeconds);
    for (const char *mode : modes) {
        QTextStream(stderr) << "  console " << mode << " (" << plan.consoleSeconds << " s)\n";
        const auto values = runChild(
            { QStringLiteral("console"), QLatin1String(mode), QString::number(plan.consoleSeconds) },
            (plan.consoleSeconds + 60) * 1000, environment);
        if (values.isEmpty()) {
            table.addNote(QStringLiteral("console %1: the run failed").arg(QLatin1String(mode)));
            continue;
        }
        const double cpu = values.value(QStringLiteral("cpu_percent")).toDouble();
        const int stall = values.value(QStringLiteral("stall_ms")).toInt();
        const double busy = values.value(QStringLiteral("busy_ms")).toDouble();
        const double rss = values.value(QStringLiteral("peak_rss_mb")).toDouble();
        const double offered = values.value(QStringLiteral("offered_mb_s")).toDouble();
        const bool unthrottled = qstrcmp(mode, "unthrottled") == 0;
        Row row;
        row.what = QStringLiteral("console %1, %2 (%3 MB/s offered)")
                       .arg(QLatin1String(mode), length, figure(offered, unthrottled ? 1 : 3));
        row.window
            = QStringLiteral(
                  "cpu %1 %, stall %2 ms (%7 ms of it busy), peak RSS %3 MB, view ≤ %4 chars%5, %6 gap lines")
                  .arg(figure(cpu, 2))
                  .arg(stall)
                  .arg(figure(rss, 0))
                  .arg(values.value(QStringLiteral("view_chars_most")))
                  .arg(values.value(QStringLiteral("trimmed")) == QLatin1String("1")
                           ? QStringLiteral(", trimmed")
                           : QString())
                  .arg(values.value(QStringLiteral("gap_lines")))
                  .arg(figure(busy, 0));
        if (unthrottled) {
            row.goal = QStringLiteral("≥ 5 MB/s offered, busy stall ≤ 100 ms, RSS < 150 MB");
            row.verdict = verdict(offered >= 5.0 && busy <= 100 && rss < 150);
        } else if (qstrcmp(mode, "lines") == 0) {
            row.goal = QStringLiteral("cpu ≤ 3.5 %");
            row.verdict = verdict(cpu <= 3.5);
        } else {
            row.goal = QStringLiteral("busy stall ≤ 100 ms, RSS < 150 MB");
            row.verdict = verdict(busy <= 100 && rss < 150);
        }
        if (!plan.brief && qstrcmp(mode, "lines") == 0
            && values.value(QStringLiteral("trimmed")) != QLatin1String("1"))
            row.verdict += QStringLiteral(" (trim not reached)");
        table.add(row);
    }
}

} // namespace Bench
