#include "exchangequeue.h"

#include <QModbusClient>
#include <QModbusReply>

namespace {

// The client's timers are coarse and may fire a little before the full
// timeout: a reply this close to it may already have been retried.
constexpr int TimerSlackPercent = 5;

} // namespace

ExchangeQueue::ExchangeQueue(QModbusClient *client, QObject *parent)
    : QObject(parent)
    , m_client(client)
{
    m_gap.setSingleShot(true);
    connect(&m_gap, &QTimer::timeout, this, &ExchangeQueue::handOver);
    connect(client, &QModbusDevice::stateChanged, this, &ExchangeQueue::linkStateChanged);
}

bool ExchangeQueue::Exchange::isRead(const QModbusDataUnit &other, int server) const
{
    return !isWrite && serverAddress == server && unit.registerType() == other.registerType()
        && unit.startAddress() == other.startAddress() && unit.valueCount() == other.valueCount();
}

void ExchangeQueue::read(const QModbusDataUnit &unit, int serverAddress, const Attach &attach)
{
    enqueue({ false, unit, serverAddress, attach });
}

void ExchangeQueue::write(const QModbusDataUnit &unit, int serverAddress, const Attach &attach)
{
    enqueue({ true, unit, serverAddress, attach });
}

bool ExchangeQueue::holdsRead(const QModbusDataUnit &unit, int serverAddress) const
{
    if (m_pending && m_current.isRead(unit, serverAddress))
        return true;
    for (const Exchange &exchange : m_waiting) {
        if (exchange.isRead(unit, serverAddress))
            return true;
    }
    return false;
}

void ExchangeQueue::enqueue(Exchange exchange)
{
    m_waiting.enqueue(std::move(exchange));
    if (!m_pending)
        handOver();
}

bool ExchangeQueue::mayGo(const Exchange &next) const
{
    // The client takes an answer only from the server it is waiting for, so
    // a late one from another server cannot pass for the reply.
    return !m_gap.isActive() || (m_quietPerServer && next.serverAddress != m_quietServer);
}

void ExchangeQueue::handOver()
{
    while (!m_pending && !m_waiting.isEmpty() && mayGo(m_waiting.head())) {
        Exchange exchange = m_waiting.dequeue();
        QModbusReply *reply = exchange.isWrite
            ? m_client->sendWriteRequest(exchange.unit, exchange.serverAddress)
            : m_client->sendReadRequest(exchange.unit, exchange.serverAddress);
        if (!reply) {
            emit released(-1);
            continue;
        }
        if (reply->isFinished()) {
            reply->deleteLater();
            emit released(-1);
            continue;
        }
        m_current = std::move(exchange);
        m_pending = reply;
        m_sentAt.start();
        // Ahead of the handler, so that a reply of the wrong size is gone
        // before the handler would see it.
        connect(reply, &QModbusReply::finished, this, [this, reply]() { finished(reply); });
        m_current.attach(reply);
    }
}

void ExchangeQueue::finished(QModbusReply *reply)
{
    if (reply != m_pending)
        return;
    m_pending.clear();
    const bool wrongSize = !m_current.isWrite && reply->error() == QModbusDevice::NoError
        && reply->result().valueCount() != m_current.unit.valueCount();
    Exchange exchange = std::move(m_current);
    m_current = Exchange();
    m_quietServer = exchange.serverAddress;
    int quiet = quietAfter(reply, m_sentAt.elapsed());
    if (wrongSize) {
        exchange.tries += 1 + retriesTaken(m_sentAt.elapsed());
        const int answered = int(reply->result().valueCount());
        disconnect(reply, &QModbusReply::finished, nullptr, nullptr);
        reply->deleteLater();
        if (!retryWrongCount(std::move(exchange), &quiet))
            emit released(answered);
    }
    if (m_client->state() != QModbusDevice::ConnectedState)
        return;
    // At once otherwise: the client sends it after its own inter-frame delay,
    // as if it had been queued there all along.
    if (quiet > 0)
        m_gap.start(quiet);
    handOver();
}

int ExchangeQueue::retriesTaken(qint64 elapsedMs) const
{
    const int timeout = m_client->timeout();
    if (timeout <= 0)
        return 0;
    return int(
        qMin<qint64>(m_client->numberOfRetries(), elapsedMs * 100 / (100 - TimerSlackPercent) / timeout));
}

int ExchangeQueue::quietAfter(const QModbusReply *reply, qint64 elapsedMs) const
{
    const int timeout = m_client->timeout();
    if (timeout <= 0)
        return 0;
    if (reply->error() == QModbusDevice::TimeoutError)
        return timeout;
    // Every retry may still be answered, each as late as this answer came.
    // The last one went out that many timeouts after the first try, so its
    // answer is due as long after this one; one timeout more lets it arrive.
    const int retries = retriesTaken(elapsedMs);
    return retries > 0 ? (retries + 1) * timeout : 0;
}

bool ExchangeQueue::retryWrongCount(Exchange exchange, int *quiet)
{
    if (!m_retryWrongCount || exchange.tries > m_client->numberOfRetries())
        return false;
    // The answer may have been another request's, late: whatever else the
    // instrument still sends comes first, as after a missing answer.
    *quiet = qMax(*quiet, m_client->timeout());
    m_waiting.prepend(std::move(exchange));
    return true;
}

void ExchangeQueue::linkStateChanged(int state)
{
    if (state == QModbusDevice::ConnectedState)
        return;
    // Closing the link aborts what the client holds; what it was never given
    // goes the same way, and nothing of this link delays the next one.
    m_waiting.clear();
    m_gap.stop();
    m_pending.clear();
    m_current = Exchange();
}
