// The debug console end to end: the real window switches the virtual
// instrument into its text mode and takes the pseudo-terminal over.
#include "e2erig.h"
#include "portwatcher.h"

#include <QFile>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTextCodec>
#include <QTextCursor>

namespace {

const QString Start = QStringLiteral("开始调试");
const QString Stop = QStringLiteral("停止调试");

} // namespace

// The raw port is no child of the window; tests write into it directly to
// have the instrument echo byte sequences no typed text could produce.
class TestAccess
{
public:
    static QSerialPort *consolePort(const Widget &w) { return w.m_serialPort; }
};

class TestConsole : public E2ETestCase
{
    Q_OBJECT

private slots:
    void commandGoesToAddressField_data();
    void commandGoesToAddressField();
    void nothingSentWhileDisconnected();
    void opensWhateverTheOutcome_data();
    void opensWhateverTheOutcome();
    void opensOnceWhenPressedTwice();
    void debugModeLayout();
    void heldPortShowsBox();
    void sendWritesUtf8_data();
    void sendWritesUtf8();
    void chunksShownOnceAcrossReopening();
    void stopClosesConsole();
    void receivedTextGoesToEnd();
    void decodingKeepsDataWhole_data();
    void decodingKeepsDataWhole();
    void leavingReopensLink_data();
    void leavingReopensLink();
    void leavingWithVanishedPort();
    void abortedCommandOpensNothing_data();
    void abortedCommandOpensNothing();
    void brokenConsolePortReturnsToIdle();
    void clearEmptiesView();
    void clearForgetsTrailingCr();

private:
    QPushButton *button(const char *name) const { return m_rig->find<QPushButton>(name); }
    QString caption() const { return button("debugBt")->text(); }
    QTextBrowser *view() const { return m_rig->find<QTextBrowser>("textBrowser"); }
    // The view without the status lines the instrument prints every second.
    QString shown() const;
    bool openConsole();
    void send(const QString &text, bool byReturn = false);
    int debugCommands() const;
};

QString TestConsole::shown() const
{
    QString text = view()->toPlainText();
    text.remove(QRegularExpression(QStringLiteral("STATUS [^\\n]*\\n")));
    return text;
}

bool TestConsole::openConsole()
{
    m_rig->find<QLineEdit>("m_addrLineEdit")->setText(QString::number(m_rig->instrument.serverAddress()));
    if (!m_rig->connectLink())
        return false;
    m_rig->settle();
    QTest::mouseClick(button("debugBt"), Qt::LeftButton);
    return QTest::qWaitFor([this]() { return caption() == Stop; }, 3000) && m_rig->instrument.inDebugMode();
}

void TestConsole::send(const QString &text, bool byReturn)
{
    m_rig->find<QLineEdit>("sendLineEdit")->setText(text);
    if (byReturn)
        QTest::keyClick(m_rig->find<QLineEdit>("sendLineEdit"), Qt::Key_Return);
    else
        QTest::mouseClick(button("sendBt"), Qt::LeftButton);
}

int TestConsole::debugCommands() const
{
    int count = 0;
    for (const auto &request : m_rig->requestsWith(WriteSingle)) {
        if (request.startAddress == 10000)
            ++count;
    }
    return count;
}

void TestConsole::commandGoesToAddressField_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("server");

    QTest::newRow("own address") << "1" << 1;
    QTest::newRow("highest unicast") << "247" << 247;
    QTest::newRow("broadcast") << "0" << 0;
    QTest::newRow("reserved") << "248" << 0;
    QTest::newRow("not a number") << "x1" << 0;
    QTest::newRow("empty") << "" << 0;
}

void TestConsole::commandGoesToAddressField()
{
    QFETCH(QString, address);
    QFETCH(int, server);

    MessageBoxCatcher catcher;
    QVERIFY(m_rig->connectLink());
    m_rig->settle();
    m_rig->instrument.clearRequests();
    m_rig->find<QLineEdit>("m_addrLineEdit")->setText(address);
    QTest::mouseClick(button("debugBt"), Qt::LeftButton);

    if (server == 0) {
        // The client sends in order: once a later request is through, any
        // command would have been seen before it.
        QMetaObject::invokeMethod(m_rig->window, "on_readBt_clicked");
        QVERIFY(m_rig->waitForRequests(1));
        QCOMPARE(m_rig->instrument.requests().first().functionCode, ReadHolding);
        QCOMPARE(debugCommands(), 0);
        QCOMPARE(caption(), Start);
        QCOMPARE(m_rig->client()->state(), QModbusDevice::ConnectedState);
        return;
    }

    QVERIFY(m_rig->waitForRequests(1));
    const auto request = m_rig->instrument.requests().first();
    QCOMPARE(request.serverAddress, quint8(server));
    QCOMPARE(request.functionCode, WriteSingle);
    QCOMPARE(request.startAddress, quint16(10000));
    QCOMPARE(request.values, QVector<quint16> { 1 });
    QTRY_COMPARE_WITH_TIMEOUT(caption(), Stop, 3000);
    QVERIFY(catcher.titles.isEmpty());
}

