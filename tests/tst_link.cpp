// The instrument link end to end: the real window and Modbus client over a
// pseudo-terminal against the virtual instrument.
#include "e2erig.h"
#include "portwatcher.h"

#include <QSerialPort>

#include <memory>

// The port list comes from wherever the test says, not from the machine.
class TestAccess
{
public:
    static void listPorts(Widget &w, std::function<QStringList()> names) { w.m_portNames = std::move(names); }
};

class TestLink : public E2ETestCase
{
    Q_OBJECT

private slots:
    void connectingReadsSystemBlockThenPolls();
    void connectedLayout();
    void systemReadFillsGroup();
    void measuredValues_data();
    void measuredValues();
    void channelCountLimitsDisplay();
    void errorRepliesChangeNothing_data();
    void errorRepliesChangeNothing();
    void lineSettingsReachClient();
    void unopenablePortShowsBoxOnce();
    void systemWrite_data();
    void systemWrite();
    void systemWriteWhileIdleSendsNothing();
    void singleRegisterWrite();
    void silentInstrumentLeavesNoBacklog();
    void failedReadKeepsLink();
    void lostLineReturnsToIdle();
    void removalOfSelectedPort();
    void removalOfOtherPort();
    void arrivalKeepsSelection();
    void stopClosesLink();
};

void TestLink::connectingReadsSystemBlockThenPolls()
{
    QVERIFY(m_rig->connectLink());
    m_rig->settle(300);
    auto requests = m_rig->instrument.requests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.at(0).serverAddress, quint8(1));
    QCOMPARE(requests.at(0).functionCode, ReadHolding);
    QCOMPARE(requests.at(0).startAddress, quint16(396));
    QCOMPARE(requests.at(0).quantity, quint16(6));

    // The first poll comes one interval after connecting, then one a second.
    QElapsedTimer clock;
    clock.start();
    QTRY_COMPARE_WITH_TIMEOUT(m_rig->requestsWith(ReadInput).size(), 1, 2000);
    QVERIFY2(clock.elapsed() >= 600, "the first poll came before the interval was up");
    QTRY_COMPARE_WITH_TIMEOUT(m_rig->requestsWith(ReadInput).size(), 2, 2000);
    const auto polls = m_rig->requestsWith(ReadInput);
    for (const auto &poll : polls) {
        QCOMPARE(poll.serverAddress, quint8(1));
        QCOMPARE(poll.startAddress, quint16(0));
        QCOMPARE(poll.quantity, quint16(22));
    }
    QCOMPARE(m_rig->requestsWith(ReadHolding).size(), 1);
}

void TestLink::connectedLayout()
{
    QVERIFY(m_rig->connectLink());
    for (const char *name :
         { "serialPortCombo", "baudRateCombo", "jiaoyanCombo", "stopbitCombo", "pushButton" })
        QVERIFY2(!m_rig->find<QWidget>(name)->isEnabled(), name);
    for (const char *name :
         { "pushButton_2", "pushButton_3", "debugBt", "readBt", "writeBt", "readChBt", "writeChBt",
           "copyChBt", "sendBt", "clearBt", "sendLineEdit", "m_addrLineEdit" })
        QVERIFY2(m_rig->find<QWidget>(name)->isEnabled(), name);
    QVERIFY(m_rig->pollTimer()->isActive());
    QCOMPARE(m_rig->find<QPushButton>("debugBt")->text(), QStringLiteral("开始调试"));

    QTest::mouseClick(m_rig->find<QPushButton>("pushButton_2"), Qt::LeftButton);
    QVERIFY(m_rig->isIdle());
    QVERIFY(m_rig->find<QWidget>("serialPortCombo")->isEnabled());
    QVERIFY(!m_rig->find<QWidget>("pushButton_3")->isEnabled());
    QVERIFY(!m_rig->find<QWidget>("debugBt")->isEnabled());
}

void TestLink::systemReadFillsGroup()
{
    m_rig->instrument.setHolding(396, 8);
    m_rig->instrument.setHolding(397, 12);
    m_rig->instrument.setHolding(398, 3);
    m_rig->instrument.setHolding(399, 2);
    m_rig->instrument.setHolding(400, 2);
    m_rig->instrument.setHolding(401, 7);
    QVERIFY(m_rig->connectLink());
    QTRY_COMPARE(g_chnum, 8);
    QCOMPARE(g_boteErr, 7);
    QCOMPARE(m_rig->text("m_addrLineEdit"), QStringLiteral("12"));
    QCOMPARE(m_rig->text("m_chnum"), QStringLiteral("8"));
    QCOMPARE(m_rig->find<QComboBox>("m_baudCombo")->currentText(), QStringLiteral("19200"));
    QCOMPARE(m_rig->find<QComboBox>("m_stopbitComboBox")->currentText(), QStringLiteral("2位"));
    QCOMPARE(m_rig->find<QComboBox>("m_parityComboBox")->currentText(), QStringLiteral("偶校验"));
}

