#ifndef VIRTUALINSTRUMENT_H
#define VIRTUALINSTRUMENT_H

#include "instrumentmodel.h"
#include "modbusframing.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QVector>

class QSocketNotifier;
class QTcpServer;
class QTcpSocket;

// The measuring instrument as a Modbus RTU server on a pseudo-terminal or a
// serial device, for running the tool without hardware.
//
// Typical use from a test running in the same event loop as the client:
//
//     VirtualInstrument instrument;
//     instrument.setDriftEnabled(false);
//     instrument.open();                        // creates a pty
//     port.setPortName(instrument.portPath());  // e.g. /dev/pts/5
//     ...
//     instrument.setFaults({...});
//     QCOMPARE(instrument.requests().last().startAddress, 396);
//
// The instrument answers functions 03, 04, 06 and 16 for its own server
// address, applies broadcast writes (address 0) without answering, and ignores
// requests for other servers. Every request with a valid CRC is recorded,
// whatever its address.
//
// Writing 1 to holding register 10000 puts the line into debug mode: Modbus is
// off, a status line goes out every second and received bytes are echoed.
// On a pty, debug mode ends when the peer closes the line; a close within the
// first 500 ms is the tool handing the line from its Modbus client to its
// console and does not count. It also ends when a whole Modbus request for
// this server arrives, which is then answered. On a serial device only that
// or leaveDebugMode() ends it.
class VirtualInstrument : public QObject
{
    Q_OBJECT

public:
    using Request = ModbusFraming::Request;

    // Misbehaviour of the replies. Faults combine; requests are still carried
    // out unless exceptionCode is set (a silent instrument has executed the
    // write, only its reply is lost).
    struct Faults
    {
        // Never answer.
        bool silent = false;
        // Wait this long before answering. Every try of the client is a request
        // of its own: past the client's timeout, its retry is answered (late) too.
        int delayMs = 0;
        // Answer this late, and what arrives meanwhile only after it, in
        // order, as an instrument still busy with the request would.
        int lateMs = 0;
        // Answer with this exception code instead of carrying out the request.
        quint8 exceptionCode = 0;
        // Send the reply with a wrong CRC.
        bool corruptCrc = false;
        // Drop this many bytes from the end of the reply.
        int truncateBytes = 0;
        // Answer as this server address, with a correct CRC (-1: own address).
        int replyAddress = -1;
        // Bytes sent right before the reply.
        QByteArray garbage;
        // Answer a read with this many registers fewer than it asked for, in a
        // well-formed reply (byte count and CRC to match).
        int withheldRegisters = 0;
        // Answer with the reply that went out for the request before this one,
        // as an instrument that lost track of its requests would.
        bool previousReply = false;
        // Write the reply in this many pieces, splitGapMs apart.
        int splitParts = 1;
        int splitGapMs = 10;
        // How many of the next requests for this server the faults apply to;
        // after that they clear themselves. -1: until cleared.
        int count = -1;
        // How many of the next requests for this server pass unharmed before
        // the faults apply: with count 1, only request skip + 1 misbehaves.
        int skip = 0;
    };

    explicit VirtualInstrument(QObject *parent = nullptr);
    ~VirtualInstrument() override;

    // Creates a pseudo-terminal in raw mode and serves on its master side.
    // portPath() then names the slave for the client to open. With a
    // linkPath, a symbolic link to the slave is made there (an existing link
    // is replaced) and removed again by closePort().
    bool open(const QString &linkPath = QString());
    // Serves on a serial device instead, 8 data bits; parity 'N', 'O' or 'E'.
    bool openDevice(const QString &path, qint32 baudRate = 115200, char parity = 'N', int stopBits = 1);
    // Closes the port as if the adapter were unplugged: the client's open
    // pty slave gets I/O errors from now on. Leaves debug mode.
    void closePort();
    bool isOpen() const { return m_fd >= 0; }
    // The pty slave path, or the device path.
    QString portPath() const { return m_portPath; }
    QString errorString() const { return m_errorString; }
    // Whether a peer has the pty slave open (always true on a device).
    bool isLineOpen() const { return m_lineOpen; }

    int serverAddress() const { return m_serverAddress; }
    // Also stores the address in holding register 397, as the instrument
    // would after a restart. A write to 397 does not change the address the
    // running instrument answers to.
    void setServerAddress(int address);

