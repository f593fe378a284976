#ifndef METERCONFIG_BENCHSUPPORT_H
#define METERCONFIG_BENCHSUPPORT_H

// Shared by the parts of meterbench: figures, the paced line to a virtual
// instrument in its own process, and the one table everything is printed in.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QSet>
#include <QTimer>
#include <QVector>
#include <QWidget>

#include <time.h>

class QTextStream;
class ValueHistory;

namespace Bench {

double median(QVector<double> samples);
// A clock of clock_gettime, in milliseconds.
double clockMs(clockid_t clock);
// CPU time of this process so far, all threads.
double cpuMs();
// Another program of this build: the benchmark's helpers lie beside it.
QString programPath(const QString &name);

// How long the run is: the short one only shows that everything works.
struct Plan
{
    bool brief = false;
    int blocks = 5;
    int pollRuns = 30;
    int tableRuns = 8;
    int consoleSeconds = 240;
    int idleSeconds = 60;
    int startupRuns = 15;
    QStringList commands; // "LABEL=FLOOR_BYTES=COMMAND LINE", see meterbench.cpp
    QStringList only; // the parts to run; all when empty
};

// Runs the event loop until done() or a generous limit; wait() gives the
// milliseconds from start() to done(), or -1 on the limit.
class Stopwatch
{
public:
    Stopwatch();
    void start();
    void done();
    double wait(int limitMs = 10000);

private:
    QElapsedTimer m_clock;
    QEventLoop m_loop;
    QTimer m_limit;
    qint64 m_finished = -1;
};

// Done once every widget it was given has changed and those on screen have
// then been painted: what the operator sees, not what the window has merely
// decided to show.
class ShownWatch : public QObject
{
public:
    explicit ShownWatch(Stopwatch &watch)
        : m_watch(watch)
    { }
    void expect(const QList<QWidget *> &widgets);
    void changed(QWidget *widget);
    bool eventFilter(QObject *object, QEvent *event) override;

private:
    void check();

    Stopwatch &m_watch;
    QList<QWidget *> m_widgets;
    QSet<QObject *> m_onScreen;
    QSet<QObject *> m_changed;
    QSet<QObject *> m_painted;
    bool m_done = false;
};

// The virtual instrument in a process of its own, behind a relay that holds
// every byte for its time on a real line.
class Line
{
public:
    Line(int baud, char parity, int stopBits);
    ~Line();
    bool start(const QStringList &instrumentArguments, QString *error);
    QString port() const { return m_port; }
    int baud() const { return m_baud; }
    char parity() const { return m_parity; }
    int stopBits() const { return m_stopBits; }
    QString name() const;
    // The time the line needs to carry this many bytes, gaps left out.
    double wireMs(int bytes) const { return 1000.0 * bytes * m_bitsPerByte / m_baud; }

private:
    int m_baud;
    char m_parity;
    int m_stopBits;
    int m_bitsPerByte;
    QString m_port;
    QProcess m_instrument;
    QProcess m_relay;
};

struct Samples
{
    QVector<double> ms;
    QVector<double> cpuMsPerRun;
    int failures = 0;
    void add(double value)
    {
        if (value < 0)
            ++failures;
        else
            ms << value;
    }
};

// One line of the table. Latency rows fill the reference columns; the others
// leave them empty and give a goal instead.
struct Row
{
    QString what;
    QString window;
    QString bareQt;
    QString libmodbus;
    QString floor;
    QString goal;
    QString verdict;
};

class Table
{
public:
    void add(const Row &row) { m_rows << row; }
    // A latency row: the window against each yardstick, with the ratios.
    void addLatency(const QString &what, const Samples &window, const Samples *bareQt,
                    const Samples *libmodbus, double floorMs);
    void addNote(const QString &note) { m_notes << note; }
    void print(QTextStream &out) const;

private:
    QVector<Row> m_rows;
    QStringList m_notes;
};

QString figure(double value, int decimals = 1);
QString verdict(bool met);

// The parts run from main; each adds its rows.
void runLink(const Plan &plan, Table &table);
void runCommands(const Plan &plan, Table &table);
void runConsoleRows(const Plan &plan, Table &table);
void runIdleRow(const Plan &plan, Table &table);
void runStartupRows(const Plan &plan, Table &table);
void runTrendRows(const Plan &plan, Table &table);
// A day of polls, ending now, as the trend rows draw it.
void fillDay(ValueHistory &history);
void runTrendPoll(const Plan &plan, Table &table);

// What the child processes do: each prints key=value lines for the driver.
int consoleChild(int argc, char **argv);
int idleChild(int argc, char **argv);
int startupChild(int argc, char **argv, qint64 mainEntryNs);

// Runs this program again as a child with the arguments; its key=value lines.
QHash<QString, QString> runChild(const QStringList &arguments, int timeoutMs,
                                 const QProcessEnvironment &environment
                                 = QProcessEnvironment::systemEnvironment());
qint64 monotonicNs();

} // namespace Bench

#endif // METERCONFIG_BENCHSUPPORT_H
