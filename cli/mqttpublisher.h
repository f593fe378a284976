#ifndef METERCTL_MQTTPUBLISHER_H
#define METERCTL_MQTTPUBLISHER_H

#include <QByteArray>
#include <QMap>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

struct mosquitto;

// Publishes the rows of a watch to an MQTT broker: values on
// PREFIX/BUS/ADDRESS/values (QoS 1), a meter's online/offline retained on
// PREFIX/BUS/ADDRESS/status, and running/stopped retained on
// PREFIX/BUS/status with stopped as the last will. The network runs on a
// thread of its own, so a broker that is slow, down or gone never holds up
// the polling: messages while it is away are dropped and counted, and the
// thread reconnects with back-off and publishes the retained states again.
class MqttPublisher
{
public:
    struct Target
    {
        bool tls = false;
        QString user;
        QString host;
        int port = 1883;
    };
    struct Options
    {
        Target target;
        QString password; // from the environment, never the command line
        QString caFile;
        QString topicPrefix = QStringLiteral("meterconfig");
        QString bus;
    };

    // mqtt://[USER@]HOST[:PORT] or mqtts://...; false with the reason.
    static bool parseUrl(const QString &url, Target *target, QString *error);

    explicit MqttPublisher(const Options &options);
    ~MqttPublisher();
    MqttPublisher(const MqttPublisher &) = delete;
    MqttPublisher &operator=(const MqttPublisher &) = delete;

    // Sets up the client and starts connecting, waiting a moment for the
    // first try to end so that the first rows are not dropped; false only
    // for settings that can never work (a CA file that cannot be read).
    bool start(QString *error);
    void publishValues(int address, const QByteArray &json);
    // Publishes the state when it differs from the last one told.
    void setMeterState(int address, bool online);
    // Publishes stopped, waits a moment for the broker to take it, and
    // disconnects.
    void stop();
    // Messages published and dropped, for the figures on exit.
    QString figures() const;

private:
    static void onConnect(mosquitto *client, void *self, int code);
    static void onDisconnect(mosquitto *client, void *self, int code);
    static void onPublish(mosquitto *client, void *self, int messageId);
    static void onLog(mosquitto *client, void *self, int level, const char *text);
    void serve();
    void connectionLost(int code);
    void waitBeforeRetry(int ms);
    void firstTryDone();
    bool publish(const QString &topic, const QByteArray &payload, bool retain, int *messageId = nullptr);
    void publishStates();
    void tell(const QString &message);
    QString where() const;

    Options m_options;
    mosquitto *m_client = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_stop { false };
    std::atomic<bool> m_connected { false };
    std::atomic<int> m_published { 0 };
    std::atomic<int> m_dropped { 0 };
    std::atomic<int> m_lastAcknowledged { 0 };
    bool m_outage = false; // told, not yet back
    bool m_firstTryDone = false;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    QMap<int, bool> m_states;
    QString m_lastError;
};

#endif // METERCTL_MQTTPUBLISHER_H
