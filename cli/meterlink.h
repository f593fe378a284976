#ifndef METERCTL_METERLINK_H
#define METERCTL_METERLINK_H

#include "meterschema.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVector>

class ExchangeQueue;
class QModbusClient;
class QModbusDataUnit;
class QSerialPort;

// One meter at one server address, over a serial line (Modbus RTU) or a
// Modbus TCP gateway. Each call sends one request through the window's
// exchange queue and waits for its answer: one request on the line at a
// time, a read answered with another count asked again, and after a reply
// that needed a retry or never came, a pause before the next request.
class MeterLink : public QObject
{
    Q_OBJECT

public:
    struct Settings
    {
        QString portName; // serial device or pty path; empty with a TCP host
        MeterSchema::LineSettings line;
        QString tcpHost;
        quint16 tcpPort = 502;
        int serverAddress = 1;
        int timeoutMs = MeterSchema::LineSettings::DefaultTimeoutMs;
        int retries = MeterSchema::LineSettings::DefaultRetries;
    };

    // What one request brought back. A failure says why in words a person
    // can act on: the port's own reason, no answer in time, the exception.
    struct Result
    {
        enum Kind { Good, Timeout, Exception, OtherError };
        bool ok = false;
        QVector<quint16> words;
        QString error;
        Kind kind = OtherError;
        // From handing the request over to its end.
        qint64 elapsedUs = 0;
    };

    explicit MeterLink(const Settings &settings, QObject *parent = nullptr);
    // The time one character takes with these settings, in microseconds.
    static double characterMicroseconds(const MeterSchema::LineSettings &line);
    ~MeterLink() override;

    bool open(QString *error);
    // Ends the request in flight at once (it fails) and closes the line.
    void close();

    Result readHolding(int start, int count);
    // One word goes out as function 06, more as function 16.
    Result writeHolding(int start, const QVector<quint16> &words);
    Result readInput(int start, int count);

    // For going through addresses and line settings: the next requests go
    // to this server; the line is reopened with these settings.
    void setServerAddress(int address) { m_settings.serverAddress = address; }
    bool reopen(const MeterSchema::LineSettings &line, int timeoutMs, int retries, QString *error);
    // Tries of the next requests without an answer, from now on.
    void setRetries(int retries);
    bool isOpen() const;
    // False once the serial device has vanished (an adapter unplugged);
    // a gateway is always there.
    bool portExists() const;

    // "/dev/ttyUSB0" or "gateway 10.0.0.5:502", for messages.
    QString where() const;
    const Settings &settings() const { return m_settings; }

signals:
    // The serial port is gone (the window's lost-port rule); the link is
    // closed already.
    void portLost();

private:
    void applySettings();
    void watchPort();
    Result exchange(const QModbusDataUnit &unit, bool write, const QString &what);
    Result finish(class QModbusReply *reply, const QString &what);

    Settings m_settings;
    QModbusClient *m_client = nullptr;
    ExchangeQueue *m_queue = nullptr;
    QPointer<QSerialPort> m_watchedPort;
    bool m_portLost = false;
};

#endif // METERCTL_METERLINK_H
