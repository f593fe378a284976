#include "virtualinstrument.h"

#include <QtTest>

#include <memory>

#include <cerrno>
#include <climits>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// The client end of the line, opened the way a serial port library would:
// raw, non-blocking, with the event loop turning while it waits so that the
// instrument in this thread can answer.
class LineClient
{
public:
    explicit LineClient(const QString &path)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios settings;
        if (m_fd >= 0 && ::tcgetattr(m_fd, &settings) == 0) {
            ::cfmakeraw(&settings);
            ::tcsetattr(m_fd, TCSANOW, &settings);
        }
    }
    ~LineClient() { close(); }
    LineClient(const LineClient &) = delete;
    LineClient &operator=(const LineClient &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    bool send(const QByteArray &bytes)
    {
        return ::write(m_fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }

    // Collects bytes until at least `expected` have arrived or the time is up;
    // `reads` counts the read calls that returned data.
    QByteArray receive(int expected, int timeoutMs, int *reads = nullptr)
    {
        QByteArray received;
        QElapsedTimer clock;
        clock.start();
        int count = 0;
        while (received.size() < expected && clock.elapsed() < timeoutMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            char chunk[512];
            const ssize_t n = ::read(m_fd, chunk, sizeof(chunk));
            if (n > 0) {
                received.append(chunk, int(n));
                ++count;
            } else {
                QThread::msleep(2);
            }
        }
        if (reads)
            *reads = count;
        return received;
    }

    // Everything that arrives within the given time.
    QByteArray collect(int ms) { return receive(INT_MAX, ms); }

    QByteArray transact(const QByteArray &request, int expected, int timeoutMs = 1000)
    {
        if (!send(request))
            return QByteArray("send failed");
        return receive(expected, timeoutMs);
    }

    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};

const QByteArray ReadSystem = hex("0103018c000605df");
const QByteArray SystemReply = hex("01030c001600010007000100000003dfa9");

} // namespace

Q_DECLARE_METATYPE(VirtualInstrument::Faults)

class TestSimInstrument : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void exchange_data();
    void exchange();
    void channelCountBlanksInputs();
    void serverAddress();
    void requestLog();
    void faults_data();
    void faults();
    void previousReply();
    void splitReplyComesInPieces();
    void delayedReply();
    void silentInstrumentStillWrites();
    void exceptionFaultRefusesWrite();
    void faultCountRunsOut();
    void staleFragmentDoesNotBlock();
    void debugMode();
    void debugModeSurvivesHandOver();
    void unplugGivesClientIoError();
    void idleLineCostsNoCpu();
    void driftStaysNearLevelAndInRange();

private:
    VirtualInstrument *m_instrument = nullptr;
};

void TestSimInstrument::init()
{
    m_instrument = new VirtualInstrument;
    m_instrument->setDriftEnabled(false);
    QVERIFY2(m_instrument->open(), qPrintable(m_instrument->errorString()));
    QVERIFY(m_instrument->portPath().startsWith(QLatin1String("/dev/pts/")));
}

void TestSimInstrument::cleanup()
{
    delete m_instrument;
    m_instrument = nullptr;
}

