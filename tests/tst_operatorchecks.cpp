// The pure rules behind what the window refuses and how it tells the operator.
#include "freshness.h"
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
    void freshness_data();
    void freshness();
    void openFailure_data();
    void openFailure();
};

void TestOperatorChecks::channelTables_data()
{
    QTest::addColumn<Table>("table");
    QTest::addColumn<QString>("text"); // the sensor type: its index
    // -1: refused.
    QTest::addColumn<int>("word");

    QTest::newRow("correction 12.34") << Correction << "12.34" << 123;
    QTest::newRow("correction -1.25") << Correction << "-1.25" << 0xFFF4;
    QTest::newRow("correction lowest") << Correction << "-3276.8" << 0x8000;
    QTest::newRow("correction highest") << Correction << "3276.7" << 0x7FFF;
    QTest::newRow("correction 3276.8") << Correction << "3276.8" << -1;
    QTest::newRow("correction nan") << Correction << "nan" << -1;
    QTest::newRow("correction inf") << Correction << "inf" << -1;
    QTest::newRow("correction abc") << Correction << "abc" << -1;
    QTest::newRow("correction empty") << Correction << "" << -1;
    QTest::newRow("lower -32768") << RangeLow << "-32768" << 0x8000;
    QTest::newRow("lower 99999") << RangeLow << "99999" << -1;
    QTest::newRow("lower 12.7") << RangeLow << "12.7" << -1;
    QTest::newRow("upper 32767") << RangeHigh << "32767" << 0x7FFF;
    QTest::newRow("upper 3000000000") << RangeHigh << "3000000000" << -1;
    QTest::newRow("upper empty") << RangeHigh << "" << -1;
    QTest::newRow("sensor 0-5V") << SensorType << "32" << 32;
    QTest::newRow("sensor past the list") << SensorType << "33" << -1;
    QTest::newRow("sensor no item") << SensorType << "-1" << -1;
}

void TestOperatorChecks::channelTables()
{
    QFETCH(Table, table);
    QFETCH(QString, text);
    QFETCH(int, word);

    ChannelTableFields fields;
    for (int i = 0; i < 22; ++i) {
        fields.corrections << "0.5";
        fields.lows << "-200";
        fields.highs << "1372";
        fields.sensorIndexes << 21;
    }
    QStringList *texts[] = { &fields.corrections, &fields.lows, &fields.highs };
    if (table == SensorType)
        fields.sensorIndexes[6] = text.toInt();
    else
        (*texts[table])[6] = text;

    const ChannelTablesCheck check = checkChannelTables(fields);
    if (word < 0) {
        QCOMPARE(check.faults.size(), 1);
        QCOMPARE(check.faults.first().table, table);
        QCOMPARE(check.faults.first().channel, 7);
        for (const QVector<quint16> &words : check.words)
            QVERIFY(words.isEmpty());
        return;
    }
    QVERIFY(check.faults.isEmpty());
    const quint16 others[] = { 5, 0xFF38, 1372, 21 };
    for (int t = 0; t < TableCount; ++t) {
        QVector<quint16> expected(22, others[t]);
        if (t == table)
            expected[6] = quint16(word);
        QCOMPARE(check.words.at(t), expected);
    }
}

void TestOperatorChecks::faultList()
{
    // Nothing read yet: every field is empty, sensor boxes without an item.
    const QStringList empty = QVector<QString>(22).toList();
    const ChannelTablesCheck check = checkChannelTables({ empty, empty, empty, QVector<int>(22, -1) });
    QCOMPARE(check.faults.size(), 4 * 22);
    QCOMPARE(describeFaults(check.faults, 2),
             QStringLiteral("测量值修正：通道1\n测量值修正：通道2\n……（共88处）"));
    QCOMPARE(describeFaults({ { SensorType, 22 } }), QStringLiteral("传感器类型：通道22"));
}

