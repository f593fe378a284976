#include "meterwatch.h"

#include "interruption.h"
#include "mqttpublisher.h"
#include "registercodec.h"
#include "valuerows.h"

#include <QCoreApplication>
#include <QDateTime>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using namespace RegisterCodec;

namespace {

QVector<int> scheduled(const MeterLink &link, const MeterWatch::Options &options)
{
    return options.addresses.isEmpty() ? QVector<int> { link.settings().serverAddress } : options.addresses;
}

} // namespace

MeterWatch::MeterWatch(MeterLink &link, const Options &options, QTextStream &out, QTextStream &err,
                       MqttPublisher *publisher)
    : m_link(link)
    , m_options(options)
    , m_out(out)
    , m_err(err)
    , m_publisher(publisher)
    , m_schedule(scheduled(link, options), options.offlineAfter, options.offlineRetryMs)
    , m_bus(ValueRows::busName(link.settings().portName, link.settings().tcpHost, link.settings().tcpPort))
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(options.intervalMs);
    connect(&m_timer, &QTimer::timeout, this, &MeterWatch::tick);
    // Said at once, even while the poll that meets the loss still waits.
    connect(&m_link, &MeterLink::portLost, this, &MeterWatch::sayLost);
}

void MeterWatch::sayLost()
{
    if (m_lost)
        return;
    m_lost = true;
    m_err << "meterctl: the port is gone; reopening it every " << ReopenIntervalMs / 1000 << " s" << Qt::endl;
}

int MeterWatch::run(Interruption *interruption)
{
    if (!m_options.outPath.isEmpty()) {
        m_file.setFileName(m_options.outPath);
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
            m_err << "meterctl: " << m_options.outPath << ": " << m_file.errorString() << Qt::endl;
            return 4;
        }
        m_fileStream.setDevice(&m_file);
    }
    QTextStream &rows = m_file.isOpen() ? m_fileStream : m_out;
    if (m_options.format == Csv && (!m_file.isOpen() || m_file.size() == 0)) {
        rows << ValueRows::csvHeader(several()) << '\n';
        rows.flush();
    }
    if (interruption)
        connect(interruption, &Interruption::requested, this, &MeterWatch::finish);
    m_clock.start();
    m_timer.start();
    m_busy = true;
    QTimer::singleShot(0, this, &MeterWatch::cycle);
    QCoreApplication::exec();
    m_timer.stop();
    m_link.close();
    if (m_publisher)
        m_publisher->stop();
    printFigures();
    return 0;
}

void MeterWatch::finish()
{
    m_stopping = true;
    m_link.close();
    QCoreApplication::exit(0);
}

void MeterWatch::tick()
{
    if (m_stopping)
        return;
    // The interval goes on while a request waits for its answer. One meter
    // gets a row saying so; several run their cycles back to back instead.
    if (m_busy) {
        if (several())
            m_overran = true;
        else
            row(m_link.settings().serverAddress, {}, QStringLiteral("previous request still unanswered"));
        return;
    }
    m_busy = true;
    // Out of the timer's own slot: Qt does not fire a timer again while
    // its slot runs, and the exchanges wait in nested loops.
    QTimer::singleShot(0, this, &MeterWatch::cycle);
}

void MeterWatch::cycle()
{
    m_answeredMs = 0;
    for (const PollSchedule::Turn &turn : m_schedule.cycle(m_clock.elapsed())) {
        if (m_stopping)
            return;
        if (turn.ask)
            pollMeter(turn.address);
        else
            row(turn.address, {}, m_offlineSince.value(turn.address));
    }
    endCycle();
}

void MeterWatch::endCycle()
{
    m_busy = false;
    ++m_cycles;
    if (several() && m_options.count > 0 && m_cycles >= m_options.count)
        return finish();
    if (!m_overran || m_stopping)
        return;
    m_overran = false;
    // Timeouts of failing meters may stretch a cycle now and then; only the
    // meters that answer taking longer than the interval is worth a word.
    if (!m_overrunTold && m_answeredMs > m_options.intervalMs) {
        m_overrunTold = true;
        m_err << "meterctl: a cycle through the meters that answer takes " << m_answeredMs
              << " ms, longer than the interval of " << m_options.intervalMs
              << " ms; polling back to back, as fast as the line allows" << Qt::endl;
    }
    m_timer.start(); // the next interval counts from this cycle
    m_busy = true;
    QTimer::singleShot(0, this, &MeterWatch::cycle);
}

void MeterWatch::pollMeter(int address)
{
    QVector<quint16> words;
    QString error;
    // An offline meter is tried once: a dead one costs one timeout per retry period.
    const int retries = m_link.settings().retries;
    if (m_schedule.isOffline(address))
        m_link.setRetries(0);
    const qint64 started = m_clock.elapsed();
    const Outcome outcome = exchange(address, &words, &error);
    m_link.setRetries(retries);
    if (outcome == Outcome::Good)
        m_answeredMs += m_clock.elapsed() - started;
    if (outcome != Outcome::PortDown) {
        const PollSchedule::Change change
            = m_schedule.record(address, outcome == Outcome::Good, m_clock.elapsed());
        tell(address, change);
        if (outcome == Outcome::Failed && m_schedule.isOffline(address)
            && change == PollSchedule::Change::None)
            error = m_offlineSince.value(address);
    }
    row(address, words, error);
}

