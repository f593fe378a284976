#include "portsnapshot.h"

#include <QtTest>

class TestPortSnapshot : public QObject
{
    Q_OBJECT

private slots:
    void diff_data();
    void diff();
};

void TestPortSnapshot::diff_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QStringList>("removed");

    QTest::newRow("nothing changed") << QStringList { "ttyS0", "ttyUSB0" }
                                     << QStringList { "ttyS0", "ttyUSB0" } << QStringList {}
                                     << QStringList {};
    QTest::newRow("same ports, other order")
        << QStringList { "ttyS0", "ttyUSB0" } << QStringList { "ttyUSB0", "ttyS0" } << QStringList {}
        << QStringList {};
    QTest::newRow("first port") << QStringList {} << QStringList { "ttyUSB0" } << QStringList { "ttyUSB0" }
                                << QStringList {};
    QTest::newRow("last port gone") << QStringList { "ttyUSB0" } << QStringList {} << QStringList {}
                                    << QStringList { "ttyUSB0" };
    QTest::newRow("two arrive") << QStringList { "ttyS0" } << QStringList { "ttyACM0", "ttyS0", "ttyUSB1" }
                                << QStringList { "ttyACM0", "ttyUSB1" } << QStringList {};
    QTest::newRow("swapped adapter") << QStringList { "ttyS0", "ttyUSB0" }
                                     << QStringList { "ttyS0", "ttyUSB1" } << QStringList { "ttyUSB1" }
                                     << QStringList { "ttyUSB0" };
    QTest::newRow("names differ in case") << QStringList { "COM3" } << QStringList { "com3" }
                                          << QStringList { "com3" } << QStringList { "COM3" };
    QTest::newRow("duplicate name arrives once") << QStringList {} << QStringList { "ttyUSB0", "ttyUSB0" }
                                                 << QStringList { "ttyUSB0" } << QStringList {};
    QTest::newRow("duplicate still present") << QStringList { "ttyUSB0", "ttyUSB0" }
                                             << QStringList { "ttyUSB0" } << QStringList {} << QStringList {};
}

void TestPortSnapshot::diff()
{
    QFETCH(QStringList, before);
    QFETCH(QStringList, after);
    QFETCH(QStringList, added);
    QFETCH(QStringList, removed);

    const PortSnapshot::Difference difference = PortSnapshot::diff(before, after);
    QCOMPARE(difference.added, added);
    QCOMPARE(difference.removed, removed);
}

QTEST_APPLESS_MAIN(TestPortSnapshot)
#include "tst_portsnapshot.moc"
