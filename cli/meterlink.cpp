#include "meterlink.h"

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
        rtu->setConnectionParameter(QModbusDevice::SerialBaudRateParameter, settings.baudRate);
        rtu->setConnectionParameter(QModbusDevice::SerialDataBitsParameter, QSerialPort::Data8);
        rtu->setConnectionParameter(QModbusDevice::SerialParityParameter,
                                    settings.parity == 'O'       ? QSerialPort::OddParity
                                        : settings.parity == 'E' ? QSerialPort::EvenParity
                                                                 : QSerialPort::NoParity);
        rtu->setConnectionParameter(QModbusDevice::SerialStopBitsParameter,
                                    settings.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
        m_client = rtu;
    } else {
        auto *tcp = new QModbusTcpClient(this);
        tcp->setConnectionParameter(QModbusDevice::NetworkAddressParameter, settings.tcpHost);
        tcp->setConnectionParameter(QModbusDevice::NetworkPortParameter, settings.tcpPort);
        m_client = tcp;
    }
    m_client->setTimeout(settings.timeoutMs);
    m_client->setNumberOfRetries(settings.retries);
}

double MeterLink::characterMicroseconds(int baudRate, char parity, int stopBits)
{
    const int bits = 1 + 8 + (parity == 'N' ? 0 : 1) + stopBits;
    return bits * 1e6 / baudRate;
}

bool MeterLink::reopen(int baudRate, char parity, int stopBits, int timeoutMs, int retries, QString *error)
{
    close();
    m_settings.baudRate = baudRate;
    m_settings.parity = parity;
    m_settings.stopBits = stopBits;
    m_settings.timeoutMs = timeoutMs;
    m_settings.retries = retries;
    m_client->setConnectionParameter(QModbusDevice::SerialBaudRateParameter, baudRate);
    m_client->setConnectionParameter(QModbusDevice::SerialParityParameter,
                                     parity == 'O'       ? QSerialPort::OddParity
                                         : parity == 'E' ? QSerialPort::EvenParity
                                                         : QSerialPort::NoParity);
    m_client->setConnectionParameter(QModbusDevice::SerialStopBitsParameter,
                                     stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
    m_client->setTimeout(timeoutMs);
    m_client->setNumberOfRetries(retries);
    return open(error);
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
    return true;
}

void MeterLink::close()
{
    if (m_client->state() != QModbusDevice::UnconnectedState)
        m_client->disconnectDevice();
}

MeterLink::Result MeterLink::readHolding(int start, int count)
{
    const QModbusDataUnit unit(QModbusDataUnit::HoldingRegisters, start, quint16(count));
    return finish(m_client->sendReadRequest(unit, m_settings.serverAddress),
                  QStringLiteral("reading %1").arg(registers(start, count)), count);
}

MeterLink::Result MeterLink::readInput(int start, int count)
{
    const QModbusDataUnit unit(QModbusDataUnit::InputRegisters, start, quint16(count));
    return finish(m_client->sendReadRequest(unit, m_settings.serverAddress),
                  QStringLiteral("reading input registers %1").arg(registers(start, count)), count);
}

MeterLink::Result MeterLink::writeHolding(int start, const QVector<quint16> &words)
{
    const QModbusDataUnit unit(QModbusDataUnit::HoldingRegisters, start, words);
    return finish(m_client->sendWriteRequest(unit, m_settings.serverAddress),
                  QStringLiteral("writing %1").arg(registers(start, words.size())), 0);
}

MeterLink::Result MeterLink::finish(QModbusReply *reply, const QString &what, int expectedWords)
{
    Result result;
    const QString server = QStringLiteral("server %1 at %2").arg(m_settings.serverAddress).arg(where());
    if (!reply) {
        result.error = QStringLiteral("%1: %2 not sent: %3").arg(server, what, m_client->errorString());
        return result;
    }
    QElapsedTimer clock;
    clock.start();
    if (!reply->isFinished()) {
        // A client whose port broke under it may never finish a reply.
        QEventLoop loop;
        QTimer limit;
        limit.setSingleShot(true);
        connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        connect(reply, &QModbusReply::finished, &loop, &QEventLoop::quit);
        limit.start((m_settings.retries + 1) * m_settings.timeoutMs + 1000);
        loop.exec();
    }
    if (!reply->isFinished()) {
        result.error = QStringLiteral("%1: %2 got no reply from the Modbus client").arg(server, what);
        result.elapsedUs = clock.nsecsElapsed() / 1000;
        reply->deleteLater();
        close();
        return result;
    }
    result.elapsedUs = clock.nsecsElapsed() / 1000;
    // An exception response carries just its code. (QModbusPdu's inline
    // accessors keep the function code with its exception bit in an enum
    // that cannot hold it, so they are not used here.)
    const QByteArray pdu = reply->rawResult().data();
    switch (reply->error()) {
    case QModbusDevice::NoError:
        result.words = reply->result().values();
        // A short reply must not pass for a table of zeros.
        result.ok = expectedWords == 0 || result.words.size() == expectedWords;
        result.kind = result.ok ? Result::Good : Result::OtherError;
        if (!result.ok)
            result.error = QStringLiteral("%1 answered %2 with %3 words instead of %4")
                               .arg(server, what)
                               .arg(result.words.size())
                               .arg(expectedWords);
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
        result.error = QStringLiteral("%1: %2 failed: %3").arg(server, what, reply->errorString());
        break;
    }
    reply->deleteLater();
    return result;
}
