#ifndef METERCONFIG_EXCHANGEQUEUE_H
#define METERCONFIG_EXCHANGEQUEUE_H

#include <QElapsedTimer>
#include <QModbusDataUnit>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QTimer>

#include <functional>

class QModbusClient;
class QModbusReply;

// The window's requests, handed to the Modbus client one exchange at a time.
//
// The RTU client matches a reply to its request by server address and
// function code alone. An answer that comes after the client gave up and
// retried therefore completes the retry, and the answer to the retry then
// completes whatever request of the same kind follows. So the client gets
// the next request only once the previous reply has finished, and after a
// reply that needed retries or never came only once whatever the instrument
// may still send for it has had time to arrive while nothing is outstanding;
// the client drops such stray answers by itself then. With
// setQuietPerServer(), requests to other servers (a scan going through
// addresses) do not wait for it.
//
// A read answered with another number of registers than it asked for cannot
// be its own reply; it is released here and never reaches its handler. With
// setRetryWrongCount(), it is asked again instead, within the client's retry
// count, as if no answer had come.
//
// The window and meterctl send every request through this queue.
class ExchangeQueue : public QObject
{
    Q_OBJECT

public:
    // Connects the finished signal of the reply just handed out to whatever
    // handles it; called once, right after the client has taken the request.
    using Attach = std::function<void(QModbusReply *reply)>;

    explicit ExchangeQueue(QModbusClient *client, QObject *parent = nullptr);

    // A request that the client refuses (not connected) or finishes at once
    // is released without reaching attach.
    void read(const QModbusDataUnit &unit, int serverAddress, const Attach &attach);
    void write(const QModbusDataUnit &unit, int serverAddress, const Attach &attach);

    // Whether the same read is waiting or on its way.
    bool holdsRead(const QModbusDataUnit &unit, int serverAddress) const;

    void setRetryWrongCount(bool retry) { m_retryWrongCount = retry; }
    void setQuietPerServer(bool perServer) { m_quietPerServer = perServer; }

signals:
    // A request ended without reaching its handler: answeredWords is the
    // count of the last answer to a read that never got its own, -1 when
    // the client did not take the request.
    void released(int answeredWords);

private:
    struct Exchange
    {
        bool isWrite = false;
        QModbusDataUnit unit;
        int serverAddress = 0;
        Attach attach;
        // Tries the client made of it before, counted as the client does.
        int tries = 0;

        bool isRead(const QModbusDataUnit &other, int server) const;
    };

    void enqueue(Exchange exchange);
    bool mayGo(const Exchange &next) const;
    void handOver();
    void finished(QModbusReply *reply);
    int retriesTaken(qint64 elapsedMs) const;
    int quietAfter(const QModbusReply *reply, qint64 elapsedMs) const;
    bool retryWrongCount(Exchange exchange, int *quiet);
    void linkStateChanged(int state);

    QModbusClient *m_client;
    QQueue<Exchange> m_waiting;
    // The exchange the client has now, while its reply is pending.
    Exchange m_current;
    QPointer<QModbusReply> m_pending;
    QElapsedTimer m_sentAt;
    // Runs from a reply's end until the next request may go.
    QTimer m_gap;
    // The server whose late answers the gap waits for.
    int m_quietServer = -1;
    bool m_retryWrongCount = false;
    bool m_quietPerServer = false;
};

#endif // METERCONFIG_EXCHANGEQUEUE_H
