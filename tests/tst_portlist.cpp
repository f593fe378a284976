#include "portlist.h"

#include <QTest>

class TestPortList : public QObject
{
    Q_OBJECT

private slots:
    void order_data();
    void order();
};

void TestPortList::order_data()
{
    QTest::addColumn<QStringList>("arrival");
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<int>("current");

    QTest::newRow("none") << QStringList() << QStringList() << -1;
    QTest::newRow("one") << QStringList { "ttyUSB0" } << QStringList { "ttyUSB0" } << 0;
    // By code units, not by number: COM10 sorts before COM3.
    QTest::newRow("windows names") << QStringList { "COM3", "COM10", "COM1" }
                                   << QStringList { "COM1", "COM10", "COM3" } << 2;
    QTest::newRow("first arrival smallest")
        << QStringList { "COM1", "COM3", "COM2" } << QStringList { "COM1", "COM2", "COM3" } << 0;
    QTest::newRow("case sensitive") << QStringList { "com1", "COM2", "Com3" }
                                    << QStringList { "COM2", "Com3", "com1" } << 2;
    QTest::newRow("linux names") << QStringList { "ttyUSB1", "ttyS0", "ttyACM0", "ttyUSB0" }
                                 << QStringList { "ttyACM0", "ttyS0", "ttyUSB0", "ttyUSB1" } << 3;
    QTest::newRow("equal names keep arrival")
        << QStringList { "COM2", "COM1", "COM2" } << QStringList { "COM1", "COM2", "COM2" } << 1;
}

void TestPortList::order()
{
    QFETCH(QStringList, arrival);
    QFETCH(QStringList, listed);
    QFETCH(int, current);

    const PortList::Ordered result = PortList::order(arrival);
    QCOMPARE(result.names, listed);
    QCOMPARE(result.current, current);
}

QTEST_APPLESS_MAIN(TestPortList)
#include "tst_portlist.moc"