void TestSimInstrument::exchange_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("checkRegister");
    QTest::addColumn<int>("checkValue");

    // Factory system block: 22 channels, address 1, baud code 7, 1 stop bit,
    // no parity, error count 3.
    QTest::newRow("read system block") << ReadSystem << SystemReply << -1 << 0;
    QTest::newRow("read 395-401, last sensor word unused")
        << hex("0103018b000775de") << hex("01030e0000001600010007000100000003a3cc") << -1 << 0;
    QTest::newRow("read debug register") << hex("0103271000018f7b") << hex("0103020000b844") << -1 << 0;
    QTest::newRow("read inputs beyond 21") << hex("010400140003f00f") << hex("018402c2c1") << -1 << 0;
    QTest::newRow("read 125 inputs: address, not quantity")
        << hex("01040000007d302b") << hex("018402c2c1") << -1 << 0;
    QTest::newRow("read holding 402") << hex("010301920001241b") << hex("018302c0f1") << -1 << 0;
    QTest::newRow("read holding 299-300") << hex("0103012b0002b5ff") << hex("018302c0f1") << -1 << 0;
    QTest::newRow("read holding x0") << hex("0103018c000085dd") << hex("0183030131") << -1 << 0;
    QTest::newRow("read holding x126") << hex("0103018c007e05fd") << hex("0183030131") << -1 << 0;
    QTest::newRow("write single 401") << hex("01060191002cd806") << hex("01060191002cd806") << 401 << 44;
    QTest::newRow("write single 402") << hex("0106019200076819") << hex("018602c3a1") << -1 << 0;
    QTest::newRow("write multiple 397-400")
        << hex("0110018d00040800050003000200012a56") << hex("0110018d0004501d") << 400 << 1;
    QTest::newRow("write multiple past 401")
        << hex("011001900003060001000200033800") << hex("019002cdc1") << 400 << 0;
    QTest::newRow("write multiple, byte count 3 for 2 words")
        << hex("0110018d0002030005000a12") << hex("0190030c01") << 397 << 1;
    QTest::newRow("write multiple x124")
        << hex("0110012c007cf8") + QByteArray(248, '\0') + hex("0ae4") << hex("0190030c01") << -1 << 0;
    QTest::newRow("write coil: illegal function") << hex("01050000ff008c3a") << hex("0185018350") << -1 << 0;
    QTest::newRow("device identification: illegal function")
        << hex("012b0e01007077") << hex("01ab019ef0") << -1 << 0;
    QTest::newRow("other server: silence") << hex("0203018c000605ec") << QByteArray() << -1 << 0;
    QTest::newRow("broadcast read: silence") << hex("0003018c0006040e") << QByteArray() << -1 << 0;
    QTest::newRow("broadcast write single: applied, silence")
        << hex("0006018c000849ca") << QByteArray() << 396 << 8;
    QTest::newRow("broadcast write multiple: applied, silence")
        << hex("0010018d00020400090005233b") << QByteArray() << 398 << 5;
}

void TestSimInstrument::exchange()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QFETCH(int, checkRegister);
    QFETCH(int, checkValue);

    LineClient client(m_instrument->portPath());
    QVERIFY(client.isOpen());
    const QByteArray received
        = client.transact(request, reply.isEmpty() ? INT_MAX : reply.size(), reply.isEmpty() ? 400 : 1000);
    QCOMPARE(received.toHex(' '), reply.toHex(' '));
    if (checkRegister >= 0)
        QCOMPARE(int(m_instrument->holding(checkRegister)), checkValue);
}

void TestSimInstrument::channelCountBlanksInputs()
{
    m_instrument->setInput(0, 255);
    m_instrument->setInput(1, -200);
    m_instrument->setInput(8, 16);
    m_instrument->setHolding(396, 8);
    LineClient client(m_instrument->portPath());

    QCOMPARE(client.transact(hex("01040000000271cb"), 9).toHex(' '), hex("01040400ffff388b96").toHex(' '));

    const QByteArray all = client.transact(hex("01040000001671c4"), 49);
    QCOMPARE(all.size(), 49);
    QCOMPARE(all.left(7).toHex(' '), hex("01042c00ffff38").toHex(' '));
    for (int channel = 8; channel < 22; ++channel)
        QCOMPARE(all.mid(3 + 2 * channel, 2).toHex(), QByteArray("0000"));
}

void TestSimInstrument::serverAddress()
{
    m_instrument->setServerAddress(5);
    LineClient client(m_instrument->portPath());
    QVERIFY(client.transact(ReadSystem, INT_MAX, 400).isEmpty());
    QCOMPARE(client.transact(hex("0503018c0006045b"), 17).toHex(' '),
             hex("05030c001600050007000100000003e96a").toHex(' '));
}

