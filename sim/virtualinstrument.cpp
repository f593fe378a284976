#include "virtualinstrument.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace ModbusFraming;

namespace {

// A hung-up pty master reports readable forever, so while nobody has the
// slave open the line is polled at this pace instead.
constexpr int LinePollMs = 50;
// Without character timing, a partial frame that stops growing this long
// is taken for noise.
constexpr int StallMs = 100;
constexpr int DriftIntervalMs = 1000;
constexpr int StatusIntervalMs = 1000;
// A close this soon after entering debug mode is the client handing the
// line over to its console.
constexpr int HandOverMs = 500;

speed_t speedFor(qint32 baudRate)
{
    switch (baudRate) {
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    default:
        return B0;
    }
}

QString systemError(const QString &what)
{
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(errno)));
}

// How long a busy instrument takes to turn to a request that waited.
constexpr int QueuedReplyMs = 20;

} // namespace

VirtualInstrument::VirtualInstrument(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<VirtualInstrument::Request>();
    m_busyClock.start();

    m_lineTimer.setInterval(LinePollMs);
    connect(&m_lineTimer, &QTimer::timeout, this, &VirtualInstrument::checkLine);
    m_stallTimer.setSingleShot(true);
    m_stallTimer.setInterval(StallMs);
    connect(&m_stallTimer, &QTimer::timeout, this, &VirtualInstrument::dropStalledByte);
    m_driftTimer.setInterval(DriftIntervalMs);
    connect(&m_driftTimer, &QTimer::timeout, this, [this] { m_model.step(); });
    m_driftTimer.start();
    m_statusTimer.setInterval(StatusIntervalMs);
    connect(&m_statusTimer, &QTimer::timeout, this, &VirtualInstrument::sendStatusLine);
}

VirtualInstrument::~VirtualInstrument()
{
    closePort();
}

bool VirtualInstrument::open(const QString &linkPath)
{
    closePort();
    // Never inherited by a program started meanwhile (a client under test):
    // the line must hang up when this side closes.
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        m_errorString = systemError(QStringLiteral("posix_openpt"));
        return false;
    }
    char name[128];
    if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0 || ::ptsname_r(fd, name, sizeof(name)) != 0) {
        m_errorString = systemError(QStringLiteral("pseudo-terminal setup"));
        ::close(fd);
        return false;
    }
    // On Linux the master's termios calls act on the slave: the client finds
    // a raw line without echo even before it configures the port itself.
    termios settings;
    if (::tcgetattr(fd, &settings) == 0) {
        ::cfmakeraw(&settings);
        ::cfsetspeed(&settings, B115200);
        ::tcsetattr(fd, TCSANOW, &settings);
    }
    const QString slavePath = QString::fromLocal8Bit(name);

    if (!linkPath.isEmpty()) {
        if (QFileInfo(linkPath).isSymLink())
            QFile::remove(linkPath);
        if (::symlink(name, QFile::encodeName(linkPath).constData()) != 0) {
            m_errorString = systemError(QStringLiteral("symlink %1").arg(linkPath));
            ::close(fd);
            return false;
        }
        m_linkPath = linkPath;
    }
    m_portPath = slavePath;
    return startServing(fd, true);
}

bool VirtualInstrument::openDevice(const QString &path, qint32 baudRate, char parity, int stopBits)
{
    closePort();
    const speed_t speed = speedFor(baudRate);
    if (speed == B0 || (parity != 'N' && parity != 'O' && parity != 'E') || stopBits < 1 || stopBits > 2) {
        m_errorString = QStringLiteral("unsupported line settings");
        return false;
    }
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        m_errorString = systemError(path);
        return false;
    }
    termios settings;
    if (::tcgetattr(fd, &settings) != 0) {
        m_errorString = systemError(path);
        ::close(fd);
        return false;
    }
    ::cfmakeraw(&settings);
    ::cfsetspeed(&settings, speed);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cflag &= ~(PARENB | PARODD | CSTOPB | CRTSCTS);
    if (parity != 'N')
        settings.c_cflag |= PARENB;
    if (parity == 'O')
        settings.c_cflag |= PARODD;
    if (stopBits == 2)
        settings.c_cflag |= CSTOPB;
    if (::tcsetattr(fd, TCSANOW, &settings) != 0) {
        m_errorString = systemError(path);
        ::close(fd);
        return false;
    }
    m_portPath = path;
    return startServing(fd, false);
}

