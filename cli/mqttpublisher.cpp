#include "mqttpublisher.h"

#include <QCoreApplication>
#include <QFile>

#include <mosquitto.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

constexpr int KeepAliveSeconds = 30;
constexpr int FirstRetryMs = 1000;
constexpr int LastRetryMs = 30000;
constexpr int StoppedAcknowledgeMs = 2000;
constexpr int FirstTryMs = 2000;

} // namespace

bool MqttPublisher::parseUrl(const QString &url, Target *target, QString *error)
{
    const int scheme = url.indexOf(QLatin1String("://"));
    const QString kind = url.left(scheme);
    *error
        = QStringLiteral("--mqtt %1 is not mqtt://[USER@]HOST[:PORT] or mqtts://[USER@]HOST[:PORT]").arg(url);
    if (scheme < 0 || (kind != QLatin1String("mqtt") && kind != QLatin1String("mqtts")))
        return false;
    target->tls = kind == QLatin1String("mqtts");
    target->port = target->tls ? 8883 : 1883;
    QString rest = url.mid(scheme + 3);
    const int at = rest.lastIndexOf(QLatin1Char('@'));
    target->user = at < 0 ? QString() : rest.left(at);
    if (target->user.contains(QLatin1Char(':'))) {
        *error
            = QStringLiteral("--mqtt: the password goes in the environment variable METERCTL_MQTT_PASSWORD, "
                             "never on the command line");
        return false;
    }
    rest = rest.mid(at + 1);
    const int colon = rest.lastIndexOf(QLatin1Char(':'));
    target->host = colon < 0 ? rest : rest.left(colon);
    bool ok = true;
    if (colon >= 0)
        target->port = rest.mid(colon + 1).toInt(&ok, 10);
    if (ok && target->port > 0 && target->port < 65536 && !target->host.isEmpty()
        && !target->host.contains(QLatin1Char('/')) && (at < 0 || !target->user.isEmpty()))
        error->clear();
    return error->isEmpty();
}

MqttPublisher::MqttPublisher(const Options &options)
    : m_options(options)
{
    mosquitto_lib_init();
}

MqttPublisher::~MqttPublisher()
{
    stop();
    if (m_client)
        mosquitto_destroy(m_client);
    mosquitto_lib_cleanup();
}

QString MqttPublisher::where() const
{
    return QStringLiteral("%1:%2").arg(m_options.target.host).arg(m_options.target.port);
}

bool MqttPublisher::start(QString *error)
{
    const QByteArray id = QStringLiteral("meterctl-%1-%2")
                              .arg(m_options.bus)
                              .arg(QCoreApplication::applicationPid())
                              .toUtf8();
    m_client = mosquitto_new(id.constData(), true, this);
    if (!m_client) {
        *error = QStringLiteral("MQTT: cannot set up the client");
        return false;
    }
    mosquitto_threaded_set(m_client, true);
    mosquitto_connect_callback_set(m_client, &MqttPublisher::onConnect);
    mosquitto_disconnect_callback_set(m_client, &MqttPublisher::onDisconnect);
    mosquitto_publish_callback_set(m_client, &MqttPublisher::onPublish);
    mosquitto_log_callback_set(m_client, &MqttPublisher::onLog);
    const Target &target = m_options.target;
    if (!target.user.isEmpty())
        mosquitto_username_pw_set(m_client, target.user.toUtf8().constData(),
                                  m_options.password.isEmpty() ? nullptr
                                                               : m_options.password.toUtf8().constData());
    const QByteArray willTopic
        = (m_options.topicPrefix + QLatin1Char('/') + m_options.bus + QStringLiteral("/status")).toUtf8();
    mosquitto_will_set(m_client, willTopic.constData(), 7, "stopped", 1, true);
    if (target.tls) {
        if (!m_options.caFile.isEmpty() && !QFile(m_options.caFile).open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("--mqtt-cafile %1 cannot be read").arg(m_options.caFile);
            return false;
        }
        const QByteArray caFile = m_options.caFile.toLocal8Bit();
        // Without a CA file, the system's certificates.
        const int code
            = mosquitto_tls_set(m_client, caFile.isEmpty() ? nullptr : caFile.constData(),
                                caFile.isEmpty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr, nullptr);
        if (code != MOSQ_ERR_SUCCESS) {
            *error = QStringLiteral("MQTT TLS: %1").arg(QString::fromUtf8(mosquitto_strerror(code)));
            return false;
        }
    }
    m_thread = std::thread(&MqttPublisher::serve, this);
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait_for(lock, std::chrono::milliseconds(FirstTryMs), [this] { return m_firstTryDone; });
    return true;
}

void MqttPublisher::serve()
{
    const QByteArray host = m_options.target.host.toUtf8();
    int retryMs = FirstRetryMs;
    while (!m_stop) {
        // Without waiting for the connection: stopping never hangs on a host that does not answer.
        int code
            = mosquitto_connect_async(m_client, host.constData(), m_options.target.port, KeepAliveSeconds);
        while (code == MOSQ_ERR_SUCCESS && !m_stop)
            code = mosquitto_loop(m_client, 100, 1);
        if (m_stop) {
            if (code == MOSQ_ERR_SUCCESS) {
                mosquitto_disconnect(m_client);
                for (int i = 0; i < 10 && mosquitto_loop(m_client, 50, 1) == MOSQ_ERR_SUCCESS; ++i) { }
            }
            break;
        }
        if (m_connected.exchange(false))
            retryMs = FirstRetryMs;
        connectionLost(code);
        waitBeforeRetry(retryMs);
        retryMs = qMin(2 * retryMs, LastRetryMs);
    }
}

