#include "pollschedule.h"

#include <QtTest>

// Meters 1 and 2, a cycle every second. Each cycle is written as the meters
// asked, in the order asked, with their outcomes: "1+ 2-" both asked, 1
// answered, 2 did not; "1+" only meter 1 asked. The changes expected are
// "2 off", "2 back".
class TestPollSchedule : public QObject
{
    Q_OBJECT

private slots:
    void cycles_data();
    void cycles();
};

void TestPollSchedule::cycles_data()
{
    QTest::addColumn<int>("offlineAfter");
    QTest::addColumn<int>("retryMs");
    QTest::addColumn<QStringList>("asked");
    QTest::addColumn<QStringList>("changes");

    QTest::newRow("offline after three, asked again after the retry period")
        << 3 << 2500
        << QStringList { "1+ 2-", "1+ 2-", "1+ 2-", "1+", "1+", "1+ 2-", "1+", "1+", "1+ 2+", "1+ 2+" }
        << QStringList { "", "", "2 off", "", "", "", "", "", "2 back", "" };
    QTest::newRow("failures not in a row")
        << 3 << 2500 << QStringList { "1+ 2-", "1+ 2-", "1+ 2+", "1+ 2-", "1+ 2-", "1+ 2+" }
        << QStringList { "", "", "", "", "", "" };
    QTest::newRow("an offline meter is tried after those that answer")
        << 1 << 1500 << QStringList { "1- 2+", "2+", "2+ 1-", "2+", "2+ 1+", "1+ 2+" }
        << QStringList { "1 off", "", "", "", "1 back", "" };
    QTest::newRow("retry period shorter than the interval: tried every cycle")
        << 1 << 500 << QStringList { "1+ 2-", "1+ 2-", "1- 2+" }
        << QStringList { "2 off", "", "1 off, 2 back" };
    QTest::newRow("never offline") << 0 << 2500 << QStringList { "1- 2-", "1- 2-", "1- 2-", "1- 2-" }
                                   << QStringList { "", "", "", "" };
    QTest::newRow("both offline, tried together")
        << 2 << 3000 << QStringList { "1- 2-", "1- 2-", "", "", "1- 2+" }
        << QStringList { "", "1 off, 2 off", "", "", "2 back" };
}

void TestPollSchedule::cycles()
{
    QFETCH(int, offlineAfter);
    QFETCH(int, retryMs);
    QFETCH(QStringList, asked);
    QFETCH(QStringList, changes);
    PollSchedule schedule({ 1, 2 }, offlineAfter, retryMs);
    for (int c = 0; c < asked.size(); ++c) {
        const qint64 now = 1000 * c;
        const QVector<PollSchedule::Turn> turns = schedule.cycle(now);
        QCOMPARE(turns.size(), 2); // every meter has its row
        QStringList order;
        QStringList told;
        const QStringList outcomes = asked.at(c).split(' ', Qt::SkipEmptyParts);
        for (const PollSchedule::Turn &turn : turns) {
            QCOMPARE(turn.ask, !schedule.isOffline(turn.address) || schedule.isRetry(turn));
            if (!turn.ask)
                continue;
            const bool good = outcomes.value(order.size()).endsWith('+');
            order << QString::number(turn.address) + (good ? '+' : '-');
            const PollSchedule::Change change = schedule.record(turn.address, good, now);
            if (change != PollSchedule::Change::None)
                told << QStringLiteral("%1 %2")
                            .arg(turn.address)
                            .arg(change == PollSchedule::Change::WentOffline ? "off" : "back");
        }
        QCOMPARE(order, outcomes);
        QCOMPARE(told.join(", "), changes.at(c));
    }
}

QTEST_GUILESS_MAIN(TestPollSchedule)
#include "tst_pollschedule.moc"