void TestSimInstrument::requestLog()
{
    QSignalSpy spy(m_instrument, &VirtualInstrument::requestReceived);
    LineClient client(m_instrument->portPath());
    const QByteArray write = hex("0110018d00040800050003000200012a56");
    const QByteArray otherServer = hex("0203018c000605ec");
    QCOMPARE(client.transact(write, 8).size(), 8);
    client.send(otherServer);
    QTRY_COMPARE(spy.count(), 2);

    const QVector<VirtualInstrument::Request> log = m_instrument->requests();
    QCOMPARE(log.size(), 2);
    QCOMPARE(int(log.at(0).serverAddress), 1);
    QCOMPARE(int(log.at(0).functionCode), 16);
    QCOMPARE(int(log.at(0).startAddress), 397);
    QCOMPARE(int(log.at(0).quantity), 4);
    QCOMPARE(log.at(0).values, QVector<quint16>({ 5, 3, 2, 1 }));
    QCOMPARE(log.at(0).raw, write);
    QCOMPARE(int(log.at(1).serverAddress), 2);
    QCOMPARE(log.at(1).raw, otherServer);
    QCOMPARE(spy.at(1).at(0).value<VirtualInstrument::Request>().raw, otherServer);

    m_instrument->clearRequests();
    QVERIFY(m_instrument->requests().isEmpty());
}

void TestSimInstrument::faults_data()
{
    QTest::addColumn<VirtualInstrument::Faults>("faults");
    QTest::addColumn<QByteArray>("reply");

    VirtualInstrument::Faults exception;
    exception.exceptionCode = 4;
    QTest::newRow("exception 04") << exception << hex("01830440f3");

    VirtualInstrument::Faults badCrc;
    badCrc.corruptCrc = true;
    QTest::newRow("corrupted CRC") << badCrc << hex("01030c0016000100070001000000032056");

    VirtualInstrument::Faults truncated;
    truncated.truncateBytes = 3;
    QTest::newRow("truncated") << truncated << SystemReply.left(SystemReply.size() - 3);

    VirtualInstrument::Faults otherServer;
    otherServer.replyAddress = 2;
    QTest::newRow("reply from server 2") << otherServer << hex("02030c0016000100070001000000039ca8");

    VirtualInstrument::Faults garbage;
    garbage.garbage = hex("ff0055");
    QTest::newRow("garbage first") << garbage << hex("ff0055") + SystemReply;

    VirtualInstrument::Faults split;
    split.splitParts = 4;
    QTest::newRow("split") << split << SystemReply;

    VirtualInstrument::Faults silent;
    silent.silent = true;
    QTest::newRow("silence") << silent << QByteArray();

    VirtualInstrument::Faults withheld;
    withheld.withheldRegisters = 2;
    QTest::newRow("four of six registers") << withheld << hex("0103080016000100070001afd7");
    withheld.withheldRegisters = 7;
    QTest::newRow("no register") << withheld << hex("01030020f0");
}

void TestSimInstrument::previousReply()
{
    LineClient client(m_instrument->portPath());
    QCOMPARE(client.transact(ReadSystem, SystemReply.size()).toHex(' '), SystemReply.toHex(' '));
    VirtualInstrument::Faults faults;
    faults.previousReply = true;
    m_instrument->setFaults(faults);
    // Register 10000 is read, the system block answered; then the other way round.
    QCOMPARE(client.transact(hex("0103271000018f7b"), INT_MAX, 300).toHex(' '), SystemReply.toHex(' '));
    QCOMPARE(client.transact(ReadSystem, INT_MAX, 300).toHex(' '), hex("0103020000b844").toHex(' '));
}

void TestSimInstrument::faults()
{
    QFETCH(VirtualInstrument::Faults, faults);
    QFETCH(QByteArray, reply);

    m_instrument->setFaults(faults);
    LineClient client(m_instrument->portPath());
    const QByteArray received = client.transact(ReadSystem, INT_MAX, 500);
    QCOMPARE(received.toHex(' '), reply.toHex(' '));
}

