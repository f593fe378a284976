#include "consoletextdecoder.h"

#include <QTextCodec>
#include <QtTest>

class TestConsoleTextDecoder : public QObject
{
    Q_OBJECT

private slots:
    void decode_data();
    void decode();
    void invalidBytesKeepFollowingText_data();
    void invalidBytesKeepFollowingText();
};

void TestConsoleTextDecoder::decode_data()
{
    QTest::addColumn<QByteArray>("codec");
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QStringList>("texts");

    // 调 is E8 B0 83 in UTF-8 and B5 F7 in GBK, 试 is E8 AF 95 and CA D4;
    // U+1F600 is the four bytes 94 39 FC 36 in GB18030.
    QTest::newRow("utf-8 whole") << QByteArray("UTF-8") << QList<QByteArray> { "\xE8\xB0\x83\xE8\xAF\x95" }
                                 << QStringList { QStringLiteral("调试") };
    QTest::newRow("utf-8 split after lead byte")
        << QByteArray("UTF-8") << QList<QByteArray> { "\xE8", "\xB0\x83" }
        << QStringList { "", QStringLiteral("调") };
    QTest::newRow("utf-8 split twice")
        << QByteArray("UTF-8") << QList<QByteArray> { "\xE8\xB0", "\x83\xE8\xAF", "\x95" }
        << QStringList { "", QStringLiteral("调"), QStringLiteral("试") };
    QTest::newRow("utf-8 empty chunk in between")
        << QByteArray("UTF-8") << QList<QByteArray> { "\xE8", "", "\xB0\x83" }
        << QStringList { "", "", QStringLiteral("调") };
    QTest::newRow("utf-8 NULs in between")
        << QByteArray("UTF-8") << QList<QByteArray> { "\xE8", QByteArray(2, '\0'), "\xB0\x83" }
        << QStringList { "", "", QStringLiteral("调") };
    QTest::newRow("gbk split") << QByteArray("GBK") << QList<QByteArray> { "A\xB5", "\xF7\xCA\xD4" }
                               << QStringList { "A", QStringLiteral("调试") };
    QTest::newRow("gb18030 four bytes split")
        << QByteArray("GB18030") << QList<QByteArray> { "\x94\x39", "\xFC", "\x36!" }
        << QStringList { "", "", QString::fromUcs4(U"\U0001F600") + QLatin1Char('!') };
    QTest::newRow("NUL inside chunk")
        << QByteArray("UTF-8") << QList<QByteArray> { QByteArray("AB\0CD", 5) } << QStringList { "ABCD" };
    QTest::newRow("NULs only") << QByteArray("UTF-8") << QList<QByteArray> { QByteArray(3, '\0') }
                               << QStringList { "" };
    QTest::newRow("NUL after split character")
        << QByteArray("GBK") << QList<QByteArray> { "\xB5", QByteArray("\xF7\0\0X", 4) }
        << QStringList { "", QStringLiteral("调X") };
    QTest::newRow("empty chunk") << QByteArray("UTF-8") << QList<QByteArray> { "" } << QStringList { "" };
    // A byte-order mark is text on a console, wherever it stands and however it is split.
    const QString mark(QChar(0xFEFF));
    QTest::newRow("utf-8 byte-order mark first") << QByteArray("UTF-8")
                                                 << QList<QByteArray> { "\xEF\xBB\xBF"
                                                                        "A" }
                                                 << QStringList { mark + QLatin1Char('A') };
    QTest::newRow("utf-8 byte-order mark split") << QByteArray("UTF-8")
                                                 << QList<QByteArray> { "\xEF",
                                                                        "\xBB\xBF"
                                                                        "A" }
                                                 << QStringList { "", mark + QLatin1Char('A') };
    QTest::newRow("utf-8 byte-order mark after a stray byte")
        << QByteArray("UTF-8") << QList<QByteArray> { "\xA5", "\xEF\xBB\xBF" }
        << QStringList { QString(QChar::ReplacementCharacter), mark };
}

void TestConsoleTextDecoder::decode()
{
    QFETCH(QByteArray, codec);
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QStringList, texts);

    const QTextCodec *textCodec = QTextCodec::codecForName(codec);
    if (!textCodec)
        QSKIP("codec not available in this Qt build");
    ConsoleTextDecoder decoder(textCodec);
    QStringList shown;
    for (const QByteArray &chunk : chunks)
        shown << decoder.decode(chunk);
    QCOMPARE(shown, texts);
}

void TestConsoleTextDecoder::invalidBytesKeepFollowingText_data()
{
    QTest::addColumn<QByteArray>("codec");
    QTest::addColumn<QList<QByteArray>>("chunks");

    QTest::newRow("utf-8 stray byte") << QByteArray("UTF-8")
                                      << QList<QByteArray> { "\xFF"
                                                             "AB" };
    QTest::newRow("utf-8 truncated character") << QByteArray("UTF-8") << QList<QByteArray> { "\xE8", "AB" };
    QTest::newRow("gbk stray byte") << QByteArray("GBK")
                                    << QList<QByteArray> { "\xFF"
                                                           "AB" };
}

void TestConsoleTextDecoder::invalidBytesKeepFollowingText()
{
    QFETCH(QByteArray, codec);
    QFETCH(QList<QByteArray>, chunks);

    const QTextCodec *textCodec = QTextCodec::codecForName(codec);
    if (!textCodec)
        QSKIP("codec not available in this Qt build");
    ConsoleTextDecoder decoder(textCodec);
    QString shown;
    for (const QByteArray &chunk : chunks)
        shown += decoder.decode(chunk);
    QVERIFY2(shown.endsWith(QLatin1String("AB")), qPrintable(shown));
    QVERIFY2(shown.size() <= 3, qPrintable(shown));
}

QTEST_APPLESS_MAIN(TestConsoleTextDecoder)
#include "tst_consoletextdecoder.moc"
