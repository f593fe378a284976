#ifndef METERCTL_METERLINK_H
#define METERCTL_METERLINK_H

#include <QObject>
#include <QString>
#include <QVector>

class QModbusClient;

// One meter at one server address, over a serial line (Modbus RTU) or a
// Modbus TCP gateway. Each call sends one request and waits for its answer,
// so a sequence never has more than one request on the line.
class MeterLink : public QObject
{
    Q_OBJECT

public:
    struct Settings
    {
        QString portName; // serial device or pty path; empty with a TCP host
        int baudRate = 115200;
        char parity = 'N'; // 'N', 'O' or 'E'
        int stopBits = 1;
        QString tcpHost;
        quint16 tcpPort = 502;
        int serverAddress = 1;
        int timeoutMs = 500;
        int retries = 2;
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
    static double characterMicroseconds(int baudRate, char parity, int stopBits);
    ~MeterLink() override;

    bool open(QString *error);
    void close();

    Result readHolding(int start, int count);
    // One word goes out as function 06, more as function 16.
    Result writeHolding(int start, const QVector<quint16> &words);
    Result readInput(int start, int count);

    // For going through addresses and line settings: the next requests go
    // to this server; the line is reopened with these settings.
    void setServerAddress(int address) { m_settings.serverAddress = address; }
    bool reopen(int baudRate, char parity, int stopBits, int timeoutMs, int retries, QString *error);
    bool isOpen() const;
    // False once the serial device has vanished (an adapter unplugged);
    // a gateway is always there.
    bool portExists() const;
    // Ends the request in flight at once (it fails) and closes the line.
    void abort() { close(); }

    // "/dev/ttyUSB0" or "gateway 10.0.0.5:502", for messages.
    QString where() const;
    const Settings &settings() const { return m_settings; }

private:
    Result finish(class QModbusReply *reply, const QString &what, int expectedWords);

    Settings m_settings;
    QModbusClient *m_client = nullptr;
};

#endif // METERCTL_METERLINK_H