void TestSimInstrument::splitReplyComesInPieces()
{
    VirtualInstrument::Faults faults;
    faults.splitParts = 3;
    faults.splitGapMs = 60;
    m_instrument->setFaults(faults);
    LineClient client(m_instrument->portPath());
    client.send(ReadSystem);
    int reads = 0;
    QCOMPARE(client.receive(SystemReply.size(), 2000, &reads).toHex(' '), SystemReply.toHex(' '));
    QCOMPARE(reads, 3);
}

void TestSimInstrument::delayedReply()
{
    VirtualInstrument::Faults faults;
    faults.delayMs = 400;
    m_instrument->setFaults(faults);
    LineClient client(m_instrument->portPath());
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(client.transact(ReadSystem, SystemReply.size(), 2000).toHex(' '), SystemReply.toHex(' '));
    QVERIFY2(clock.elapsed() >= 390, qPrintable(QString::number(clock.elapsed())));
}

void TestSimInstrument::silentInstrumentStillWrites()
{
    VirtualInstrument::Faults faults;
    faults.silent = true;
    m_instrument->setFaults(faults);
    LineClient client(m_instrument->portPath());
    QVERIFY(client.transact(hex("0106018d0009d81b"), INT_MAX, 400).isEmpty());
    QCOMPARE(int(m_instrument->holding(397)), 9);
}

void TestSimInstrument::exceptionFaultRefusesWrite()
{
    VirtualInstrument::Faults faults;
    faults.exceptionCode = 4;
    m_instrument->setFaults(faults);
    LineClient client(m_instrument->portPath());
    QCOMPARE(client.transact(hex("0106018d0009d81b"), 5).toHex(' '), hex("01860443a3").toHex(' '));
    QCOMPARE(int(m_instrument->holding(397)), 1);
}

void TestSimInstrument::faultCountRunsOut()
{
    VirtualInstrument::Faults faults;
    faults.silent = true;
    faults.count = 2;
    m_instrument->setFaults(faults);
    LineClient client(m_instrument->portPath());
    // Requests for other servers do not use up the faults.
    QVERIFY(client.transact(hex("0203018c000605ec"), INT_MAX, 200).isEmpty());
    QVERIFY(client.transact(ReadSystem, INT_MAX, 300).isEmpty());
    QVERIFY(client.transact(ReadSystem, INT_MAX, 300).isEmpty());
    QCOMPARE(client.transact(ReadSystem, SystemReply.size()).toHex(' '), SystemReply.toHex(' '));
    QCOMPARE(m_instrument->faults().silent, false);
}

// The start of a long write that never completes must not hold back the
// requests that follow it.
void TestSimInstrument::staleFragmentDoesNotBlock()
{
    LineClient client(m_instrument->portPath());
    client.send(hex("0110018d00040800"));
    QVERIFY(client.collect(400).isEmpty());
    QCOMPARE(client.transact(ReadSystem, SystemReply.size(), 1500).toHex(' '), SystemReply.toHex(' '));
}