bool VirtualInstrument::startServing(int fd, bool isPty)
{
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    m_fd = fd;
    m_isPty = isPty;
    m_buffer.clear();
    m_errorString.clear();
    m_readNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &VirtualInstrument::readAvailable);
    if (isPty) {
        // Until a client opens the slave the master is hung up.
        m_readNotifier->setEnabled(false);
        m_lineTimer.start();
    } else {
        m_lineOpen = true;
        emit lineOpenChanged(true);
    }
    return true;
}

void VirtualInstrument::closePort()
{
    if (m_fd < 0)
        return;
    ++m_generation;
    m_busyUntilMs = 0;
    leaveDebugMode();
    delete m_readNotifier;
    m_readNotifier = nullptr;
    m_lineTimer.stop();
    m_stallTimer.stop();
    ::close(m_fd);
    m_fd = -1;
    m_buffer.clear();
    removeLink();
    if (m_lineOpen) {
        m_lineOpen = false;
        emit lineOpenChanged(false);
    }
}

void VirtualInstrument::removeLink()
{
    if (!m_linkPath.isEmpty() && QFileInfo(m_linkPath).isSymLink())
        QFile::remove(m_linkPath);
    m_linkPath.clear();
}

void VirtualInstrument::setServerAddress(int address)
{
    m_serverAddress = address;
    m_model.setHolding(InstrumentModel::AddressRegister, quint16(address));
}

void VirtualInstrument::setDriftEnabled(bool enabled)
{
    if (enabled)
        m_driftTimer.start();
    else
        m_driftTimer.stop();
}

