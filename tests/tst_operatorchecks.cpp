// The pure rules behind what the window refuses to write and how it tells why.
#include "openfailure.h"
#include "writechecks.h"

#include <QtTest>

using namespace WriteChecks;

class TestOperatorChecks : public QObject
{
    Q_OBJECT

private slots:
    void systemWrite_data();
    void systemWrite();
    void factoryWrite_data();
    void factoryWrite();
    void openFailure_data();
    void openFailure();
};

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
    QTest::newRow("not read") << false << "5" << 1 << 0 << 0 << "读系统参数" << false;
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

void TestOperatorChecks::factoryWrite_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("shared");
    QTest::addColumn<int>("word"); // -1: nothing to write
    QTest::addColumn<bool>("refused");

    QTest::newRow("new value") << "8" << 22 << 8 << false;
    QTest::newRow("same value") << "22" << 22 << -1 << false;
    QTest::newRow("same, other spelling") << "022" << 22 << -1 << false;
    QTest::newRow("shared above a byte, untouched") << "1000" << 1000 << -1 << false;
    QTest::newRow("above a byte") << "300" << 3 << -1 << true;
    QTest::newRow("wraps onto the shared value") << "556" << 44 << -1 << true;
    QTest::newRow("shared above a byte, other text") << "1001" << 1000 << -1 << true;
}

void TestOperatorChecks::factoryWrite()
{
    QFETCH(QString, text);
    QFETCH(int, shared);
    QFETCH(int, word);
    QFETCH(bool, refused);

    const FactoryWrite check = checkFactoryWrite(text, shared);
    QCOMPARE(check.word, word < 0 ? std::nullopt : std::optional<quint16>(quint16(word)));
    QCOMPARE(!check.refusal.isEmpty(), refused);
    if (refused)
        QVERIFY2(check.refusal.contains(QStringLiteral("0 到 255")), qPrintable(check.refusal));
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