void TestSimInstrument::debugMode()
{
    QSignalSpy modeSpy(m_instrument, &VirtualInstrument::debugModeChanged);
    auto client = std::make_unique<LineClient>(m_instrument->portPath());
    const QByteArray command = hex("010627100001437b");
    QCOMPARE(client->transact(command, command.size()).toHex(' '), command.toHex(' '));
    QVERIFY(m_instrument->inDebugMode());
    QCOMPARE(modeSpy.count(), 1);

    // Plain text now: received bytes come back, requests for other servers included.
    QCOMPARE(client->transact("abc", 3), QByteArray("abc"));
    const QByteArray otherServer = hex("0203018c000605ec");
    QCOMPARE(client->transact(otherServer, otherServer.size()).toHex(' '), otherServer.toHex(' '));
    const QByteArray status = client->receive(INT_MAX, 1300);
    QVERIFY2(status.startsWith("STATUS ") && status.endsWith("\r\n"), status.constData());
    QVERIFY(status.contains(" CH22="));

    client->close();
    QTRY_VERIFY(!m_instrument->inDebugMode());
    QCOMPARE(int(m_instrument->holding(10000)), 0);

    client = std::make_unique<LineClient>(m_instrument->portPath());
    QCOMPARE(client->transact(ReadSystem, SystemReply.size()).toHex(' '), SystemReply.toHex(' '));

    // A client that leaves its console and goes straight back to Modbus
    // shows no hang-up; its first request for us ends the text mode.
    QCOMPARE(client->transact(command, command.size()).toHex(' '), command.toHex(' '));
    QVERIFY(m_instrument->inDebugMode());
    QCOMPARE(client->transact(ReadSystem, SystemReply.size()).toHex(' '), SystemReply.toHex(' '));
    QVERIFY(!m_instrument->inDebugMode());
}

// The tool closes its Modbus port and opens the console on the same line
// right after the debug command is answered.
void TestSimInstrument::debugModeSurvivesHandOver()
{
    auto client = std::make_unique<LineClient>(m_instrument->portPath());
    QCOMPARE(client->transact(hex("0110271000010200013202"), 8).toHex(' '),
             hex("0110271000010ab8").toHex(' '));
    QVERIFY(m_instrument->inDebugMode());
    client->close();
    QTest::qWait(100);
    client = std::make_unique<LineClient>(m_instrument->portPath());
    QVERIFY(m_instrument->inDebugMode());
    QVERIFY(client->receive(INT_MAX, 1300).startsWith("STATUS "));
    QCOMPARE(client->transact("x", 1), QByteArray("x"));
}

void TestSimInstrument::unplugGivesClientIoError()
{
    LineClient client(m_instrument->portPath());
    QCOMPARE(client.transact(ReadSystem, SystemReply.size()).size(), SystemReply.size());
    m_instrument->closePort();
    QVERIFY(!m_instrument->isOpen());

    pollfd descriptor = { client.fd(), POLLIN, 0 };
    QCOMPARE(::poll(&descriptor, 1, 500), 1);
    QVERIFY(descriptor.revents & POLLHUP);
    // A hung-up tty reads as end of file and refuses writes.
    char byte;
    QCOMPARE(::read(client.fd(), &byte, 1), ssize_t(0));
    QCOMPARE(::write(client.fd(), ReadSystem.constData(), size_t(ReadSystem.size())), ssize_t(-1));
    QCOMPARE(errno, EIO);
}

// Nobody has opened the line yet, so the master is hung up; serving it must
// not turn into a busy loop.
void TestSimInstrument::idleLineCostsNoCpu()
{
    const std::clock_t before = std::clock();
    QTest::qWait(500);
    const double cpuMs = double(std::clock() - before) * 1000.0 / CLOCKS_PER_SEC;
    QVERIFY2(cpuMs < 150, qPrintable(QString::number(cpuMs)));
}

void TestSimInstrument::driftStaysNearLevelAndInRange()
{
    InstrumentModel model(42);
    model.setInput(0, 1000);
    // Channel 2: range 0-10 units, level 9.5: drift must stop at 10.0.
    model.setHolding(325, 0);
    model.setHolding(349, 10);
    model.setInput(1, 95);
    bool moved = false;
    for (int tick = 0; tick < 2000; ++tick) {
        model.step();
        const int free = qint16(model.input(0));
        const int limited = qint16(model.input(1));
        QVERIFY2(free >= 950 && free <= 1050, qPrintable(QString::number(free)));
        QVERIFY2(limited >= 45 && limited <= 100, qPrintable(QString::number(limited)));
        moved = moved || free != 1000;
    }
    QVERIFY(moved);
}

QTEST_GUILESS_MAIN(TestSimInstrument)
#include "tst_siminstrument.moc"