void TestLink::measuredValues_data()
{
    QTest::addColumn<int>("word");
    QTest::addColumn<QString>("shown");

    QTest::newRow("positive") << 0x00FF << "25.5";
    QTest::newRow("zero") << 0 << "0.0";
    QTest::newRow("minus a tenth") << 0xFFFF << "-0.1";
    QTest::newRow("negative") << 0xFF38 << "-20.0";
    QTest::newRow("most negative") << 0x8000 << "-3276.8";
    QTest::newRow("most positive") << 0x7FFF << "3276.7";
}

void TestLink::measuredValues()
{
    QFETCH(int, word);
    QFETCH(QString, shown);

    m_rig->instrument.setInput(0, qint16(word));
    m_rig->instrument.setInput(21, qint16(word));
    QVERIFY(m_rig->connectLink());
    QTRY_COMPARE(g_chnum, 22);
    m_rig->tick();
    QTRY_COMPARE(m_rig->text("ch1LineE"), shown);
    QCOMPARE(m_rig->text("ch22LineEdit"), shown);
    QCOMPARE(m_rig->text("m_chnum"), QStringLiteral("22"));
}

void TestLink::channelCountLimitsDisplay()
{
    m_rig->instrument.setHolding(396, 8);
    m_rig->instrument.setInput(0, 0x00FF);
    m_rig->instrument.setInput(7, -5);
    m_rig->instrument.setInput(8, 0x0010);
    QVERIFY(m_rig->connectLink());
    QTRY_COMPARE(g_chnum, 8);
    m_rig->find<QLineEdit>("ch9LineEdit")->setText("stale");
    m_rig->tick();
    QTRY_COMPARE(m_rig->text("ch1LineE"), QStringLiteral("25.5"));
    QCOMPARE(m_rig->text("ch8LineEdit"), QStringLiteral("-0.5"));
    QCOMPARE(m_rig->text("ch9LineEdit"), QString());
    QCOMPARE(m_rig->text("ch22LineEdit"), QString());

    // A channel count changed elsewhere takes effect at the next poll reply.
    m_rig->instrument.setHolding(396, 9);
    g_chnum = 9;
    m_rig->settle();
    m_rig->tick();
    QTRY_COMPARE(m_rig->text("ch9LineEdit"), QStringLiteral("1.6"));
    QCOMPARE(m_rig->text("m_chnum"), QStringLiteral("9"));
}

void TestLink::errorRepliesChangeNothing_data()
{
    QTest::addColumn<int>("exception");
    QTest::addColumn<bool>("corruptCrc");
    QTest::addColumn<bool>("silent");
    QTest::addColumn<int>("otherServer");
    QTest::addColumn<int>("truncate");
    QTest::addColumn<int>("withheld");

    QTest::newRow("exception") << 2 << false << false << -1 << 0 << 0;
    QTest::newRow("bad crc") << 0 << true << false << -1 << 0 << 0;
    QTest::newRow("time-out") << 0 << false << true << -1 << 0 << 0;
    QTest::newRow("other server") << 0 << false << false << 7 << 0 << 0;
    QTest::newRow("truncated") << 0 << false << false << -1 << 3 << 0;
    QTest::newRow("registers withheld") << 0 << false << false << -1 << 0 << 2;
}