void VirtualInstrument::readAvailable()
{
    char chunk[512];
    while (m_fd >= 0) {
        const ssize_t n = ::read(m_fd, chunk, sizeof(chunk));
        if (n > 0) {
            const QByteArray bytes(chunk, int(n));
            if (m_debugMode && !isModbusAgain(bytes))
                writeBytes(bytes);
            else
                handleModbusBytes(bytes);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // EIO from a pty master: the last holder of the slave closed it.
        lineHungUp();
        return;
    }
}

void VirtualInstrument::lineHungUp()
{
    m_readNotifier->setEnabled(false);
    m_lineTimer.start();
    m_buffer.clear();
    m_stallTimer.stop();
    // Whatever is still queued belongs to the client that just left.
    ::tcflush(m_fd, TCIOFLUSH);
    if (m_lineOpen) {
        m_lineOpen = false;
        emit lineOpenChanged(false);
    }
    if (m_debugMode && m_debugClock.elapsed() >= HandOverMs)
        leaveDebugMode();
}

void VirtualInstrument::checkLine()
{
    pollfd descriptor = { m_fd, POLLIN, 0 };
    if (::poll(&descriptor, 1, 0) < 0 || (descriptor.revents & POLLHUP))
        return;
    m_lineTimer.stop();
    m_lineOpen = true;
    m_readNotifier->setEnabled(true);
    emit lineOpenChanged(true);
}

bool VirtualInstrument::isModbusAgain(const QByteArray &bytes)
{
    // A client that closes its console and reopens the line for Modbus at
    // once leaves no hang-up to see. A whole request for us, CRC and all,
    // does not turn up in typed text, so it ends the console just the same.
    QByteArray buffer = bytes;
    Request request;
    while (takeRequest(buffer, &request)) {
        if (request.serverAddress == m_serverAddress) {
            leaveDebugMode();
            return true;
        }
    }
    return false;
}

void VirtualInstrument::handleModbusBytes(const QByteArray &bytes)
{
    m_buffer.append(bytes);
    processBuffer();
}

void VirtualInstrument::processBuffer()
{
    Request request;
    while (!m_debugMode && takeRequest(m_buffer, &request))
        handleRequest(request);
    if (m_debugMode)
        m_buffer.clear();
    if (m_buffer.isEmpty())
        m_stallTimer.stop();
    else
        m_stallTimer.start();
}

void VirtualInstrument::dropStalledByte()
{
    if (m_buffer.isEmpty())
        return;
    m_buffer.remove(0, 1);
    processBuffer();
}

void VirtualInstrument::handleRequest(const Request &request)
{
    m_requests.append(request);
    emit requestReceived(request);
    if (!lineMatches() || answerForMate(request))
        return;

    const bool broadcast = request.isBroadcast();
    if (broadcast ? !request.isWrite() : request.serverAddress != m_serverAddress)
        return;

    const Faults faults = broadcast ? Faults() : consumeFaults();
    QByteArray reply;
    if (faults.exceptionCode != 0)
        reply = exceptionReply(quint8(m_serverAddress), request.functionCode, faults.exceptionCode);
    else
        reply = execute(request, faults.withheldRegisters);
    if (!broadcast) {
        const QByteArray previous = m_lastReply;
        m_lastReply = reply;
        if (faults.previousReply && !previous.isEmpty())
            reply = previous;
    }

    if (!broadcast && !faults.silent)
        deliver(reply, faults);
    if (request.isWrite() && faults.exceptionCode == 0
        && m_model.holding(InstrumentModel::DebugRegister) == 1)
        enterDebugMode();
}

QByteArray VirtualInstrument::execute(const Request &request, int withheldRegisters)
{
    const quint8 address = quint8(m_serverAddress);
    if (const quint8 exception = checkRequestShape(request))
        return exceptionReply(address, request.functionCode, exception);

    const int start = request.startAddress;
    const int count = request.quantity;
    switch (request.functionCode) {
    case ReadHoldingRegisters:
    case ReadInputRegisters: {
        const bool holding = request.functionCode == ReadHoldingRegisters;
        if (holding ? !m_model.hasHoldings(start, count) : !m_model.hasInputs(start, count))
            return exceptionReply(address, request.functionCode, IllegalDataAddress);
        QVector<quint16> values;
        const int answered = qBound(0, count - withheldRegisters, count);
        values.reserve(answered);
        for (int i = 0; i < answered; ++i)
            values.append(holding ? m_model.holding(start + i) : m_model.input(start + i));
        return readReply(address, request.functionCode, values);
    }
    case WriteSingleRegister:
    case WriteMultipleRegisters:
        if (!m_model.hasHoldings(start, count))
            return exceptionReply(address, request.functionCode, IllegalDataAddress);
        for (int i = 0; i < count && !m_ignoreWrites; ++i)
            m_model.setHolding(start + i, request.values.at(i));
        if (request.functionCode == WriteSingleRegister)
            return writeSingleReply(address, request.startAddress, request.values.first());
        return writeMultipleReply(address, request.startAddress, request.quantity);
    default:
        return exceptionReply(address, request.functionCode, IllegalFunction);
    }
}

VirtualInstrument::Faults VirtualInstrument::consumeFaults()
{
    if (m_faults.skip > 0) {
        --m_faults.skip;
        return Faults();
    }
    const Faults current = m_faults;
    if (m_faults.count > 0 && --m_faults.count == 0)
        clearFaults();
    return current;
}

void VirtualInstrument::deliver(QByteArray reply, const Faults &faults)
{
    if (faults.replyAddress >= 0) {
        reply.chop(2);
        reply[0] = char(faults.replyAddress);
        reply = withCrc(reply);
    }
    if (faults.corruptCrc) {
        reply[reply.size() - 1] = char(reply.at(reply.size() - 1) ^ 0xFF);
        reply[reply.size() - 2] = char(reply.at(reply.size() - 2) ^ 0xFF);
    }
    if (faults.truncateBytes > 0)
        reply.chop(faults.truncateBytes);
    reply.prepend(faults.garbage);

    int delayMs = qMax(faults.delayMs, faults.lateMs);
    const qint64 now = m_busyClock.elapsed();
    if (m_busyUntilMs > now)
        delayMs = qMax(delayMs, int(m_busyUntilMs - now) + QueuedReplyMs);
    if (faults.lateMs > 0 || m_busyUntilMs > now)
        m_busyUntilMs = now + delayMs;

    const int parts = qBound(1, faults.splitParts, qMax(1, reply.size()));
    if (parts == 1 && delayMs <= 0) {
        writeBytes(reply);
        return;
    }
    const int pieceSize = (reply.size() + parts - 1) / parts;
    const quint32 generation = m_generation;
    for (int i = 0; i * pieceSize < reply.size(); ++i) {
        const QByteArray piece = reply.mid(i * pieceSize, pieceSize);
        const int when = delayMs + i * qMax(0, faults.splitGapMs);
        QTimer::singleShot(when, this, [this, piece, generation] {
            if (generation == m_generation)
                writeBytes(piece);
        });
    }
}

void VirtualInstrument::writeBytes(const QByteArray &bytes)
{
    // Bytes written to a pty master while nobody holds the slave would wait
    // for the next client and confuse it.
    if (m_fd < 0 || !m_lineOpen)
        return;
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        data += n;
        left -= n;
    }
}