void TestConsole::nothingSentWhileDisconnected()
{
    m_rig->find<QLineEdit>("m_addrLineEdit")->setText("1");
    QVERIFY(!button("debugBt")->isEnabled());
    QMetaObject::invokeMethod(m_rig->window, "on_debugBt_clicked");
    QCOMPARE(caption(), Start);
    QVERIFY(DebugMessages::list.filter("7").isEmpty());
    m_rig->settle();
    QVERIFY(m_rig->instrument.requests().isEmpty());
    QVERIFY(m_rig->isIdle());
}

void TestConsole::opensWhateverTheOutcome_data()
{
    QTest::addColumn<int>("exception");
    QTest::addColumn<QString>("address");

    QTest::newRow("answered") << 0 << "1";
    QTest::newRow("exception") << 4 << "1";
    // Nobody answers address 9: three tries, then the time-out.
    QTest::newRow("time-out") << 0 << "9";
}

void TestConsole::opensWhateverTheOutcome()
{
    QFETCH(int, exception);
    QFETCH(QString, address);

    MessageBoxCatcher catcher;
    QVERIFY(m_rig->connectLink());
    m_rig->settle();
    VirtualInstrument::Faults faults;
    faults.exceptionCode = quint8(exception);
    m_rig->instrument.setFaults(faults);
    m_rig->find<QLineEdit>("m_addrLineEdit")->setText(address);
    DebugMessages::list.clear();
    QTest::mouseClick(button("debugBt"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(caption(), Stop, 5000);
    QCOMPARE(DebugMessages::list, QStringList { "7" });
    QVERIFY(m_rig->client()->state() != QModbusDevice::ConnectedState);
    QVERIFY(TestAccess::consolePort(*m_rig->window)->isOpen());
    QVERIFY(catcher.titles.isEmpty());
}

void TestConsole::opensOnceWhenPressedTwice()
{
    MessageBoxCatcher catcher;
    m_rig->find<QLineEdit>("m_addrLineEdit")->setText("1");
    QVERIFY(m_rig->connectLink());
    m_rig->settle();
    QTest::mouseClick(button("debugBt"), Qt::LeftButton);
    QTest::mouseClick(button("debugBt"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(caption(), Stop, 3000);
    m_rig->settle(600);
    QCOMPARE(caption(), Stop);
    // A second opening would fail on the port the first one holds.
    QVERIFY(catcher.titles.isEmpty());
    QVERIFY(TestAccess::consolePort(*m_rig->window)->isOpen());

    send(QStringLiteral("once"));
    QTRY_VERIFY(shown().contains(QStringLiteral("once")));
    m_rig->settle();
    QCOMPARE(shown().count(QStringLiteral("once")), 1);
}

void TestConsole::debugModeLayout()
{
    QVERIFY(openConsole());
    for (const char *name : { "serialPortCombo", "baudRateCombo", "jiaoyanCombo", "stopbitCombo" })
        QVERIFY2(!m_rig->find<QWidget>(name)->isEnabled(), name);
    QVERIFY(!button("pushButton_3")->isEnabled());
    QVERIFY(!button("pushButton")->isEnabled());
    QVERIFY(button("pushButton_2")->isEnabled());
    QVERIFY(button("debugBt")->isEnabled());
    QVERIFY(m_rig->pollTimer()->isActive());
    QCOMPARE(caption(), Stop);
    for (const char *name : { "sendLineEdit", "sendBt", "clearBt", "textBrowser", "readBt" })
        QVERIFY2(m_rig->find<QWidget>(name)->isEnabled(), name);
}

void TestConsole::heldPortShowsBox()
{
    MessageBoxCatcher catcher;
    m_rig->find<QLineEdit>("m_addrLineEdit")->setText("1");
    QVERIFY(m_rig->connectLink());
    m_rig->settle();

    // Another program grabs the port the moment the Modbus client lets go.
    QSerialPort other;
    other.setPortName(m_rig->instrument.portPath());
    QObject::connect(m_rig->client(), &QModbusDevice::stateChanged, &other, [&other](QModbusDevice::State s) {
        if (s == QModbusDevice::UnconnectedState && !other.isOpen())
            other.open(QIODevice::ReadWrite);
    });
    QTest::mouseClick(button("debugBt"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(catcher.titles.size(), 1, 3000);
    QVERIFY(other.isOpen());
    QCOMPARE(catcher.titles, QStringList { QStringLiteral("打开串口错误") });
    QCOMPARE(catcher.texts, QStringList { QStringLiteral("打开失败，串口可能被占用.") });
    QVERIFY(catcher.informativeTexts.first().contains(QStringLiteral("已被其他程序占用")));
    QCOMPARE(catcher.parented, QList<bool> { false });
    QCOMPARE(caption(), Start);
    QVERIFY(!TestAccess::consolePort(*m_rig->window)->isOpen());
    // The link cannot come back while the port is held: idle, not a
    // connected layout over a closed client, and no second box.
    QTRY_VERIFY(m_rig->isIdle());
    QCOMPARE(catcher.titles.size(), 1);

    // Once the port is free again the window gets its link back instead.
    other.close();
    QVERIFY(m_rig->connectLink());
    QObject::disconnect(m_rig->client(), nullptr, &other, nullptr);
    QSerialPort again;
    again.setPortName(m_rig->instrument.portPath());
    QObject::connect(m_rig->client(), &QModbusDevice::stateChanged, &again, [&again](QModbusDevice::State s) {
        if (s == QModbusDevice::UnconnectedState && !again.isOpen()) {
            again.open(QIODevice::ReadWrite);
            QTimer::singleShot(0, &again, [&again]() { again.close(); });
        }
    });
    m_rig->instrument.clearRequests();
    QTest::mouseClick(button("debugBt"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(catcher.titles.size(), 2, 3000);
    QTRY_COMPARE(m_rig->client()->state(), QModbusDevice::ConnectedState);
    QVERIFY(!m_rig->isIdle());
    QCOMPARE(caption(), Start);
}

void TestConsole::sendWritesUtf8_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("byReturn");

    QTest::newRow("ascii") << "abc" << QByteArray::fromHex("616263") << false;
    QTest::newRow("chinese") << "调试" << QByteArray::fromHex("E8B083E8AF95") << false;
    QTest::newRow("empty") << "" << QByteArray() << false;
    QTest::newRow("Return in the field") << "abc" << QByteArray::fromHex("616263") << true;
}

void TestConsole::sendWritesUtf8()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, byReturn);

    // Latin-1 shows each echoed byte as one character.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("ISO-8859-1"));
    QVERIFY(openConsole());
    send(text, byReturn);
    // Nothing is appended and nothing is echoed locally; the marker sent
    // next shows where the instrument's echo of the text ends.
    send(QStringLiteral("#"));
    QTRY_VERIFY(shown().contains(QLatin1Char('#')));
    QCOMPARE(shown().toLatin1(), bytes + '#');
    QCOMPARE(m_rig->text("sendLineEdit"), QStringLiteral("#"));
}

void TestConsole::chunksShownOnceAcrossReopening()
{
    QVERIFY(openConsole());
    send(QStringLiteral("first"));
    QTRY_VERIFY(shown().contains(QStringLiteral("first")));

    QTest::mouseClick(button("debugBt"), Qt::LeftButton);
    QCOMPARE(caption(), Start);
    m_rig->settle();
    QTest::mouseClick(button("debugBt"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(caption(), Stop, 3000);
    QVERIFY(m_rig->instrument.inDebugMode());

    send(QStringLiteral("second"));
    QTRY_VERIFY(shown().contains(QStringLiteral("second")));
    m_rig->settle(300);
    QCOMPARE(shown(), QStringLiteral("firstsecond"));
}

void TestConsole::stopClosesConsole()
{
    MessageBoxCatcher catcher;
    QVERIFY(openConsole());
    QTest::mouseClick(button("pushButton_2"), Qt::LeftButton);
    QCOMPARE(caption(), Start);
    QVERIFY(!TestAccess::consolePort(*m_rig->window)->isOpen());
    QVERIFY(m_rig->isIdle());
    QCOMPARE(m_rig->client()->state(), QModbusDevice::UnconnectedState);
    QTRY_VERIFY(!m_rig->instrument.isLineOpen());
    QVERIFY(catcher.titles.isEmpty());
}

void TestConsole::receivedTextGoesToEnd()
{
    QVERIFY(openConsole());
    send(QStringLiteral("one-"));
    QTRY_VERIFY(shown().contains(QStringLiteral("one-")));

    // The operator clicks into the view and selects its first characters.
    QTest::mouseClick(view()->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
    QTextCursor selection(view()->document());
    selection.setPosition(0);
    selection.setPosition(2, QTextCursor::KeepAnchor);
    view()->setTextCursor(selection);

    send(QStringLiteral("two"));
    QTRY_VERIFY(shown().contains(QStringLiteral("two")));
    QCOMPARE(shown(), QStringLiteral("one-two"));
}

void TestConsole::decodingKeepsDataWhole_data()
{
    QTest::addColumn<QByteArray>("codec");
    QTest::addColumn<QList<QByteArray>>("chunks");
    // What the view shows once each chunk has been read.
    QTest::addColumn<QStringList>("shownAfter");

    QTest::newRow("NUL inside a chunk")
        << QByteArray("ISO-8859-1") << QList<QByteArray> { QByteArray::fromHex("4142004344") }
        << QStringList { "ABCD" };
    QTest::newRow("NULs only") << QByteArray("ISO-8859-1")
                               << QList<QByteArray> { QByteArray::fromHex("0000"), "E" }
                               << QStringList { "", "E" };
    QTest::newRow("UTF-8 split") << QByteArray(
        "UTF-8") << QList<QByteArray> { QByteArray::fromHex("58E8B0"), QByteArray::fromHex("8359") }
                                 << QStringList { "X", "X调Y" };
    QTest::newRow("GB18030 split") << QByteArray(
        "GB18030") << QList<QByteArray> { QByteArray::fromHex("58B5"), QByteArray::fromHex("F759") }
                                   << QStringList { "X", "X调Y" };
    QTest::newRow("split after NUL") << QByteArray(
        "UTF-8") << QList<QByteArray> { QByteArray::fromHex("5800E8"), QByteArray::fromHex("B08359") }
                                     << QStringList { "X", "X调Y" };
}

void TestConsole::decodingKeepsDataWhole()
{
    QFETCH(QByteArray, codec);
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QStringList, shownAfter);

    QTextCodec::setCodecForLocale(QTextCodec::codecForName(codec));
    QVERIFY(openConsole());
    QSerialPort *port = TestAccess::consolePort(*m_rig->window);
    // The instrument echoes each chunk in one write; waiting until it shows
    // keeps the next chunk out of the same read.
    for (int i = 0; i < chunks.size(); ++i) {
        port->write(chunks.at(i));
        QTRY_COMPARE(shown(), shownAfter.at(i));
    }
}

void TestConsole::leavingReopensLink_data()
{
    QTest::addColumn<QString>("slot");

    QTest::newRow("button") << "on_debugBt_clicked";
    QTest::newRow("stop_debug") << "stop_debug";
}

void TestConsole::leavingReopensLink()
{
    QFETCH(QString, slot);

    MessageBoxCatcher catcher;
    m_rig->find<QComboBox>("stopbitCombo")->setCurrentText(QStringLiteral("2位"));
    m_rig->find<QComboBox>("jiaoyanCombo")->setCurrentIndex(1);
    m_rig->find<QComboBox>("baudRateCombo")->setCurrentText(QStringLiteral("19200"));
    QVERIFY(openConsole());
    m_rig->instrument.setInput(0, 321);

    QVERIFY(QMetaObject::invokeMethod(m_rig->window, qPrintable(slot)));
    QCOMPARE(caption(), Start);
    auto *client = m_rig->client();
    QCOMPARE(client->state(), QModbusDevice::ConnectedState);
    QCOMPARE(client->connectionParameter(QModbusDevice::SerialPortNameParameter).toString(),
             m_rig->instrument.portPath());
    QCOMPARE(client->connectionParameter(QModbusDevice::SerialBaudRateParameter).toInt(), 19200);
    QCOMPARE(client->connectionParameter(QModbusDevice::SerialStopBitsParameter).toInt(), 2);
    QCOMPARE(client->connectionParameter(QModbusDevice::SerialParityParameter).toInt(),
             int(QSerialPort::OddParity));
    QVERIFY(!m_rig->isIdle());
    QVERIFY(button("pushButton_3")->isEnabled());
    QVERIFY(!m_rig->find<QComboBox>("serialPortCombo")->isEnabled());

    m_rig->tick();
    QTRY_COMPARE_WITH_TIMEOUT(m_rig->text("ch1LineE"), QStringLiteral("32.1"), 3000);
    QVERIFY(catcher.titles.isEmpty());
}

void TestConsole::leavingWithVanishedPort()
{
    MessageBoxCatcher catcher;
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttyMeter"));
    QVERIFY(m_rig->instrument.open(link));
    m_rig->selectPort(link);
    QVERIFY(openConsole());

    // The device node goes while the console holds the line open.
    QVERIFY(QFile::remove(link));
    QTest::mouseClick(button("debugBt"), Qt::LeftButton);
    QCOMPARE(catcher.titles, QStringList { QStringLiteral("打开串口错误") });
    QCOMPARE(catcher.texts, QStringList { QStringLiteral("打开失败，串口可能被占用.") });
    QVERIFY(m_rig->isIdle());
    QCOMPARE(caption(), Start);
    QVERIFY(!button("debugBt")->isEnabled());
    QVERIFY(m_rig->find<QComboBox>("serialPortCombo")->isEnabled());
    QVERIFY(!TestAccess::consolePort(*m_rig->window)->isOpen());
}

void TestConsole::abortedCommandOpensNothing_data()
{
    QTest::addColumn<bool>("removal");

    QTest::newRow("stop") << false;
    QTest::newRow("port removed") << true;
}

void TestConsole::abortedCommandOpensNothing()
{
    QFETCH(bool, removal);

    MessageBoxCatcher catcher;
    QVERIFY(m_rig->connectLink());
    m_rig->settle();
    m_rig->instrument.clearRequests();
    // Nobody answers address 9, so the command stays outstanding.
    m_rig->find<QLineEdit>("m_addrLineEdit")->setText("9");
    QTest::mouseClick(button("debugBt"), Qt::LeftButton);
    QVERIFY(m_rig->waitForRequests(1));
    DebugMessages::list.clear();

    if (removal)
        emit m_rig->window->findChild<PortWatcher *>()->portRemoved(m_rig->instrument.portPath());
    else
        QTest::mouseClick(button("pushButton_2"), Qt::LeftButton);
    QVERIFY(m_rig->isIdle());
    // The command has finished, one way or another.
    QTRY_COMPARE_WITH_TIMEOUT(DebugMessages::list.count("7"), 1, 3000);
    QCOMPARE(caption(), Start);
    QVERIFY(!TestAccess::consolePort(*m_rig->window)->isOpen());
    QVERIFY(catcher.titles.isEmpty());
    QVERIFY(m_rig->isIdle());
}

void TestConsole::brokenConsolePortReturnsToIdle()
{
    MessageBoxCatcher catcher;
    QVERIFY(openConsole());
    m_rig->instrument.closePort();
    QTRY_COMPARE(caption(), Start);
    QVERIFY(m_rig->isIdle());
    QVERIFY(!TestAccess::consolePort(*m_rig->window)->isOpen());
    QVERIFY(catcher.titles.isEmpty());
}

void TestConsole::clearEmptiesView()
{
    view()->setPlainText(QStringLiteral("old"));
    QTest::mouseClick(button("clearBt"), Qt::LeftButton);
    QCOMPARE(view()->toPlainText(), QString());
}

void TestConsole::clearForgetsTrailingCr()
{
    QVERIFY(openConsole());
    QSerialPort *port = TestAccess::consolePort(*m_rig->window);
    port->write("a\r");
    QTRY_VERIFY(shown().startsWith(QLatin1Char('a')));
    QTest::mouseClick(button("clearBt"), Qt::LeftButton);
    // The CR went with the text it ended; this LF breaks a line of its own.
    port->write("\nb");
    QTRY_VERIFY(shown().contains(QLatin1Char('b')));
    QCOMPARE(shown(), QStringLiteral("\nb"));
}

QTEST_MAIN(TestConsole)
#include "tst_console.moc"
