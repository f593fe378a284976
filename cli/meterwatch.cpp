#include "meterwatch.h"

#include "interruption.h"
#include "registercodec.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using namespace RegisterCodec;

MeterWatch::MeterWatch(MeterLink &link, const Options &options, QTextStream &out, QTextStream &err)
    : m_link(link)
    , m_options(options)
    , m_out(out)
    , m_err(err)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(options.intervalMs);
    connect(&m_timer, &QTimer::timeout, this, &MeterWatch::poll);
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
        rows << "time";
        for (int c = 1; c <= MeasuredValueCount; ++c)
            rows << ",ch" << c;
        rows << ",error\n";
        rows.flush();
    }
    if (interruption) {
        connect(interruption, &Interruption::requested, this, [this] {
            m_stopping = true;
            m_link.close();
            QCoreApplication::exit(0);
        });
    }
    m_clock.start();
    m_timer.start();
    QTimer::singleShot(0, this, &MeterWatch::poll);
    QCoreApplication::exec();
    m_timer.stop();
    m_link.close();
    printFigures();
    return 0;
}

void MeterWatch::count(const MeterLink::Result &result)
{
    ++m_requests;
    switch (result.kind) {
    case MeterLink::Result::Good:
        ++m_good;
        m_responseUs << result.elapsedUs;
        break;
    case MeterLink::Result::Timeout:
        ++m_timeouts;
        break;
    case MeterLink::Result::Exception:
        ++m_exceptions;
        break;
    default:
        ++m_otherErrors;
        break;
    }
}

void MeterWatch::poll()
{
    if (m_options.count > 0 && m_rows >= m_options.count)
        return;
    // The interval goes on while a request waits for its answer.
    if (m_busy) {
        row({}, QStringLiteral("previous request still unanswered"));
        return;
    }
    m_busy = true;
    // Out of the timer's own slot: Qt does not fire a timer again while
    // its slot runs, and the exchange below waits in a nested loop.
    QTimer::singleShot(0, this, &MeterWatch::exchange);
}

void MeterWatch::exchange()
{
    const auto done = qScopeGuard([this] { m_busy = false; });
    if (!m_link.isOpen()) {
        if (m_wasOpen)
            sayLost();
        QString error;
        if (m_clock.elapsed() - m_lastReopen < ReopenIntervalMs) {
            row({}, QStringLiteral("port closed"));
            return;
        }
        m_lastReopen = m_clock.elapsed();
        if (!m_link.reopen(m_link.settings().line, m_link.settings().timeoutMs, m_link.settings().retries,
                           &error)) {
            row({}, error);
            return;
        }
        if (m_lost)
            m_err << "meterctl: the port is back" << Qt::endl;
        m_lost = false;
        m_wasOpen = true;
        m_channelCount = -1;
    }
    if (m_channelCount < 0) {
        const MeterLink::Result system = m_link.readHolding(ChannelCountRegister, 1);
        count(system);
        if (!system.ok && (system.kind == MeterLink::Result::OtherError || !m_link.portExists()))
            m_link.close();
        if (!system.ok) {
            row({}, system.error);
            return;
        }
        m_channelCount = system.words.first();
    }
    const MeterLink::Result values = m_link.readInput(MeasuredValueStart, MeasuredValueCount);
    count(values);
    if (!values.ok && (values.kind == MeterLink::Result::OtherError || !m_link.portExists()))
        m_link.close();
    row(values.ok ? values.words : QVector<quint16>(), values.ok ? QString() : values.error);
}

void MeterWatch::row(const QVector<quint16> &values, const QString &reason)
{
    if (m_stopping || (m_options.count > 0 && m_rows >= m_options.count))
        return;
    ++m_rows;
    const QDateTime now = QDateTime::currentDateTime();
    const QString time = now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs);
    QStringList cells;
    for (int c = 0; c < MeasuredValueCount; ++c)
        cells << (c < values.size() && c < m_channelCount ? signedTenthsText(values.at(c)) : QString());

    QTextStream &rows = m_file.isOpen() ? m_fileStream : m_out;
    switch (m_options.format) {
    case Csv: {
        QString quoted = reason;
        if (quoted.contains(QLatin1Char(',')) || quoted.contains(QLatin1Char('"')))
            quoted = QLatin1Char('"') + quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""))
                + QLatin1Char('"');
        rows << time << ',' << cells.join(QLatin1Char(',')) << ',' << quoted << '\n';
        break;
    }
    case Jsonl: {
        QJsonArray array;
        for (const QString &cell : cells)
            array.append(cell.isEmpty() ? QJsonValue() : QJsonValue(cell.toDouble()));
        QJsonObject object { { "time", time }, { "values", array } };
        if (!reason.isEmpty())
            object.insert(QStringLiteral("error"), reason);
        rows << QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) << '\n';
        break;
    }
    default:
        rows << time.left(23);
        for (const QString &cell : cells)
            rows << ' ' << cell.rightJustified(7);
        if (!reason.isEmpty())
            rows << "  " << reason;
        rows << '\n';
        break;
    }
    rows.flush();
#ifdef Q_OS_UNIX
    // On the disk, not only in the system's cache: a power cut loses at most this row.
    if (m_file.isOpen())
        ::fsync(m_file.handle());
#endif
    if (m_options.count > 0 && m_rows >= m_options.count) {
        m_stopping = true;
        m_link.close();
        QCoreApplication::exit(0);
    }
}

void MeterWatch::printFigures()
{
    std::sort(m_responseUs.begin(), m_responseUs.end());
    const auto ms = [](qint64 us) {
        return QString::number(us / 1000.0, 'f', 1);
    };
    const auto at = [this](double fraction) {
        return m_responseUs.isEmpty() ? 0 : m_responseUs.at(int(fraction * (m_responseUs.size() - 1) + 0.5));
    };
    m_err << "requests " << m_requests << ", good replies " << m_good << ", timeouts " << m_timeouts
          << ", exception replies " << m_exceptions << ", other errors " << m_otherErrors << '\n'
          << "response time median " << ms(at(0.5)) << " ms, 95th percentile " << ms(at(0.95))
          << " ms, maximum " << ms(m_responseUs.isEmpty() ? 0 : m_responseUs.last()) << " ms" << Qt::endl;
}
