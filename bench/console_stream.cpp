// The debug console under a line running flat out: an instrument printing
// continuously at 115200 baud into the open console, for as long as asked.
//
//   console_stream lines|flat [seconds]
//
// "lines" sends text lines of about a hundred characters, "flat" the same
// stream without a single line break. A child process writes into a
// pseudo-terminal at the line's pace; the window reads the other end. Printed:
// the window's CPU share of one core, its resident memory over time and the
// longest stall of its event loop.
#include "widget.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

// 8N1: ten bit times per byte.
constexpr double BytesPerSecond = 115200.0 / 10.0;
constexpr int WritePeriodMs = 5;
constexpr int ProbePeriodMs = 10;
constexpr int SampleEverySeconds = 30;

double monotonicSeconds()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

QByteArray streamText(bool lines)
{
    QByteArray text;
    for (int i = 0; i < 64; ++i) {
        QByteArray line = "T" + QByteArray::number(i)
            + " CH1=23.4 CH2=-5.1 CH3=100.0 CH4=0.0 CH5=87.2 CH6=12.9 "
              "CH7=44.0 CH8=-0.3 CH9=19.8";
        text += lines ? line + "\r\n" : line + ' ';
    }
    return text;
}

// Writes the stream at the line's pace until told to stop; reports how many
// bytes it wrote and how far it fell behind the pace.
[[noreturn]] void runWriter(int master, int go, int report, bool lines, int seconds)
{
    char start;
    if (read(go, &start, 1) != 1)
        _exit(1);
    const QByteArray text = streamText(lines);
    const double begin = monotonicSeconds();
    qint64 written = 0;
    int offset = 0;
    double behindMost = 0;
    for (;;) {
        const double elapsed = monotonicSeconds() - begin;
        if (elapsed >= seconds)
            break;
        qint64 due = qint64(elapsed * BytesPerSecond) - written;
        behindMost = qMax(behindMost, double(due) / BytesPerSecond);
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
        usleep(WritePeriodMs * 1000);
    }
    char line[128];
    const int length
        = std::snprintf(line, sizeof(line), "%lld %.3f\n", static_cast<long long>(written), behindMost);
    if (write(report, line, size_t(length)) != length)
        _exit(3);
    _exit(0);
}

long residentKiB()
{
    long pages = 0;
    long resident = 0;
    if (FILE *statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

double cpuSeconds()
{
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    const bool lines = argc < 2 || std::strcmp(argv[1], "flat") != 0;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 600;

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("pseudo-terminal");
        return 1;
    }
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
        runWriter(master, go[0], report[1], lines, seconds);
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
        std::fprintf(stderr, "console did not open on %s\n", qPrintable(slave));
        kill(writer, SIGKILL);
        return 1;
    }
    close(master);

    std::printf("stream: %s, %d s, %.0f bytes/s into %s\n", lines ? "lines" : "flat (no line breaks)",
                seconds, BytesPerSecond, qPrintable(slave));
    std::printf("%8s %10s %10s %10s %12s\n", "time/s", "RSS/KiB", "cpu/%", "stall/ms", "view chars");
    std::fflush(stdout);

    QElapsedTimer wall;
    QElapsedTimer sinceProbe;
    qint64 stallMost = 0;
    qint64 stallInterval = 0;
    double cpuAtSample = cpuSeconds();
    qint64 wallAtSample = 0;
    const double cpuAtStart = cpuAtSample;

    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&]() {
        const qint64 late = sinceProbe.restart() - ProbePeriodMs;
        stallMost = qMax(stallMost, late);
        stallInterval = qMax(stallInterval, late);
    });
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&]() {
        const double cpu = cpuSeconds();
        const qint64 now = wall.elapsed();
        std::printf("%8lld %10ld %10.2f %10lld %12d\n", static_cast<long long>(now / 1000), residentKiB(),
                    100.0 * (cpu - cpuAtSample) / (double(now - wallAtSample) / 1000.0),
                    static_cast<long long>(stallInterval), view->document()->characterCount());
        std::fflush(stdout);
        cpuAtSample = cpu;
        wallAtSample = now;
        stallInterval = 0;
    });

    char start = 1;
    if (write(go[1], &start, 1) != 1)
        return 1;
    wall.start();
    sinceProbe.start();
    probe.start(ProbePeriodMs);
    sampler.start(SampleEverySeconds * 1000);
    QTimer::singleShot(seconds * 1000 + 500, &app, &QCoreApplication::quit);
    app.exec();

    const double cpu = cpuSeconds() - cpuAtStart;
    const double elapsed = wall.elapsed() / 1000.0;
    long long written = 0;
    double behind = 0;
    char line[128] = {};
    if (read(report[0], line, sizeof(line) - 1) > 0)
        std::sscanf(line, "%lld %lf", &written, &behind);
    waitpid(writer, nullptr, 0);

    std::printf("written %lld bytes (writer at most %.3f s behind its pace)\n", written, behind);
    std::printf(
        "cpu %.2f %% of one core, longest stall %lld ms, final RSS %ld KiB, view %d chars in %d blocks\n",
        100.0 * cpu / elapsed, static_cast<long long>(stallMost), residentKiB(),
        view->document()->characterCount(), view->document()->blockCount());
    return 0;
}