void MqttPublisher::connectionLost(int code)
{
    QString reason = code == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(std::strerror(errno))
                                            : QString::fromUtf8(mosquitto_strerror(code));
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_lastError.isEmpty())
            reason += QStringLiteral(" (%1)").arg(m_lastError);
        m_lastError.clear();
    }
    firstTryDone();
    if (m_outage)
        return;
    m_outage = true;
    tell(QStringLiteral(
             "MQTT broker %1: %2; polling goes on, messages are dropped until it is reachable again")
             .arg(where(), reason));
}

void MqttPublisher::firstTryDone()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_firstTryDone = true;
    }
    m_wake.notify_all();
}

void MqttPublisher::waitBeforeRetry(int ms)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stop.load(); });
}

void MqttPublisher::onConnect(mosquitto *, void *self, int code)
{
    auto *publisher = static_cast<MqttPublisher *>(self);
    if (code != 0) {
        if (!publisher->m_outage)
            publisher->tell(QStringLiteral("MQTT broker %1 refused the connection: %2")
                                .arg(publisher->where(), QString::fromUtf8(mosquitto_connack_string(code))));
        publisher->m_outage = true;
        publisher->firstTryDone();
        return;
    }
    publisher->m_connected = true;
    // A broker that restarted may have lost them.
    publisher->publishStates();
    if (publisher->m_outage)
        publisher->tell(QStringLiteral("MQTT broker %1 reachable again; publishing").arg(publisher->where()));
    publisher->m_outage = false;
    publisher->firstTryDone();
}

void MqttPublisher::onDisconnect(mosquitto *, void *self, int)
{
    static_cast<MqttPublisher *>(self)->m_connected = false;
}

void MqttPublisher::onPublish(mosquitto *, void *self, int messageId)
{
    auto *publisher = static_cast<MqttPublisher *>(self);
    {
        const std::lock_guard<std::mutex> lock(publisher->m_mutex);
        publisher->m_lastAcknowledged = messageId;
    }
    publisher->m_wake.notify_all();
}

void MqttPublisher::onLog(mosquitto *, void *self, int level, const char *text)
{
    if (level != MOSQ_LOG_ERR)
        return;
    auto *publisher = static_cast<MqttPublisher *>(self);
    const std::lock_guard<std::mutex> lock(publisher->m_mutex);
    publisher->m_lastError = QString::fromUtf8(text);
}

bool MqttPublisher::publish(const QString &topic, const QByteArray &payload, bool retain, int *messageId)
{
    return mosquitto_publish(m_client, messageId, topic.toUtf8().constData(), payload.size(),
                             payload.constData(), 1, retain)
        == MOSQ_ERR_SUCCESS;
}

void MqttPublisher::publishStates()
{
    const QString base = m_options.topicPrefix + QLatin1Char('/') + m_options.bus;
    publish(base + QStringLiteral("/status"), QByteArrayLiteral("running"), true);
    QMap<int, bool> states;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        states = m_states;
    }
    for (auto state = states.cbegin(); state != states.cend(); ++state)
        publish(QStringLiteral("%1/%2/status").arg(base).arg(state.key()),
                state.value() ? QByteArrayLiteral("online") : QByteArrayLiteral("offline"), true);
}

void MqttPublisher::publishValues(int address, const QByteArray &json)
{
    const QString topic
        = QStringLiteral("%1/%2/%3/values").arg(m_options.topicPrefix, m_options.bus).arg(address);
    if (m_connected && publish(topic, json, false))
        ++m_published;
    else
        ++m_dropped;
}

void MqttPublisher::setMeterState(int address, bool online)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_states.contains(address) && m_states.value(address) == online)
            return;
        m_states.insert(address, online);
    }
    if (m_connected)
        publish(QStringLiteral("%1/%2/%3/status").arg(m_options.topicPrefix, m_options.bus).arg(address),
                online ? QByteArrayLiteral("online") : QByteArrayLiteral("offline"), true);
}

void MqttPublisher::stop()
{
    if (!m_thread.joinable())
        return;
    int stopped = 0;
    if (m_connected
        && publish(m_options.topicPrefix + QLatin1Char('/') + m_options.bus + QStringLiteral("/status"),
                   QByteArrayLiteral("stopped"), true, &stopped)) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_wake.wait_for(lock, std::chrono::milliseconds(StoppedAcknowledgeMs),
                        [this, stopped] { return m_lastAcknowledged >= stopped; });
    }
    m_stop = true;
    m_wake.notify_all();
    m_thread.join();
}

QString MqttPublisher::figures() const
{
    return QStringLiteral("MQTT: %1 value messages published, %2 dropped while the broker was not reachable")
        .arg(m_published.load())
        .arg(m_dropped.load());
}

void MqttPublisher::tell(const QString &message)
{
    const QByteArray line = QStringLiteral("meterctl: %1\n").arg(message).toLocal8Bit();
    std::fputs(line.constData(), stderr);
    std::fflush(stderr);
}
