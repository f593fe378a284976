// The pure rules behind what the window refuses to write and how it tells why.
#include "openfailure.h"
#include "writechecks.h"

#include <QtTest>

using namespace WriteChecks;

Q_DECLARE_METATYPE(WriteChecks::Table)

class TestOperatorChecks : public QObject
{
    Q_OBJECT

private slots:
    void channelTables_data();
    void channelTables();
    void faultList();
    void systemWrite_data();
    void systemWrite();
    void openFailure_data();
    void openFailure();
};

void TestOperatorChecks::channelTables_data()
{
    QTest::addColumn<Table>("table");
    QTest::addColumn<QString>("text"); // of a sensor type: its index
    QTest::addColumn<int>("word"); // -1: refused

    QTest::newRow("correction 12.34") << Correction << "12.34" << 123;
    QTest::newRow("correction -1.25") << Correction << "-1.25" << 0xFFF4;
    QTest::newRow("correction 3276.8") << Correction << "3276.8" << -1;
    QTest::newRow("lower 99999") << RangeLow << "99999" << -1;
    QTest::newRow("upper 12.7") << RangeHigh << "12.7" << -1;
    QTest::newRow("sensor 0-5V") << SensorType << "32" << 32;
    QTest::newRow("sensor no item") << SensorType << "-1" << -1;
}

void TestOperatorChecks::channelTables()
{
    QFETCH(Table, table);
    QFETCH(QString, text);
    QFETCH(int, word);

    ChannelTableFields fields { QVector<QString>(22, "0.5").toList(), QVector<QString>(22, "-200").toList(),
                                QVector<QString>(22, "1372").toList(), QVector<int>(22, 21) };
    QStringList *texts[] = { &fields.corrections, &fields.lows, &fields.highs };
    if (table == SensorType)
        fields.sensorIndexes[6] = text.toInt();
    else
        (*texts[table])[6] = text;

    const ChannelTablesCheck check = checkChannelTables(fields);
    if (word < 0) {
        QCOMPARE(check.faults.size(), 1);
        QCOMPARE(describeFaults(check.faults), tableName(table) + QStringLiteral("：通道7"));
        QVERIFY(check.words.at(table).isEmpty());
        return;
    }
    QVERIFY(check.faults.isEmpty());
    QCOMPARE(int(check.words.at(table).at(6)), word);
    QCOMPARE(check.words.at(RangeLow).at(0), quint16(0xFF38));
}

void TestOperatorChecks::faultList()
{
    // Nothing read yet: all 88 fields fail, and the box names only the first.
    const QStringList empty = QVector<QString>(22).toList();
    const auto none = checkChannelTables({ empty, empty, empty, QVector<int>(22, -1) });
    QCOMPARE(describeFaults(none.faults, 2),
             QStringLiteral("测量值修正：通道1\n测量值修正：通道2\n……（共88处）"));
}

void TestOperatorChecks::systemWrite_data()
{
    QTest::addColumn<bool>("read");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("stop");
    QTest::addColumn<int>("parity");
    QTest::addColumn<QString>("refusal"); // a part of it
    QTest::addColumn<bool>("changes");

    // Read: address 5, 9600 baud, 1 stop bit, no parity.
    QTest::newRow("as read") << true << "5" << 1 << 0 << 0 << "" << false;
    QTest::newRow("new address") << true << "247" << 1 << 0 << 0 << "" << true;
    QTest::newRow("two stop bits") << true << "5" << 1 << 1 << 0 << "" << true;
    QTest::newRow("even parity") << true << "5" << 1 << 0 << 2 << "" << true;
    QTest::newRow("not read") << false << "5" << 1 << 0 << 0 << "读系统参数" << false;
    QTest::newRow("address abc") << true << "abc" << 1 << 0 << 0 << "1 到 247" << false;
    QTest::newRow("broadcast") << true << "0" << 1 << 0 << 0 << "1 到 247" << false;
    QTest::newRow("address 248") << true << "248" << 1 << 0 << 0 << "1 到 247" << false;
    QTest::newRow("no baud rate") << true << "5" << -1 << 0 << 0 << "波特率" << false;
    QTest::newRow("no stop bits") << true << "5" << 1 << -1 << 0 << "停止位" << false;
    QTest::newRow("no parity") << true << "5" << 1 << 0 << 3 << "校验位" << false;
}

void TestOperatorChecks::systemWrite()
{
    QFETCH(bool, read);
    QFETCH(QString, address);
    QFETCH(int, baud);
    QFETCH(int, stop);
    QFETCH(int, parity);
    QFETCH(QString, refusal);
    QFETCH(bool, changes);

    const auto check = checkSystemWrite(address, baud, stop, parity,
                                        read ? std::optional<SystemWords>({ 5, 1, 1, 0 }) : std::nullopt);
    QCOMPARE(check.refusal.isEmpty(), refusal.isEmpty());
    QVERIFY2(check.refusal.contains(refusal), qPrintable(check.refusal));
    QCOMPARE(check.changesLink, changes);
    if (refusal.isEmpty())
        QCOMPARE(check.words,
                 (SystemWords { quint16(address.toInt()), 1, quint16(stop + 1), quint16(parity) }));
}

void TestOperatorChecks::openFailure_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<bool>("accessible");
    QTest::addColumn<QString>("reason"); // a part of it

    QTest::newRow("none selected") << int(QSerialPort::DeviceNotFoundError) << "" << false << false
                                   << "没有选择串口";
    QTest::newRow("not found") << int(QSerialPort::DeviceNotFoundError) << "ttyUSB3" << false << false
                               << "ttyUSB3 不存在";
    QTest::newRow("gone before opening")
        << int(QSerialPort::ResourceError) << "ttyUSB3" << false << false << "不存在";
    QTest::newRow("held") << int(QSerialPort::PermissionError) << "ttyS0" << true << true
                          << "ttyS0 已被其他程序占用";
#ifdef Q_OS_LINUX
    QTest::newRow("no permission") << int(QSerialPort::PermissionError) << "ttyS0" << true << false
                                   << "dialout 组";
#endif
    QTest::newRow("other") << int(QSerialPort::UnsupportedOperationError) << "ttyS0" << true << true
                           << "own words";
}

void TestOperatorChecks::openFailure()
{
    QFETCH(int, error);
    QFETCH(QString, port);
    QFETCH(bool, exists);
    QFETCH(bool, accessible);
    QFETCH(QString, reason);

    const QString text = openFailureReason(
        { QSerialPort::SerialPortError(error), port, exists, accessible, QStringLiteral("own words") });
    QVERIFY2(text.contains(reason), qPrintable(text));
}

QTEST_MAIN(TestOperatorChecks)
#include "tst_operatorchecks.moc"