void TestLink::errorRepliesChangeNothing()
{
    QFETCH(int, exception);
    QFETCH(bool, corruptCrc);
    QFETCH(bool, silent);
    QFETCH(int, otherServer);
    QFETCH(int, truncate);
    QFETCH(int, withheld);

    m_rig->instrument.setInput(0, 123);
    QVERIFY(m_rig->connectLink());
    QTRY_COMPARE(g_chnum, 22);
    m_rig->tick();
    QTRY_COMPARE(m_rig->text("ch1LineE"), QStringLiteral("12.3"));
    m_rig->find<QLineEdit>("m_addrLineEdit")->setText("typed");

    VirtualInstrument::Faults faults;
    faults.exceptionCode = quint8(exception);
    faults.corruptCrc = corruptCrc;
    faults.silent = silent;
    faults.replyAddress = otherServer;
    faults.truncateBytes = truncate;
    faults.withheldRegisters = withheld;
    m_rig->instrument.setFaults(faults);
    m_rig->instrument.setInput(0, 456);
    m_rig->instrument.setHolding(396, 4);
    const int before = m_rig->instrument.requests().size();
    m_rig->tick();
    QMetaObject::invokeMethod(m_rig->window, "on_readBt_clicked");
    // Each request is tried three times, 500 ms apart, before it fails.
    QTest::qWait(3500);
    QVERIFY(m_rig->instrument.requests().size() > before);

    QCOMPARE(m_rig->text("ch1LineE"), QStringLiteral("12.3"));
    QCOMPARE(m_rig->text("m_addrLineEdit"), QStringLiteral("typed"));
    QCOMPARE(m_rig->text("m_chnum"), QStringLiteral("22"));
    QCOMPARE(g_chnum, 22);
    QVERIFY(!m_rig->isIdle());
}

void TestLink::lineSettingsReachClient()
{
    m_rig->find<QComboBox>("stopbitCombo")->setCurrentText(QStringLiteral("2位"));
    m_rig->find<QComboBox>("jiaoyanCombo")->setCurrentText(QStringLiteral("偶校验"));
    m_rig->find<QComboBox>("baudRateCombo")->setCurrentText(QStringLiteral("9600"));
    QVERIFY(m_rig->connectLink());
    auto *client = m_rig->client();
    QCOMPARE(client->connectionParameter(QModbusDevice::SerialPortNameParameter).toString(),
             m_rig->instrument.portPath());
    QCOMPARE(client->connectionParameter(QModbusDevice::SerialBaudRateParameter).toInt(), 9600);
    QCOMPARE(client->connectionParameter(QModbusDevice::SerialDataBitsParameter).toInt(), 8);
    QCOMPARE(client->connectionParameter(QModbusDevice::SerialStopBitsParameter).toInt(), 2);
    QCOMPARE(client->connectionParameter(QModbusDevice::SerialParityParameter).toInt(),
             int(QSerialPort::EvenParity));
    QCOMPARE(client->timeout(), 500);
    QCOMPARE(client->numberOfRetries(), 2);

    // The parity follows the index, odd for item 1.
    QMetaObject::invokeMethod(m_rig->window, "on_pushButton_2_clicked");
    m_rig->find<QComboBox>("jiaoyanCombo")->setCurrentIndex(1);
    QTest::mouseClick(m_rig->find<QPushButton>("pushButton"), Qt::LeftButton);
    QCOMPARE(client->connectionParameter(QModbusDevice::SerialParityParameter).toInt(),
             int(QSerialPort::OddParity));
}

void TestLink::unopenablePortShowsBoxOnce()
{
    MessageBoxCatcher catcher;
    m_rig->selectPort(QStringLiteral("/dev/meterconfig-no-such-port"));
    QTest::mouseClick(m_rig->find<QPushButton>("pushButton"), Qt::LeftButton);
    QCOMPARE(catcher.titles, QStringList { QStringLiteral("打开串口错误") });
    QCOMPARE(catcher.texts, QStringList { QStringLiteral("打开失败，串口可能被占用.") });
    QVERIFY(catcher.informativeTexts.first().contains(QStringLiteral("不存在")));
    QCOMPARE(catcher.parented, QList<bool> { false });
    QVERIFY(m_rig->isIdle());
    QVERIFY(m_rig->find<QComboBox>("serialPortCombo")->isEnabled());
    QVERIFY(!m_rig->find<QPushButton>("debugBt")->isEnabled());
    m_rig->settle(1200);
    QCOMPARE(catcher.titles.size(), 1);
    QVERIFY(m_rig->instrument.requests().isEmpty());
}

void TestLink::systemWrite_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("stop");
    QTest::addColumn<int>("parity");
    QTest::addColumn<QVector<quint16>>("words");

    QTest::newRow("plain") << "5" << 7 << 0 << 0 << QVector<quint16> { 5, 7, 1, 0 };
    QTest::newRow("two stop bits, even") << "247" << 1 << 1 << 2 << QVector<quint16> { 247, 1, 2, 2 };
    // These would leave the instrument answering nobody; nothing goes out.
    QTest::newRow("address above 65535") << "65537" << 0 << 0 << 1 << QVector<quint16>();
    QTest::newRow("address not a number") << "x1" << 3 << 1 << 0 << QVector<quint16>();
    QTest::newRow("no current items") << "9" << -1 << -1 << -1 << QVector<quint16>();
}

