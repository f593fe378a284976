#include "meterlink.h"

#include "exchangequeue.h"
#include "replies.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QModbusReply>
#include <QModbusRtuSerialMaster>
#include <QModbusTcpClient>
#include <QSerialPort>
#include <QTimer>
#include <QVariant>

namespace {

QString exceptionName(int code)
{
    switch (code) {
    case 0x01:
        return QStringLiteral("illegal function");
    case 0x02:
        return QStringLiteral("illegal data address");
    case 0x03:
        return QStringLiteral("illegal data value");
    case 0x04:
        return QStringLiteral("server device failure");
    case 0x05:
        return QStringLiteral("acknowledge");
    case 0x06:
        return QStringLiteral("server device busy");
    case 0x08:
        return QStringLiteral("memory parity error");
    case 0x0A:
        return QStringLiteral("gateway path unavailable");
    case 0x0B:
        return QStringLiteral("gateway target device failed to respond");
    default:
        return QStringLiteral("unknown exception");
    }
}

QString registers(int start, int count)
{
    return count == 1 ? QString::number(start) : QStringLiteral("%1-%2").arg(start).arg(start + count - 1);
}

} // namespace

MeterLink::MeterLink(const Settings &settings, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
{
    if (settings.tcpHost.isEmpty()) {
        auto *rtu = new QModbusRtuSerialMaster(this);
        rtu->setConnectionParameter(QModbusDevice::SerialPortNameParameter, settings.portName);
        rtu->setConnectionParameter(QModbusDevice::SerialDataBitsParameter, QSerialPort::Data8);
        m_client = rtu;
    } else {
        auto *tcp = new QModbusTcpClient(this);
        tcp->setConnectionParameter(QModbusDevice::NetworkAddressParameter, settings.tcpHost);
        tcp->setConnectionParameter(QModbusDevice::NetworkPortParameter, settings.tcpPort);
        m_client = tcp;
    }
    applySettings();
    m_queue = new ExchangeQueue(m_client, this);
    m_queue->setRetryWrongCount(true);
    // A scan or a clone goes on to the next meter at once.
    m_queue->setQuietPerServer(true);
}

void MeterLink::applySettings()
{
    if (m_settings.tcpHost.isEmpty()) {
        m_client->setConnectionParameter(QModbusDevice::SerialBaudRateParameter, m_settings.line.baudRate);
        m_client->setConnectionParameter(QModbusDevice::SerialParityParameter,
                                         m_settings.line.serialParity());
        m_client->setConnectionParameter(QModbusDevice::SerialStopBitsParameter,
                                         m_settings.line.serialStopBits());
    }
    m_client->setTimeout(m_settings.timeoutMs);
    m_client->setNumberOfRetries(m_settings.retries);
}

double MeterLink::characterMicroseconds(const MeterSchema::LineSettings &line)
{
    const int bits = 1 + 8 + (line.parity == MeterSchema::Parity::None ? 0 : 1) + line.stopBits;
    return bits * 1e6 / line.baudRate;
}

bool MeterLink::reopen(const MeterSchema::LineSettings &line, int timeoutMs, int retries, QString *error)
{
    close();
    m_settings.line = line;
    m_settings.timeoutMs = timeoutMs;
    m_settings.retries = retries;
    applySettings();
    return open(error);
}

void MeterLink::setRetries(int retries)
{
    m_settings.retries = retries;
    m_client->setNumberOfRetries(retries);
}

bool MeterLink::portExists() const
{
#ifdef Q_OS_WIN
    return true;
#else
    // A port given by its name alone ("ttyUSB0") lives in /dev.
    const QString &name = m_settings.portName;
    return !m_settings.tcpHost.isEmpty()
        || QFileInfo::exists(name.contains(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name);
#endif
}

bool MeterLink::isOpen() const
{
    return m_client->state() == QModbusDevice::ConnectedState;
}

MeterLink::~MeterLink()
{
    close();
}

QString MeterLink::where() const
{
    if (m_settings.tcpHost.isEmpty())
        return m_settings.portName;
    return QStringLiteral("gateway %1:%2").arg(m_settings.tcpHost).arg(m_settings.tcpPort);
}

bool MeterLink::open(QString *error)
{
    m_portLost = false;
    if (!m_client->connectDevice()) {
        *error = QStringLiteral("cannot open %1: %2").arg(where(), m_client->errorString());
        return false;
    }
    // A serial port opens at once; a TCP connection takes a moment.
    if (m_client->state() == QModbusDevice::ConnectingState) {
        QEventLoop loop;
        QTimer limit;
        limit.setSingleShot(true);
        connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        connect(m_client, &QModbusDevice::stateChanged, &loop, &QEventLoop::quit);
        connect(m_client, &QModbusDevice::errorOccurred, &loop, &QEventLoop::quit);
        limit.start(m_settings.timeoutMs * (m_settings.retries + 1));
        while (m_client->state() == QModbusDevice::ConnectingState && limit.isActive())
            loop.exec();
    }
    if (m_client->state() != QModbusDevice::ConnectedState) {
        const QString reason = m_client->error() != QModbusDevice::NoError
            ? m_client->errorString()
            : QStringLiteral("no connection in time");
        *error = QStringLiteral("cannot open %1: %2").arg(where(), reason);
        m_client->disconnectDevice();
        return false;
    }
    watchPort();
    return true;
}

void MeterLink::watchPort()
{
    // The client owns its serial port and, when the port is gone, would keep
    // a request that never moves again: the window's rule closes it at once.
    auto *port = m_client->findChild<QSerialPort *>();
    if (!port || port == m_watchedPort)
        return;
    m_watchedPort = port;
    watchPortLoss(port, this, [this] {
        if (!isOpen())
            return;
        m_portLost = true;
        close();
        emit portLost();
    });
}

void MeterLink::close()
{
    if (m_client->state() != QModbusDevice::UnconnectedState)
        m_client->disconnectDevice();
}

MeterLink::Result MeterLink::readHolding(int start, int count)
{
    return exchange(QModbusDataUnit(QModbusDataUnit::HoldingRegisters, start, quint16(count)), false,
                    QStringLiteral("reading %1").arg(registers(start, count)));
}

MeterLink::Result MeterLink::readInput(int start, int count)
{
    return exchange(QModbusDataUnit(QModbusDataUnit::InputRegisters, start, quint16(count)), false,
                    QStringLiteral("reading input registers %1").arg(registers(start, count)));
}

MeterLink::Result MeterLink::writeHolding(int start, const QVector<quint16> &words)
{
    return exchange(QModbusDataUnit(QModbusDataUnit::HoldingRegisters, start, words), true,
                    QStringLiteral("writing %1").arg(registers(start, words.size())));
}

MeterLink::Result MeterLink::exchange(const QModbusDataUnit &unit, bool write, const QString &what)
{
    QEventLoop loop;
    // The reply handed out last, and whether it reached its end: one that
    // the queue asks again for drops out of sight without reaching it.
    QPointer<QModbusReply> reply;
    bool done = false;
    int released = -2; // still on its way
    QElapsedTimer clock;
    // A client whose port broke under it may never finish a reply.
    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(m_queue, &ExchangeQueue::released, &loop, [&](int answered) {
        released = answered;
        loop.quit();
    });
    connect(m_client, &QModbusDevice::stateChanged, &loop, &QEventLoop::quit);
    const auto attach = [&](QModbusReply *handed) {
        reply = handed;
        if (!clock.isValid())
            clock.start();
        limit.start((m_settings.retries + 1) * m_settings.timeoutMs + 1000);
        connect(handed, &QModbusReply::finished, &loop, [&] {
            done = true;
            loop.quit();
        });
    };
    if (write)
        m_queue->write(unit, m_settings.serverAddress, attach);
    else
        m_queue->read(unit, m_settings.serverAddress, attach);
    const auto hung = [&] {
        return reply && !reply->isFinished() && !limit.isActive();
    };
    while (!done && released == -2 && isOpen() && !hung())
        loop.exec();

    const QString server = QStringLiteral("server %1 at %2").arg(m_settings.serverAddress).arg(where());
    Result result = done ? finish(reply, what) : Result();
    result.elapsedUs = clock.isValid() ? clock.nsecsElapsed() / 1000 : 0;
    if (done)
        return result;
    if (released >= 0) {
        result.error = QStringLiteral("%1 answered %2 with %3 words instead of %4")
                           .arg(server, what)
                           .arg(released)
                           .arg(unit.valueCount());
    } else if (released == -1 || !reply) {
        const QString reason = m_portLost ? QStringLiteral("the port is gone") : m_client->errorString();
        result.error = QStringLiteral("%1: %2 not sent: %3").arg(server, what, reason);
    } else {
        result.error = QStringLiteral("%1: %2 got no reply from the Modbus client").arg(server, what);
        close();
    }
    return result;
}

MeterLink::Result MeterLink::finish(QModbusReply *reply, const QString &what)
{
    Result result;
    const QString server = QStringLiteral("server %1 at %2").arg(m_settings.serverAddress).arg(where());
    // An exception response carries just its code. (QModbusPdu's inline
    // accessors keep the function code with its exception bit in an enum
    // that cannot hold it, so they are not used here.)
    const QByteArray pdu = reply->rawResult().data();
    switch (reply->error()) {
    case QModbusDevice::NoError:
        // The queue lets a read's reply through only with the count asked for.
        result.words = reply->result().values();
        result.ok = true;
        result.kind = Result::Good;
        break;
    case QModbusDevice::TimeoutError:
        result.kind = Result::Timeout;
        result.error = QStringLiteral("no answer from %1 %2 (%3 tries of %4 ms)")
                           .arg(server, what)
                           .arg(m_settings.retries + 1)
                           .arg(m_settings.timeoutMs);
        break;
    case QModbusDevice::ProtocolError:
        if (pdu.size() == 1) {
            const int code = quint8(pdu.at(0));
            result.kind = Result::Exception;
            result.error = QStringLiteral("%1 refused %2: exception %3 (%4)")
                               .arg(server, what)
                               .arg(code)
                               .arg(exceptionName(code));
            break;
        }
        Q_FALLTHROUGH();
    default:
        result.error
            = QStringLiteral("%1: %2 failed: %3")
                  .arg(server, what, m_portLost ? QStringLiteral("the port is gone") : reply->errorString());
        break;
    }
    reply->deleteLater();
    return result;
}
