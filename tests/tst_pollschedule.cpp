#include "pollschedule.h"

#include <QtTest>

Q_DECLARE_METATYPE(PollSchedule::Change)

// Meters 1 and 2, a cycle every second. Each cycle is written as the
// outcomes of the meters asked, in order: "+-" both asked, 1 answered, 2 did
// not; "+" only meter 1 asked. The changes expected are "2 off", "2 back".
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
    QTest::addColumn<QStringList>("outcomes");
    QTest::addColumn<QStringList>("changes");

    QTest::newRow("offline after three, asked again after the retry period")
        << 3 << 2500 << QStringList { "+-", "+-", "+-", "+", "+", "+-", "+", "+", "++", "++" }
        << QStringList { "", "", "2 off", "", "", "", "", "", "2 back", "" };
    QTest::newRow("failures not in a row") << 3 << 2500 << QStringList { "+-", "+-", "++", "+-", "+-", "++" }
                                           << QStringList { "", "", "", "", "", "" };
    QTest::newRow("retry period shorter than the interval: asked every cycle")
        << 1 << 500 << QStringList { "+-", "+-", "-+" } << QStringList { "2 off", "", "1 off, 2 back" };
    QTest::newRow("never offline") << 0 << 2500 << QStringList { "--", "--", "--", "--" }
                                   << QStringList { "", "", "", "" };
    QTest::newRow("both offline, retried together") << 2 << 3000 << QStringList { "--", "--", "", "", "-+" }
                                                    << QStringList { "", "1 off, 2 off", "", "", "2 back" };
}

void TestPollSchedule::cycles()
{
    QFETCH(int, offlineAfter);
    QFETCH(int, retryMs);
    QFETCH(QStringList, outcomes);
    QFETCH(QStringList, changes);
    PollSchedule schedule({ 1, 2 }, offlineAfter, retryMs);
    for (int c = 0; c < outcomes.size(); ++c) {
        const qint64 now = 1000 * c;
        const QVector<PollSchedule::Turn> turns = schedule.cycle(now);
        QCOMPARE(turns.size(), 2);
        QCOMPARE(turns.at(0).address, 1);
        QCOMPARE(turns.at(1).address, 2);
        QStringList told;
        int outcome = 0;
        for (const PollSchedule::Turn &turn : turns) {
            if (!turn.ask) {
                QVERIFY(schedule.isOffline(turn.address));
                continue;
            }
            QVERIFY2(outcome < outcomes.at(c).size(),
                     qPrintable(QStringLiteral("cycle %1 asks too many").arg(c)));
            const PollSchedule::Change change
                = schedule.record(turn.address, outcomes.at(c).at(outcome++) == '+', now);
            if (change != PollSchedule::Change::None)
                told << QStringLiteral("%1 %2")
                            .arg(turn.address)
                            .arg(change == PollSchedule::Change::WentOffline ? "off" : "back");
        }
        QCOMPARE(outcome, outcomes.at(c).size());
        QCOMPARE(told.join(", "), changes.at(c));
    }
}

QTEST_GUILESS_MAIN(TestPollSchedule)
#include "tst_pollschedule.moc"