void TestLink::systemWrite()
{
    QFETCH(QString, address);
    QFETCH(int, baud);
    QFETCH(int, stop);
    QFETCH(int, parity);
    QFETCH(QVector<quint16>, words);

    MessageBoxCatcher catcher;
    catcher.answer = QMessageBox::Yes;
    QVERIFY(m_rig->connectLink());
    m_rig->settle();
    m_rig->pollTimer()->stop();
    m_rig->instrument.clearRequests();
    m_rig->find<QLineEdit>("m_addrLineEdit")->setText(address);
    m_rig->find<QComboBox>("m_baudCombo")->setCurrentIndex(baud);
    m_rig->find<QComboBox>("m_stopbitComboBox")->setCurrentIndex(stop);
    m_rig->find<QComboBox>("m_parityComboBox")->setCurrentIndex(parity);
    QTest::mouseClick(m_rig->find<QPushButton>("writeBt"), Qt::LeftButton);
    // Every row changes what was read: asked first, or refused.
    QCOMPARE(catcher.titles, QStringList { QStringLiteral("写系统参数") });
    if (words.isEmpty()) {
        m_rig->settle(300);
        QVERIFY(m_rig->instrument.requests().isEmpty());
        return;
    }
    QVERIFY(m_rig->waitForRequests(1));
    const auto request = m_rig->instrument.requests().first();
    QCOMPARE(request.serverAddress, quint8(1));
    QCOMPARE(request.functionCode, WriteMultiple);
    QCOMPARE(request.startAddress, quint16(397));
    QCOMPARE(request.values, words);
    m_rig->settle();
    QCOMPARE(m_rig->instrument.holding(398), words.at(1));
}

void TestLink::systemWriteWhileIdleSendsNothing()
{
    QTest::mouseClick(m_rig->find<QPushButton>("writeBt"), Qt::LeftButton);
    QTest::mouseClick(m_rig->find<QPushButton>("readBt"), Qt::LeftButton);
    QMetaObject::invokeMethod(m_rig->window, "write_slot", Q_ARG(int, 401), Q_ARG(int, 3));
    m_rig->settle(600);
    QVERIFY(m_rig->instrument.requests().isEmpty());
    QCOMPARE(m_rig->text("m_addrLineEdit"), QString());
}

void TestLink::singleRegisterWrite()
{
    m_rig->find<QLineEdit>("m_addrLineEdit")->setText("9");
    QVERIFY(m_rig->connectLink());
    m_rig->settle();
    m_rig->instrument.clearRequests();
    QMetaObject::invokeMethod(m_rig->window, "write_slot", Q_ARG(int, 401), Q_ARG(int, 3));
    QMetaObject::invokeMethod(m_rig->window, "write_slot", Q_ARG(int, 396), Q_ARG(int, -1));
    QVERIFY(m_rig->waitForRequests(2));
    m_rig->settle(300);
    const auto requests = m_rig->instrument.requests();
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests.at(0).serverAddress, quint8(1));
    QCOMPARE(requests.at(0).functionCode, WriteSingle);
    QCOMPARE(requests.at(0).startAddress, quint16(401));
    QCOMPARE(requests.at(0).values, QVector<quint16> { 3 });
    QCOMPARE(requests.at(1).startAddress, quint16(396));
    QCOMPARE(requests.at(1).values, QVector<quint16> { 0xFFFF });
    QCOMPARE(m_rig->instrument.holding(401), quint16(3));
}

void TestLink::silentInstrumentLeavesNoBacklog()
{
    QVERIFY(m_rig->connectLink());
    m_rig->settle();
    // When each poll went out, its tries included.
    QVector<qint64> polls;
    QElapsedTimer clock;
    clock.start();
    QObject context;
    connect(&m_rig->instrument, &VirtualInstrument::requestReceived, &context,
            [&polls, &clock](const E2ERig::Request &request) {
                if (request.functionCode == ReadInput)
                    polls << clock.elapsed();
            });
    VirtualInstrument::Faults faults;
    faults.silent = true;
    m_rig->instrument.setFaults(faults);
    QTest::qWait(6000);
    m_rig->instrument.clearFaults();
    m_rig->instrument.setInput(0, 777);
    QTRY_COMPARE_WITH_TIMEOUT(m_rig->text("ch1LineE"), QStringLiteral("77.7"), 5000);
    m_rig->settle(1500);

    // Ticks queued behind the silent polls would go out back to back once it
    // answers again; with one poll waiting at most, a try's time or a tick
    // lies between any two.
    QVERIFY(polls.size() >= 6);
    for (int i = 1; i < polls.size(); ++i)
        QVERIFY2(polls.at(i) - polls.at(i - 1) >= 400,
                 qPrintable(QString::number(polls.at(i) - polls.at(i - 1))));
}