void VirtualInstrument::enterDebugMode()
{
    if (m_debugMode)
        return;
    m_debugMode = true;
    m_buffer.clear();
    m_stallTimer.stop();
    m_debugClock.start();
    m_statusTimer.start();
    emit debugModeChanged(true);
}

void VirtualInstrument::leaveDebugMode()
{
    if (!m_debugMode)
        return;
    m_debugMode = false;
    m_statusTimer.stop();
    m_model.setHolding(InstrumentModel::DebugRegister, 0);
    m_buffer.clear();
    emit debugModeChanged(false);
}

void VirtualInstrument::sendStatusLine()
{
    const int channels
        = qMin<int>(m_model.holding(InstrumentModel::ChannelCountRegister), InstrumentModel::ChannelCount);
    QString line = QStringLiteral("STATUS %1 s, address %2, %3 channels:")
                       .arg(m_debugClock.elapsed() / 1000)
                       .arg(m_serverAddress)
                       .arg(channels);
    for (int channel = 0; channel < channels; ++channel) {
        const float value = qint16(m_model.input(channel)) / 10.0f;
        line += QStringLiteral(" CH%1=%2").arg(channel + 1).arg(double(value), 0, 'f', 1);
    }
    line += QStringLiteral("\r\n");
    writeBytes(line.toLatin1());
}

