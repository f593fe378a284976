// meterctl watch publishing to a real mosquitto broker on 127.0.0.1, read
// back by mosquitto_sub: values, retained states, the last will, a broker
// that goes away and comes back, and TLS.
#include "clirig.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <pwd.h>
#include <unistd.h>

namespace {

// mosquitto lies in /usr/sbin, which a user's PATH may lack.
QString program(const char *name)
{
    return QStandardPaths::findExecutable(name, qEnvironmentVariable("PATH").split(':') << "/usr/sbin");
}

// A broker on a free port of 127.0.0.1, plain or TLS, that can be stopped
// and started again on the same port.
class Broker
{
public:
    Broker(const QString &dir, const QString &certificates)
        : m_config(dir + "/mosquitto.conf")
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        port = probe.serverPort();
        QFile config(m_config);
        config.open(QIODevice::WriteOnly);
        // Run as ourselves even when that is root: the key is ours to read.
        config.write(
            QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\nuser %2\n")
                .arg(port)
                .arg(QString::fromLocal8Bit(getpwuid(geteuid())->pw_name))
                .toUtf8());
        if (!certificates.isEmpty())
            config.write(
                QStringLiteral("certfile %1/server.crt\nkeyfile %1/server.key\n").arg(certificates).toUtf8());
    }
    ~Broker() { stop(); }

    bool start()
    {
        m_process.start(program("mosquitto"), { "-c", m_config });
        return CliRig::waitFor([this] {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port);
            return socket.waitForConnected(100);
        });
    }
    void stop()
    {
        m_process.terminate();
        m_process.waitForFinished(5000);
    }

    quint16 port = 0;

private:
    QString m_config;
    QProcess m_process;
};

// mosquitto_sub -v on meterconfig/#, ready once it has seen a probe message.
class Subscriber
{
public:
    Subscriber(quint16 port, const QStringList &tls)
    {
        const QStringList where { "-h", "127.0.0.1", "-p", QString::number(port) };
        m_process.start(program("mosquitto_sub"), where + tls + QStringList { "-v", "-t", "meterconfig/#" });
        CliRig::waitFor([&] {
            QProcess::execute(program("mosquitto_pub"),
                              where + tls + QStringList { "-t", "meterconfig/probe", "-m", "x" });
            return !messages("meterconfig/probe").isEmpty();
        });
    }
    ~Subscriber()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    // Payloads on the topic, in order.
    QStringList messages(const QString &topic)
    {
        m_text += QString::fromUtf8(m_process.readAllStandardOutput());
        QStringList found;
        for (const QString &line : m_text.split('\n', Qt::SkipEmptyParts)) {
            if (line.section(' ', 0, 0) == topic)
                found << line.section(' ', 1);
        }
        return found;
    }

private:
    QProcess m_process;
    QString m_text;
};

int rowsOf(const QString &csv, int address)
{
    int rows = 0;
    for (const QString &line : csv.split('\n'))
        rows += line.section(',', 1, 1) == QString::number(address);
    return rows;
}

} // namespace

class TestMqtt : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void publishing_data();
    void publishing();
    void brokerRestarts();
    void tls_data();
    void tls();

private:
    QString topic(const QString &rest) const { return "meterconfig/" + m_bus + '/' + rest; }
    QStringList watch(quint16 port, int meters) const;

    QTemporaryDir m_dir;
    QScopedPointer<CliRig> m_rig;
    std::vector<std::unique_ptr<VirtualInstrument>> m_mates;
    QString m_bus;
};

void TestMqtt::initTestCase()
{
    QVERIFY2(!program("mosquitto").isEmpty() && !program("mosquitto_sub").isEmpty(), "mosquitto is needed");
    // A CA, a server certificate for 127.0.0.1 signed by it, and a CA that signed nothing.
    const char *script
        = "set -e; cd \"$1\"; key='-newkey rsa:2048 -nodes'\n"
          "openssl req -x509 $key -days 2 -subj '/CN=test CA' -keyout ca.key -out ca.crt\n"
          "openssl req -x509 $key -days 2 -subj '/CN=other CA' -keyout other.key -out other.crt\n"
          "openssl req $key -subj /CN=127.0.0.1 -keyout server.key -out server.csr\n"
          "echo subjectAltName=IP:127.0.0.1 > san.cnf\n"
          "openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 "
          "-extfile san.cnf -out server.crt\n";
    QCOMPARE(QProcess::execute("sh", { "-c", script, "sh", m_dir.path() }), 0);
}

void TestMqtt::init()
{
    m_mates.clear();
    m_rig.reset(new CliRig);
    QVERIFY(m_rig->opened);
    m_bus = QFileInfo(m_rig->instrument.portPath()).fileName();
    m_rig->instrument.setInput(0, -11); // meter k: channel 1 at -1.1 * k
    for (int address = 2; address <= 5; ++address) {
        m_mates.push_back(std::make_unique<VirtualInstrument>());
        m_mates.back()->setServerAddress(address);
        m_mates.back()->setDriftEnabled(false);
        m_mates.back()->setInput(0, qint16(-11 * address));
        m_rig->instrument.addToLine(m_mates.back().get());
    }
}

QStringList TestMqtt::watch(quint16 port, int meters) const
{
    return m_rig->link("pty")
        + QStringLiteral("--timeout 50 --retries 0 watch --addresses 1-%1 --interval 0.3 --offline-retry 1 "
                         "--format csv --mqtt mqtt://127.0.0.1:%2")
              .arg(meters)
              .arg(port)
              .split(' ');
}