    Faults faults() const { return m_faults; }
    void setFaults(const Faults &faults) { m_faults = faults; }
    void clearFaults() { m_faults = Faults(); }

    QVector<Request> requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }

    quint16 input(int address) const { return m_model.input(address); }
    void setInput(int address, qint16 tenths) { m_model.setInput(address, tenths); }
    quint16 holding(int address) const { return m_model.holding(address); }
    void setHolding(int address, quint16 value) { m_model.setHolding(address, value); }
    // Back to factory register contents.
    void resetRegisters() { m_model.reset(); }

    // Measured values drift once a second while enabled (the default).
    bool isDriftEnabled() const { return m_driftTimer.isActive(); }
    void setDriftEnabled(bool enabled);
    // Starts the drift over from a known random sequence.
    void setDriftSeed(quint32 seed) { m_model.reseed(seed); }

    bool inDebugMode() const { return m_debugMode; }
    void leaveDebugMode();

    // Acknowledges writes as usual but keeps the registers as they were, as
    // a meter with a write-protected memory would: only reading back finds it.
    bool ignoresWrites() const { return m_ignoreWrites; }
    void setIgnoreWrites(bool ignore) { m_ignoreWrites = ignore; }

    // Serves Modbus TCP (MBAP framing, unit id = server address) on
    // 127.0.0.1 as well, as a gateway in front of the line would; port 0
    // takes any free port. Requests are recorded like those on the line;
    // the faults silent, delayMs and exceptionCode apply to them.
    bool listenTcp(quint16 port = 0);
    quint16 tcpPort() const;

    // On a pty, answers only a client whose port uses these line settings,
    // as a meter at another baud rate or parity would hear only noise. The
    // requests are still recorded. Baud rate 0: any settings (the default).
    // A pty carries the speed, the stop bits and odd parity, but the kernel
    // drops the parity-enable flag, so even parity cannot be told from none.
    void setLineSettings(qint32 baudRate, char parity = 'N', int stopBits = 1);
    // Another instrument on the same line: requests for its address are
    // carried out by it and answered here. Recorded by both.
    void addToLine(VirtualInstrument *other);

signals:
    // Emitted for every recorded request, before it is answered.
    void requestReceived(const VirtualInstrument::Request &request);
    void debugModeChanged(bool active);
    void lineOpenChanged(bool open);

private:
    bool startServing(int fd, bool isPty);
    void readAvailable();
    void lineHungUp();
    void checkLine();
    bool isModbusAgain(const QByteArray &bytes);
    void handleModbusBytes(const QByteArray &bytes);
    void processBuffer();
    void dropStalledByte();
    void handleRequest(const Request &request);
    QByteArray execute(const Request &request, int withheldRegisters);
    Faults consumeFaults();
    void deliver(QByteArray reply, const Faults &faults);
    void writeBytes(const QByteArray &bytes);
    void enterDebugMode();
    void sendStatusLine();
    void removeLink();

    InstrumentModel m_model;
    int m_fd = -1;
    bool m_isPty = false;
    bool m_lineOpen = false;
    QString m_portPath;
    QString m_linkPath;
    QString m_errorString;
    QSocketNotifier *m_readNotifier = nullptr;
    QTimer m_lineTimer;
    QTimer m_stallTimer;
    QTimer m_driftTimer;
    QTimer m_statusTimer;
    QByteArray m_buffer;
    // Replies scheduled for later belong to one opening of the port.
    quint32 m_generation = 0;
    // Until when the line carries a late reply, on m_busyClock.
    QElapsedTimer m_busyClock;
    qint64 m_busyUntilMs = 0;

    int m_serverAddress = 1;
    Faults m_faults;
    QVector<Request> m_requests;
    // What the last answered request was answered with, faults aside.
    QByteArray m_lastReply;

    bool m_debugMode = false;
    QElapsedTimer m_debugClock;

    void readTcp(QTcpSocket *socket);
    void answerTcp(QTcpSocket *socket, const QByteArray &header, const Request &request);
    bool m_ignoreWrites = false;
    QTcpServer *m_tcpServer = nullptr;

    bool lineMatches() const;
    bool answerForMate(const Request &request);
    qint32 m_lineBaudRate = 0;
    char m_lineParity = 'N';
    int m_lineStopBits = 1;
    QVector<VirtualInstrument *> m_lineMates;
};

Q_DECLARE_METATYPE(VirtualInstrument::Request)

#endif // VIRTUALINSTRUMENT_H
