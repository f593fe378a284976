// The trend plot's history: what it keeps, what it drops, and the per-column
// lowest and highest values it draws, worked out by hand.
#include "valuehistory.h"

#include <QTest>

using Stretch = ValueHistory::Stretch;
Q_DECLARE_METATYPE(QVector<Stretch>)

namespace {

// "t=v" a poll at t ms whose every channel reads v tenths, "t=v@n" the same
// from an instrument with n channels, "t=x" a poll without a good reply.
void fill(ValueHistory &history, const QString &script)
{
    for (const QString &token : script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QStringList parts = token.split(QLatin1Char('='));
        const qint64 time = parts.at(0).toLongLong();
        if (parts.at(1) == QLatin1String("x")) {
            history.appendFailure(time);
            continue;
        }
        const QStringList value = parts.at(1).split(QLatin1Char('@'));
        const int count = value.size() > 1 ? value.at(1).toInt() : ValueHistory::Channels;
        history.append(time, QVector<quint16>(ValueHistory::Channels, quint16(qint16(value.at(0).toInt()))),
                       count);
    }
}

} // namespace

class TestValueHistory : public QObject
{
    Q_OBJECT

private slots:
    void envelopes_data();
    void envelopes();
    void dropsOldestFirst_data();
    void dropsOldestFirst();
    void dayFitsTheBound();
};

void TestValueHistory::envelopes_data()
{
    QTest::addColumn<QString>("rows");
    QTest::addColumn<qint64>("from");
    QTest::addColumn<qint64>("to");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("channel");
    QTest::addColumn<QVector<Stretch>>("expected");

    QTest::newRow("a value per column") << "0=10 1000=20 2000=-5" << 0LL << 10000LL << 10 << 0
                                        << QVector<Stretch> { { 0, 1.0, 1.0, false },
                                                              { 1000, 2.0, 2.0, false },
                                                              { 2000, -0.5, -0.5, false } };
    QTest::newRow("lowest and highest of a column")
        << "0=10 1000=50 2000=-20 3000=30 6000=7" << 0LL << 10000LL << 2 << 21
        << QVector<Stretch> { { 1500, -2.0, 5.0, false }, { 6000, 0.7, 0.7, false } };
    QTest::newRow("a failed poll breaks the line")
        << "0=10 1000=x 2000=30" << 0LL << 10000LL << 10 << 0
        << QVector<Stretch> { { 0, 1.0, 1.0, false }, { 2000, 3.0, 3.0, true } };
    QTest::newRow("a failed poll splits its column")
        << "0=10 1000=20 2000=x 3000=40 4000=0" << 0LL << 10000LL << 1 << 0
        << QVector<Stretch> { { 500, 1.0, 2.0, false }, { 3500, 0.0, 4.0, true } };
    QTest::newRow("polls three seconds apart are joined")
        << "0=10 3000=20" << 0LL << 10000LL << 10 << 0
        << QVector<Stretch> { { 0, 1.0, 1.0, false }, { 3000, 2.0, 2.0, false } };
    QTest::newRow("a longer silence breaks the line")
        << "0=10 3001=20" << 0LL << 10000LL << 10 << 0
        << QVector<Stretch> { { 0, 1.0, 1.0, false }, { 3001, 2.0, 2.0, true } };
    QTest::newRow("the rows beside the span run on to its edges")
        << "0=10 1000=20 2500=30 5000=40 6000=50" << 2000LL << 4000LL << 2 << 0
        << QVector<Stretch> { { 1000, 2.0, 2.0, false },
                              { 2500, 3.0, 3.0, false },
                              { 5000, 4.0, 4.0, false } };
    QTest::newRow("a failure just before the span breaks its first stretch")
        << "0=10 1000=x 2500=30" << 2000LL << 4000LL << 2 << 0
        << QVector<Stretch> { { 2500, 3.0, 3.0, true } };
    QTest::newRow("a channel the instrument lacks is no value")
        << "0=10 1000=20@1 2000=30" << 0LL << 10000LL << 10 << 1
        << QVector<Stretch> { { 0, 1.0, 1.0, false }, { 2000, 3.0, 3.0, true } };
    QTest::newRow("the channels it has are drawn")
        << "0=10 1000=20@1 2000=30" << 0LL << 10000LL << 10 << 0
        << QVector<Stretch> { { 0, 1.0, 1.0, false }, { 1000, 2.0, 2.0, false }, { 2000, 3.0, 3.0, false } };
    QTest::newRow("extremes of the word") << "0=32767 1000=-32768" << 0LL << 10000LL << 1 << 0
                                          << QVector<Stretch> { { 500, -3276.8, 3276.7, false } };
    QTest::newRow("a clock set back keeps the order")
        << "5000=10 4000=20" << 0LL << 10000LL << 2 << 0 << QVector<Stretch> { { 5000, 1.0, 2.0, false } };
}

void TestValueHistory::envelopes()
{
    QFETCH(QString, rows);
    QFETCH(qint64, from);
    QFETCH(qint64, to);
    QFETCH(int, columns);
    QFETCH(int, channel);
    QFETCH(QVector<Stretch>, expected);

    ValueHistory history;
    fill(history, rows);
    const QVector<Stretch> actual = history.envelopes(from, to, columns).at(channel);
    QCOMPARE(actual.size(), expected.size());
    for (int i = 0; i < actual.size(); ++i) {
        QCOMPARE(actual.at(i).time, expected.at(i).time);
        QCOMPARE(float(actual.at(i).low), float(expected.at(i).low));
        QCOMPARE(float(actual.at(i).high), float(expected.at(i).high));
        QCOMPARE(actual.at(i).breakBefore, expected.at(i).breakBefore);
    }
}

void TestValueHistory::dropsOldestFirst_data()
{
    QTest::addColumn<QString>("rows");
    QTest::addColumn<qint64>("from");
    QTest::addColumn<int>("firstKept");
    QTest::addColumn<int>("expectedLowerBound");

    QTest::newRow("not yet full") << "0=1 1000=2" << 500LL << 0 << 1;
    QTest::newRow("full, oldest gone") << "0=1 1000=2 2000=3 3000=4 4000=5" << 3000LL << 2000 << 1;
    QTest::newRow("wrapped twice") << "0=1 1000=2 2000=3 3000=4 4000=5 5000=6 6000=7" << 9000LL << 4000 << 3;
    QTest::newRow("a failure takes a place too") << "0=1 1000=x 2000=3 3000=x" << 1500LL << 1000 << 1;
}

void TestValueHistory::dropsOldestFirst()
{
    QFETCH(QString, rows);
    QFETCH(qint64, from);
    QFETCH(int, firstKept);
    QFETCH(int, expectedLowerBound);

    ValueHistory history(3);
    fill(history, rows);
    QCOMPARE(history.row(0).time, qint64(firstKept));
    QVERIFY(history.size() <= 3);
    QCOMPARE(history.lowerBound(from), expectedLowerBound);
}

void TestValueHistory::dayFitsTheBound()
{
    // A day of polls at one a second, in at most 40 MB.
    ValueHistory history;
    QVERIFY(history.capacity() >= 24 * 3600);
    QVERIFY(quint64(history.capacity()) * sizeof(ValueHistory::Row) <= 40u * 1024 * 1024);
}

QTEST_APPLESS_MAIN(TestValueHistory)
#include "tst_valuehistory.moc"