void MeterWatch::tell(int address, PollSchedule::Change change)
{
    if (change == PollSchedule::Change::WentOffline) {
        m_offlineSince.insert(address,
                              QStringLiteral("offline since ")
                                  + QTime::currentTime().toString(QStringLiteral("HH:mm:ss")));
        m_err << "meterctl: meter " << address << " is offline after " << m_options.offlineAfter
              << " failed polls; asking it every " << m_options.offlineRetryMs / 1000.0 << " s" << Qt::endl;
    } else if (change == PollSchedule::Change::CameBack) {
        m_offlineSince.remove(address);
        m_err << "meterctl: meter " << address << " answers again" << Qt::endl;
    }
    if (m_publisher && change != PollSchedule::Change::None)
        m_publisher->setMeterState(address, change == PollSchedule::Change::CameBack);
}

bool MeterWatch::portReady(QString *error)
{
    if (m_link.isOpen())
        return true;
    if (m_wasOpen)
        sayLost();
    if (m_clock.elapsed() - m_lastReopen < ReopenIntervalMs) {
        *error = QStringLiteral("port closed");
        return false;
    }
    m_lastReopen = m_clock.elapsed();
    const MeterLink::Settings &settings = m_link.settings();
    if (!m_link.reopen(settings.line, settings.timeoutMs, settings.retries, error))
        return false;
    if (m_lost)
        m_err << "meterctl: the port is back" << Qt::endl;
    m_lost = false;
    m_wasOpen = true;
    m_channelCounts.clear();
    return true;
}

MeterWatch::Outcome MeterWatch::exchange(int address, QVector<quint16> *words, QString *error)
{
    if (!portReady(error))
        return Outcome::PortDown;
    m_link.setServerAddress(address);
    if (!m_channelCounts.contains(address)) {
        const MeterLink::Result system = counted(address, m_link.readHolding(ChannelCountRegister, 1));
        if (!system.ok) {
            *error = system.error;
            return m_link.isOpen() ? Outcome::Failed : Outcome::PortDown;
        }
        m_channelCounts.insert(address, system.words.first());
    }
    const MeterLink::Result values
        = counted(address, m_link.readInput(MeasuredValueStart, MeasuredValueCount));
    if (!values.ok) {
        *error = values.error;
        return m_link.isOpen() ? Outcome::Failed : Outcome::PortDown;
    }
    *words = values.words;
    if (m_publisher)
        m_publisher->setMeterState(address, true);
    return Outcome::Good;
}

MeterLink::Result MeterWatch::counted(int address, const MeterLink::Result &result)
{
    m_total.count(result);
    m_perMeter[address].count(result);
    if (!result.ok && (result.kind == MeterLink::Result::OtherError || !m_link.portExists()))
        m_link.close();
    return result;
}

void MeterWatch::row(int address, const QVector<quint16> &values, const QString &reason)
{
    if (m_stopping || (!several() && m_options.count > 0 && m_rows >= m_options.count))
        return;
    ++m_rows;
    const QDateTime now = QDateTime::currentDateTime();
    const int column = several() ? address : 0;
    const int channels = m_channelCounts.value(address, -1);
    QTextStream &rows = m_file.isOpen() ? m_fileStream : m_out;
    switch (m_options.format) {
    case Csv:
        rows << ValueRows::csvRow(now, column, values, channels, reason) << '\n';
        break;
    case Jsonl:
        rows << ValueRows::jsonlRow(now, column, values, channels, reason) << '\n';
        break;
    case Influx:
        rows << ValueRows::influxLine(now, m_bus, address, values, channels, reason) << '\n';
        break;
    default:
        rows << ValueRows::tableRow(now, column, values, channels, reason) << '\n';
        break;
    }
    rows.flush();
#ifdef Q_OS_UNIX
    // On the disk, not only in the system's cache: a power cut loses at most this row.
    if (m_file.isOpen())
        ::fsync(m_file.handle());
#endif
    if (m_publisher)
        m_publisher->publishValues(address, ValueRows::message(now, address, values, channels, reason));
    if (!several() && m_options.count > 0 && m_rows >= m_options.count)
        finish();
}

void MeterWatch::printFigures()
{
    m_err << m_total.text() << '\n';
    if (several()) {
        for (auto meter = m_perMeter.cbegin(); meter != m_perMeter.cend(); ++meter)
            m_err << "meter " << meter.key() << ": " << QString(meter.value().text()).replace('\n', "; ")
                  << '\n';
    }
    if (m_publisher)
        m_err << m_publisher->figures() << '\n';
    m_err.flush();
}
