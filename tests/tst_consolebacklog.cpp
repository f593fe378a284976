// What the console keeps of text arriving faster than the view takes it in.
#include "consolebacklog.h"

#include <QtTest>

class TestConsoleBacklog : public QObject
{
    Q_OBJECT

private slots:
    void keepsNewest_data();
    void keepsNewest();
};

void TestConsoleBacklog::keepsNewest_data()
{
    QTest::addColumn<int>("capacity");
    QTest::addColumn<QStringList>("arrivals");
    QTest::addColumn<int>("pieceChars");
    // What each take() gives, the gap before it as "[n]".
    QTest::addColumn<QStringList>("pieces");

    QTest::newRow("within capacity") << 10 << QStringList { "abc", "def" } << 4
                                     << QStringList { "abcd", "ef" };
    QTest::newRow("oldest chunk dropped whole")
        << 6 << QStringList { "abc", "def", "ghi" } << 10 << QStringList { "[3]defghi" };
    QTest::newRow("chunk cut at its start")
        << 5 << QStringList { "abcd", "efg" } << 10 << QStringList { "[2]cdefg" };
    QTest::newRow("one chunk over capacity")
        << 4 << QStringList { "abcdefghij" } << 2 << QStringList { "[6]gh", "ij" };
    QTest::newRow("gap counted once")
        << 3 << QStringList { "abcde", "fgh" } << 1 << QStringList { "[5]f", "g", "h" };
    const QString pair = QString::fromUcs4(U"\U0001F600");
    QTest::newRow("surrogate pair kept whole")
        << 10 << QStringList { QLatin1String("ab") + pair + QLatin1String("c") } << 3
        << QStringList { "ab", pair + QLatin1String("c") };
    QTest::newRow("pair alone in a one-character piece")
        << 10 << QStringList { pair + QLatin1String("x") } << 1 << QStringList { pair, "x" };
}

void TestConsoleBacklog::keepsNewest()
{
    QFETCH(int, capacity);
    QFETCH(QStringList, arrivals);
    QFETCH(int, pieceChars);
    QFETCH(QStringList, pieces);

    ConsoleBacklog backlog(capacity);
    for (const QString &text : arrivals)
        backlog.append(text);
    QStringList taken;
    while (!backlog.isEmpty() && taken.size() <= pieces.size()) {
        const ConsoleBacklog::Piece piece = backlog.take(pieceChars);
        taken << (piece.droppedBefore ? QStringLiteral("[%1]").arg(piece.droppedBefore) : QString())
                + piece.text;
    }
    QCOMPARE(taken, pieces);
    QCOMPARE(backlog.size(), 0);
}

QTEST_APPLESS_MAIN(TestConsoleBacklog)
#include "tst_consolebacklog.moc"