bool VirtualInstrument::listenTcp(quint16 port)
{
    if (!m_tcpServer) {
        m_tcpServer = new QTcpServer(this);
        connect(m_tcpServer, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_tcpServer->nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readTcp(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    if (m_tcpServer->isListening())
        m_tcpServer->close();
    if (!m_tcpServer->listen(QHostAddress::LocalHost, port)) {
        m_errorString = m_tcpServer->errorString();
        return false;
    }
    return true;
}

quint16 VirtualInstrument::tcpPort() const
{
    return m_tcpServer && m_tcpServer->isListening() ? m_tcpServer->serverPort() : 0;
}

void VirtualInstrument::readTcp(QTcpSocket *socket)
{
    // MBAP header: transaction id, protocol id (0), length of what follows
    // (unit id + PDU), unit id. The PDU is an RTU frame without address and
    // CRC, so the line's decoder and register engine serve it unchanged.
    constexpr int HeaderSize = 7;
    // Unit id and the longest PDU Modbus allows (253 bytes).
    constexpr int MaxLength = 254;
    QByteArray buffer = socket->property("mbap").toByteArray() + socket->readAll();
    while (buffer.size() >= HeaderSize) {
        const int length = (quint8(buffer.at(4)) << 8) | quint8(buffer.at(5));
        if (length < 2 || length > MaxLength || buffer.at(2) != 0 || buffer.at(3) != 0) {
            socket->abort();
            return;
        }
        if (buffer.size() < 6 + length)
            break;
        const QByteArray header = buffer.left(HeaderSize);
        const QByteArray whole = withCrc(buffer.mid(6, length));
        QByteArray frame = whole;
        buffer.remove(0, 6 + length);
        Request request;
        if (takeRequest(frame, &request)) {
            answerTcp(socket, header, request);
        } else {
            // Nothing the line would recognise either: a function it lacks.
            request.serverAddress = quint8(header.at(6));
            request.functionCode = quint8(whole.at(1));
            QByteArray reply = exceptionReply(request.serverAddress, request.functionCode, IllegalFunction);
            QByteArray mbap = header;
            mbap[4] = 0;
            mbap[5] = char(reply.size() - 2);
            socket->write(mbap + reply.mid(1, reply.size() - 3));
        }
    }
    socket->setProperty("mbap", buffer);
}

void VirtualInstrument::answerTcp(QTcpSocket *socket, const QByteArray &header, const Request &request)
{
    m_requests.append(request);
    emit requestReceived(request);
    if (request.serverAddress != m_serverAddress)
        return;
    const Faults faults = consumeFaults();
    if (faults.silent)
        return;
    const QByteArray reply = faults.exceptionCode != 0
        ? exceptionReply(quint8(m_serverAddress), request.functionCode, faults.exceptionCode)
        : execute(request, faults.withheldRegisters);
    // Address and CRC off; the header carries the length of unit id + PDU.
    const QByteArray pdu = reply.mid(1, reply.size() - 3);
    QByteArray mbap = header;
    mbap[4] = char((pdu.size() + 1) >> 8);
    mbap[5] = char((pdu.size() + 1) & 0xFF);
    const QPointer<QTcpSocket> target(socket);
    const auto send = [target, message = mbap + pdu] {
        if (target)
            target->write(message);
    };
    if (faults.delayMs > 0)
        QTimer::singleShot(faults.delayMs, this, send);
    else
        send();
}

void VirtualInstrument::setLineSettings(qint32 baudRate, char parity, int stopBits)
{
    m_lineBaudRate = baudRate;
    m_lineParity = parity;
    m_lineStopBits = stopBits;
    // Stored as the instrument keeps them (codes of the tool's lists).
    static constexpr qint32 rates[] = { 4800, 9600, 14400, 19200, 28800, 38400, 57600, 115200 };
    for (quint16 code = 0; code < 8; ++code) {
        if (rates[code] == baudRate)
            m_model.setHolding(InstrumentModel::BaudCodeRegister, code);
    }
    m_model.setHolding(InstrumentModel::ParityRegister, parity == 'O' ? 1 : parity == 'E' ? 2 : 0);
    m_model.setHolding(InstrumentModel::StopBitsRegister, quint16(stopBits));
}

bool VirtualInstrument::lineMatches() const
{
    if (m_lineBaudRate == 0 || !m_isPty)
        return true;
    // The master reports the client's speed but not its parity or stop
    // bits, so the slave side is asked, through a descriptor of its own
    // that is closed again at once (while the client holds the line, that
    // is no hang-up).
    const int slave = ::open(QFile::encodeName(m_portPath).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave < 0)
        return false;
    termios settings;
    const bool known = ::tcgetattr(slave, &settings) == 0;
    ::close(slave);
    if (!known)
        return false;
    // The pty driver clears PARENB but keeps PARODD: odd parity shows,
    // even parity looks like none.
    const bool odd = settings.c_cflag & PARODD;
    const int stopBits = (settings.c_cflag & CSTOPB) ? 2 : 1;
    return ::cfgetospeed(&settings) == speedFor(m_lineBaudRate) && odd == (m_lineParity == 'O')
        && stopBits == m_lineStopBits;
}

void VirtualInstrument::addToLine(VirtualInstrument *other)
{
    m_lineMates.append(other);
}

bool VirtualInstrument::answerForMate(const Request &request)
{
    for (VirtualInstrument *mate : qAsConst(m_lineMates)) {
        if (mate->m_serverAddress != request.serverAddress)
            continue;
        mate->m_requests.append(request);
        emit mate->requestReceived(request);
        const Faults faults = mate->consumeFaults();
        const QByteArray reply = faults.exceptionCode != 0
            ? exceptionReply(request.serverAddress, request.functionCode, faults.exceptionCode)
            : mate->execute(request, faults.withheldRegisters);
        if (!faults.silent)
            deliver(reply, faults);
        return true;
    }
    return false;
}
