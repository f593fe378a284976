#include "benchsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QTextStream>

#include <algorithm>
#include <time.h>

namespace Bench {

double median(QVector<double> samples)
{
    if (samples.isEmpty())
        return -1.0;
    std::sort(samples.begin(), samples.end());
    const int mid = samples.size() / 2;
    return samples.size() % 2 ? samples.at(mid) : (samples.at(mid - 1) + samples.at(mid)) / 2.0;
}

double clockMs(clockid_t clock)
{
    timespec t;
    clock_gettime(clock, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double cpuMs()
{
    return clockMs(CLOCK_PROCESS_CPUTIME_ID);
}

qint64 monotonicNs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

QString programPath(const QString &name)
{
    const QDir here(QCoreApplication::applicationDirPath());
    for (const QString &candidate :
         { here.filePath(name), here.filePath(QStringLiteral("../sim/") + name) }) {
        if (QFileInfo(candidate).isExecutable())
            return QFileInfo(candidate).absoluteFilePath();
    }
    return QString();
}

Stopwatch::Stopwatch()
{
    m_limit.setSingleShot(true);
    QObject::connect(&m_limit, &QTimer::timeout, &m_loop, &QEventLoop::quit);
}

void Stopwatch::start()
{
    m_finished = -1;
    m_clock.start();
}

void Stopwatch::done()
{
    if (m_finished < 0)
        m_finished = m_clock.nsecsElapsed();
    m_loop.quit();
}

double Stopwatch::wait(int limitMs)
{
    if (m_finished < 0) {
        m_limit.start(limitMs);
        m_loop.exec();
        m_limit.stop();
    }
    return m_finished < 0 ? -1.0 : m_finished / 1e6;
}

void ShownWatch::expect(const QList<QWidget *> &widgets)
{
    m_widgets = widgets;
    m_onScreen.clear();
    m_changed.clear();
    m_painted.clear();
    m_done = false;
    for (QWidget *widget : widgets) {
        // Scrolled out of view or on a hidden page, a widget is not painted.
        if (widget->isVisible() && !widget->visibleRegion().isEmpty())
            m_onScreen.insert(widget);
        widget->installEventFilter(this);
    }
}

void ShownWatch::changed(QWidget *widget)
{
    m_changed.insert(widget);
    check();
}

bool ShownWatch::eventFilter(QObject *object, QEvent *event)
{
    if (event->type() == QEvent::Paint && m_changed.contains(object)) {
        m_painted.insert(object);
        check();
    }
    return false;
}

void ShownWatch::check()
{
    if (m_done || m_changed.size() < m_widgets.size() || m_painted.size() < m_onScreen.size())
        return;
    m_done = true;
    for (QWidget *widget : qAsConst(m_widgets))
        widget->removeEventFilter(this);
    // Counted once the painting is over, so the finished picture is in.
    QTimer::singleShot(0, this, [this]() { m_watch.done(); });
}

Line::Line(int baud, char parity, int stopBits)
    : m_baud(baud)
    , m_parity(parity)
    , m_stopBits(stopBits)
    , m_bitsPerByte(1 + 8 + (parity == 'N' ? 0 : 1) + stopBits)
{ }

Line::~Line()
{
    for (QProcess *process : { &m_relay, &m_instrument }) {
        if (process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(3000))
                process->kill();
            process->waitForFinished(1000);
        }
    }
}

QString Line::name() const
{
    return QStringLiteral("%1 8%2%3").arg(m_baud).arg(QLatin1Char(m_parity)).arg(m_stopBits);
}

namespace {

QString firstLine(QProcess &process, const QString &program, const QStringList &arguments)
{
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForStarted(5000))
        return QString();
    while (!process.canReadLine() && process.waitForReadyRead(5000)) { }
    return QString::fromLocal8Bit(process.readLine()).trimmed();
}

} // namespace

bool Line::start(const QStringList &instrumentArguments, QString *error)
{
    const QString sim = programPath(QStringLiteral("metersim"));
    const QString relay = programPath(QStringLiteral("bench_line"));
    if (sim.isEmpty() || relay.isEmpty()) {
        *error = QStringLiteral("metersim or bench_line not built");
        return false;
    }
    const QString simPort = firstLine(m_instrument, sim, instrumentArguments);
    if (simPort.isEmpty()) {
        *error = QStringLiteral("metersim did not start");
        return false;
    }
    m_port = firstLine(m_relay, relay, { simPort, QString::number(m_baud), QString::number(m_bitsPerByte) });
    if (m_port.isEmpty()) {
        *error = QStringLiteral("bench_line did not start");
        return false;
    }
    return true;
}

QString figure(double value, int decimals)
{
    return value < 0 ? QStringLiteral("–") : QString::number(value, 'f', decimals);
}

QString verdict(bool met)
{
    return met ? QStringLiteral("met") : QStringLiteral("**not met**");
}

namespace {

QString against(double window, double reference, double referenceCpu)
{
    if (reference <= 0)
        return QStringLiteral("–");
    if (window <= 0)
        return figure(reference, 2);
    QString text = QStringLiteral("%1 (×%2)").arg(figure(reference, 2)).arg(window / reference, 0, 'f', 3);
    if (referenceCpu >= 0)
        text += QStringLiteral(", cpu %1").arg(figure(referenceCpu, 2));
    return text;
}

} // namespace

void Table::addLatency(const QString &what, const Samples &window, const Samples *bareQt,
                       const Samples *libmodbus, double floorMs)
{
    const double w = median(window.ms);
    const double b = bareQt ? median(bareQt->ms) : -1;
    Row row;
    row.what = what;
    row.window = QStringLiteral("%1, cpu %2").arg(figure(w, 2), figure(median(window.cpuMsPerRun), 2));
    if (bareQt)
        row.bareQt = against(w, b, median(bareQt->cpuMsPerRun));
    if (libmodbus)
        row.libmodbus = against(w, median(libmodbus->ms), median(libmodbus->cpuMsPerRun));
    row.floor = against(w, floorMs, -1);
    const int failures
        = window.failures + (bareQt ? bareQt->failures : 0) + (libmodbus ? libmodbus->failures : 0);
    if (failures)
        row.verdict = QStringLiteral("%1 runs failed").arg(failures);
    add(row);
}

void Table::print(QTextStream &out) const
{
    const QStringList header { QStringLiteral("measurement (median ms; cpu ms per run)"),
                               QStringLiteral("window"),
                               QStringLiteral("bare Qt client"),
                               QStringLiteral("libmodbus"),
                               QStringLiteral("wire floor"),
                               QStringLiteral("goal"),
                               QStringLiteral("verdict") };
    const auto line = [&out](const QStringList &cells) {
        out << "| " << cells.join(QStringLiteral(" | ")) << " |\n";
    };
    line(header);
    QStringList rule;
    for (int i = 0; i < header.size(); ++i)
        rule << QStringLiteral("---");
    line(rule);
    for (const Row &row : m_rows)
        line({ row.what, row.window, row.bareQt, row.libmodbus, row.floor, row.goal, row.verdict });
    out << "\n";
    for (const QString &note : m_notes)
        out << note << "\n";
    out.flush();
}

QHash<QString, QString> runChild(const QStringList &arguments, int timeoutMs,
                                 const QProcessEnvironment &environment)
{
    QHash<QString, QString> values;
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), arguments);
    if (!child.waitForFinished(timeoutMs)) {
        child.kill();
        child.waitForFinished(1000);
        return values;
    }
    const QStringList lines = QString::fromLocal8Bit(child.readAllStandardOutput()).split(QLatin1Char('\n'));
    for (const QString &text : lines) {
        const int equals = text.indexOf(QLatin1Char('='));
        if (equals > 0)
            values.insert(text.left(equals).trimmed(), text.mid(equals + 1).trimmed());
    }
    return values;
}

} // namespace Bench