void TestLink::failedReadKeepsLink()
{
    m_rig->instrument.setInput(0, 55);
    QVERIFY(m_rig->connectLink());
    QTRY_COMPARE(g_chnum, 22);
    // One read fails on a line that is still there, as the client's port
    // reports it; the client passes it on as an error of its own.
    emit m_rig->client()->findChild<QSerialPort *>()->errorOccurred(QSerialPort::ReadError);
    m_rig->settle();
    QVERIFY(!m_rig->isIdle());
    m_rig->tick();
    QTRY_COMPARE(m_rig->text("ch1LineE"), QStringLiteral("5.5"));
}

void TestLink::lostLineReturnsToIdle()
{
    MessageBoxCatcher catcher;
    QVERIFY(m_rig->connectLink());
    m_rig->tick();
    m_rig->instrument.closePort();
    QTRY_VERIFY(m_rig->isIdle());
    QVERIFY(m_rig->client()->state() != QModbusDevice::ConnectedState);
    m_rig->settle(2000);
    QVERIFY(catcher.titles.isEmpty());
    QVERIFY(m_rig->isIdle());

    // The client is usable again: no stale queue holds up new requests.
    QVERIFY(m_rig->instrument.open());
    m_rig->selectPort(m_rig->instrument.portPath());
    m_rig->instrument.setInput(3, 42);
    QVERIFY(m_rig->connectLink());
    m_rig->tick();
    QTRY_COMPARE(m_rig->text("ch4LineEdit"), QStringLiteral("4.2"));
}

void TestLink::removalOfSelectedPort()
{
    QVERIFY(m_rig->connectLink());
    auto *watcher = m_rig->window->findChild<PortWatcher *>();
    QVERIFY(watcher);
    emit watcher->portRemoved(m_rig->instrument.portPath());
    QVERIFY(m_rig->isIdle());
    QVERIFY(m_rig->client()->state() != QModbusDevice::ConnectedState);
}

void TestLink::removalOfOtherPort()
{
    const QString pty = m_rig->instrument.portPath();
    auto ports = std::make_shared<QStringList>(QStringList { "ttyUSB9", "ttyS0", pty });
    TestAccess::listPorts(*m_rig->window, [ports]() { return *ports; });
    auto *watcher = m_rig->window->findChild<PortWatcher *>();
    emit watcher->portArrived();
    m_rig->selectPort(pty);
    QVERIFY(m_rig->connectLink());

    ports->removeFirst();
    emit watcher->portRemoved(QStringLiteral("ttyUSB9"));
    QVERIFY(!m_rig->isIdle());
    QCOMPARE(m_rig->client()->state(), QModbusDevice::ConnectedState);
    QCOMPARE(m_rig->find<QComboBox>("serialPortCombo")->count(), 2);
    QCOMPARE(m_rig->find<QComboBox>("serialPortCombo")->currentText(), pty);
}

void TestLink::arrivalKeepsSelection()
{
    auto ports = std::make_shared<QStringList>(QStringList { "ttyS0", "ttyUSB1" });
    TestAccess::listPorts(*m_rig->window, [ports]() { return *ports; });
    auto *combo = m_rig->find<QComboBox>("serialPortCombo");
    auto *watcher = m_rig->window->findChild<PortWatcher *>();
    emit watcher->portArrived();
    QCOMPARE(combo->currentText(), QStringLiteral("ttyS0"));

    combo->setCurrentText(QStringLiteral("ttyUSB1"));
    *ports = QStringList { "ttyACM0", "ttyS0", "ttyUSB1" };
    emit watcher->portArrived();
    QCOMPARE(combo->count(), 3);
    QCOMPARE(combo->currentText(), QStringLiteral("ttyUSB1"));
}

void TestLink::stopClosesLink()
{
    MessageBoxCatcher catcher;
    QVERIFY(m_rig->connectLink());
    m_rig->tick();
    QTest::mouseClick(m_rig->find<QPushButton>("pushButton_2"), Qt::LeftButton);
    QVERIFY(m_rig->isIdle());
    QCOMPARE(m_rig->client()->state(), QModbusDevice::UnconnectedState);
    // Nothing the client had pending may reach the window afterwards.
    m_rig->settle(2000);
    QVERIFY(m_rig->isIdle());
    QVERIFY(catcher.titles.isEmpty());
}

QTEST_MAIN(TestLink)
#include "tst_link.moc"