void TestMqtt::publishing_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGKILL: the last will") << int(SIGKILL);
}

// Five meters, the fourth silent.
void TestMqtt::publishing()
{
    QFETCH(int, signal);
    VirtualInstrument::Faults silent;
    silent.silent = true;
    m_mates.at(2)->setFaults(silent);
    Broker broker(m_dir.path(), QString());
    QVERIFY(broker.start());
    Subscriber subscriber(broker.port, {});
    QProcess *meterctl = m_rig->start(watch(broker.port, 5));
    QVERIFY(
        CliRig::waitFor([&] { return subscriber.messages(topic("4/status")) == QStringList { "offline" }; }));
    QCOMPARE(subscriber.messages(topic("status")), QStringList { "running" });
    QVERIFY(CliRig::waitFor([&] { return subscriber.messages(topic("1/values")).size() >= 8; }));
    ::kill(pid_t(meterctl->processId()), signal);
    QVERIFY(meterctl->waitForFinished(5000));
    QVERIFY(CliRig::waitFor([&] { return subscriber.messages(topic("status")).size() == 2; }));
    QCOMPARE(subscriber.messages(topic("status")).last(), QString("stopped"));
    const QString out = QString::fromUtf8(meterctl->readAllStandardOutput());
    for (int address : { 1, 2, 3, 5 }) {
        const QStringList values = subscriber.messages(topic(QString::number(address) + "/values"));
        if (signal == SIGTERM) // nothing lost while the broker was there
            QCOMPARE(values.size(), rowsOf(out, address));
        for (const QString &payload : values) {
            const QJsonObject message = QJsonDocument::fromJson(payload.toUtf8()).object();
            QCOMPARE(message.value("address").toInt(), address);
            QCOMPARE(message.value("values").toArray().size(), 22);
            QCOMPARE(message.value("values").toArray().at(0).toDouble(), -1.1 * address);
            QVERIFY(message.value("error").isNull());
        }
    }
    // Retained: a subscriber coming later still learns the silent meter's state.
    Subscriber late(broker.port, {});
    QVERIFY(CliRig::waitFor([&] { return late.messages(topic("4/status")) == QStringList { "offline" }; }));
    QCOMPARE(late.messages(topic("1/status")), QStringList { "online" });
    // Three polls, then once a second, not every 0.3 s.
    int asked = 0;
    for (const CliRig::Request &request : m_rig->instrument.requests())
        asked += request.serverAddress == 4;
    QVERIFY2(asked >= 3 && asked <= 3 + rowsOf(out, 4) * 3 / 10 + 1, qPrintable(QString::number(asked)));
}

// Rows go on without a gap while the broker is away; publishing resumes.
void TestMqtt::brokerRestarts()
{
    QScopedPointer<Broker> broker(new Broker(m_dir.path(), QString()));
    QVERIFY(broker->start());
    const QString file = m_dir.filePath("rows.csv");
    QProcess *meterctl = m_rig->start(watch(broker->port, 2) + QStringList { "--out", file });
    QTest::qWait(600);
    broker->stop();
    QByteArray err;
    QVERIFY(
        CliRig::waitFor([&] { return (err += meterctl->readAllStandardError()).contains("MQTT broker"); }));
    QTest::qWait(900);
    QVERIFY(broker->start());
    Subscriber subscriber(broker->port, {});
    QVERIFY(CliRig::waitFor([&] { return subscriber.messages(topic("2/values")).size() >= 2; }, 15000));
    QCOMPARE(subscriber.messages(topic("status")), QStringList { "running" }); // published again
    meterctl->terminate();
    QVERIFY(meterctl->waitForFinished(5000));
    err += meterctl->readAllStandardError();
    QCOMPARE(err.count("MQTT broker"), 2); // gone, and back
    QVERIFY2(err.contains("dropped") && !err.contains(" 0 dropped"), err.constData());
    QFile rows(file);
    QVERIFY(rows.open(QIODevice::ReadOnly));
    QDateTime previous;
    for (const QString &line : QString::fromUtf8(rows.readAll()).split('\n')) {
        if (line.section(',', 1, 1) != "1")
            continue;
        const QDateTime time = QDateTime::fromString(line.section(',', 0, 0), Qt::ISODateWithMs);
        QVERIFY2(!previous.isValid() || previous.msecsTo(time) < 600, qPrintable(line));
        previous = time;
    }
}

void TestMqtt::tls_data()
{
    QTest::addColumn<QString>("ca");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("the broker's CA") << "ca.crt" << true;
    QTest::newRow("another CA") << "other.crt" << false;
}

void TestMqtt::tls()
{
    QFETCH(QString, ca);
    QFETCH(bool, accepted);
    Broker broker(m_dir.path(), m_dir.path());
    QVERIFY(broker.start());
    Subscriber subscriber(broker.port, { "--cafile", m_dir.filePath("ca.crt") });
    QStringList arguments
        = watch(broker.port, 1) + QStringList { "--count", "4", "--mqtt-cafile", m_dir.filePath(ca) };
    arguments.replaceInStrings("mqtt://", "mqtts://");
    const CliRig::Run run = m_rig->meterctl(arguments);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(rowsOf(run.out, 1), 4);
    QTest::qWait(200);
    QCOMPARE(subscriber.messages(topic("1/values")).size(), accepted ? 4 : 0);
    QCOMPARE(run.err.contains("certificate verify failed"), !accepted);
}

QTEST_GUILESS_MAIN(TestMqtt)
#include "tst_mqtt.moc"