void TestOperatorChecks::systemWrite_data()
{
    QTest::addColumn<bool>("read");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("stop");
    QTest::addColumn<int>("parity");
    QTest::addColumn<QString>("refusal"); // a word of it
    QTest::addColumn<bool>("changes");

    // Read: address 5, 9600 baud, 1 stop bit, no parity.
    QTest::newRow("unchanged") << true << "5" << 1 << 0 << 0 << "" << false;
    QTest::newRow("new address") << true << "247" << 1 << 0 << 0 << "" << true;
    QTest::newRow("two stop bits") << true << "5" << 1 << 1 << 0 << "" << true;
    QTest::newRow("even parity") << true << "5" << 1 << 0 << 2 << "" << true;
    QTest::newRow("115200") << true << "5" << 7 << 0 << 0 << "" << true;
    QTest::newRow("not read") << false << "5" << 1 << 0 << 0 << "读系统参数" << false;
    QTest::newRow("address abc") << true << "abc" << 1 << 0 << 0 << "1 到 247" << false;
    QTest::newRow("address empty") << true << "" << 1 << 0 << 0 << "1 到 247" << false;
    QTest::newRow("broadcast") << true << "0" << 1 << 0 << 0 << "1 到 247" << false;
    QTest::newRow("address 248") << true << "248" << 1 << 0 << 0 << "1 到 247" << false;
    QTest::newRow("address 65541") << true << "65541" << 1 << 0 << 0 << "1 到 247" << false;
    QTest::newRow("no baud rate") << true << "5" << -1 << 0 << 0 << "波特率" << false;
    QTest::newRow("no stop bits") << true << "5" << 1 << -1 << 0 << "停止位" << false;
    QTest::newRow("no parity") << true << "5" << 1 << 0 << -1 << "校验位" << false;
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

    const SystemWords asRead = { 5, 1, 1, 0 };
    const SystemWriteCheck check = checkSystemWrite(address, baud, stop, parity,
                                                    read ? std::optional<SystemWords>(asRead) : std::nullopt);
    QCOMPARE(check.refusal.isEmpty(), refusal.isEmpty());
    QVERIFY2(check.refusal.contains(refusal), qPrintable(check.refusal));
    QCOMPARE(check.changesLink, changes);
    if (refusal.isEmpty())
        QCOMPARE(
            check.words,
            (SystemWords { quint16(address.toInt()), quint16(baud), quint16(stop + 1), quint16(parity) }));
}

void TestOperatorChecks::freshness_data()
{
    QTest::addColumn<bool>("polling");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<int>("sinceGood");
    QTest::addColumn<int>("state");

    using S = Freshness::State;
    QTest::newRow("never connected") << false << false << -1 << int(S::None);
    QTest::newRow("connected, no answer yet") << true << false << -1 << int(S::NotAnswered);
    QTest::newRow("answered before, not since connecting") << true << false << 500 << int(S::NotAnswered);
    QTest::newRow("just answered") << true << true << 0 << int(S::Live);
    QTest::newRow("two intervals and a half") << true << true << 2999 << int(S::Live);
    QTest::newRow("three intervals") << true << true << 3000 << int(S::Stale);
    QTest::newRow("stopped right after a reply") << false << true << 10 << int(S::Stale);
    QTest::newRow("stopped, never answered") << false << false << -1 << int(S::None);
}

void TestOperatorChecks::freshness()
{
    QFETCH(bool, polling);
    QFETCH(bool, answered);
    QFETCH(int, sinceGood);
    QFETCH(int, state);

    const Freshness::State actual = Freshness::state(polling, answered, sinceGood, 1000);
    QCOMPARE(int(actual), state);
    const QString tip = Freshness::toolTip(actual, QTime(14, 5, 9));
    QCOMPARE(tip.isEmpty(), actual == Freshness::State::Live || actual == Freshness::State::None);
    QCOMPARE(tip.contains(QStringLiteral("最后一次有效应答：14:05:09")), !tip.isEmpty());
}

void TestOperatorChecks::openFailure_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<bool>("accessible");
    QTest::addColumn<QString>("reason"); // a part of it

    QTest::newRow("nothing selected")
        << int(QSerialPort::DeviceNotFoundError) << "" << false << false << "没有选择串口";
    QTest::newRow("not found") << int(QSerialPort::DeviceNotFoundError) << "ttyUSB3" << false << false
                               << "ttyUSB3 不存在";
    QTest::newRow("gone before opening")
        << int(QSerialPort::ResourceError) << "ttyUSB3" << false << false << "不存在";
    QTest::newRow("held by another program")
        << int(QSerialPort::PermissionError) << "ttyS0" << true << true << "ttyS0 已被其他程序占用";
    QTest::newRow("already open") << int(QSerialPort::OpenError) << "ttyS0" << true << true << "占用";
#ifdef Q_OS_LINUX
    QTest::newRow("no permission") << int(QSerialPort::PermissionError) << "ttyS0" << true << false
                                   << "dialout";
#else
    QTest::newRow("no permission") << int(QSerialPort::PermissionError) << "COM3" << true << false << "权限";
#endif
    QTest::newRow("anything else") << int(QSerialPort::UnsupportedOperationError) << "ttyS0" << true << true
                                   << "the port's own words";
}

void TestOperatorChecks::openFailure()
{
    QFETCH(int, error);
    QFETCH(QString, port);
    QFETCH(bool, exists);
    QFETCH(bool, accessible);
    QFETCH(QString, reason);

    const QString text = openFailureReason({ QSerialPort::SerialPortError(error), port, exists, accessible,
                                             QStringLiteral("the port's own words") });
    QVERIFY2(text.contains(reason), qPrintable(text));
}

QTEST_MAIN(TestOperatorChecks)
#include "tst_operatorchecks.moc"
