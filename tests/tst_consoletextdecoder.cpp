#include "consoletextdecoder.h"

#include <QTextCodec>
#include <QtTest>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

class TestConsoleTextDecoder : public QObject
{
    Q_OBJECT

private slots:
    void decode_data();
    void decode();
    void invalidBytesKeepFollowingText_data();
    void invalidBytesKeepFollowingText();
#ifdef Q_OS_WIN
    void localEncodingIsTheSystems();
#endif
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
    QTest::newRow("gb18030 first and last beyond U+FFFF")
        << QByteArray("GB18030") << QList<QByteArray> { "\x90\x30\x81\x30\xE3\x32\x9A\x35" }
        << QStringList { QString::fromUcs4(U"\U00010000\U0010FFFF") };
    // 81 90 is U+4EB9; read from its second byte, 90 30 81 30 would be U+10000.
    QTest::newRow("gb18030 trail byte is no lead")
        << QByteArray("GB18030") << QList<QByteArray> { "\x81\x90\x30\x81", "\x30\x81\x30" }
        << QStringList { QString(QChar(0x4EB9)) + QLatin1Char('0'), QString(QChar(0x80)) };
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
    QTest::newRow("gb18030 beyond U+10FFFF") << QByteArray("GB18030")
                                             << QList<QByteArray> { "\xE3\x32",
                                                                    "\x9A\x36"
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

#ifdef Q_OS_WIN
// A Chinese Windows' own 8-bit encoding is code page 936, which Qt leaves to
// the system; a character split between chunks must still come out whole.
void TestConsoleTextDecoder::localEncodingIsTheSystems()
{
    if (GetACP() != 936)
        QSKIP("the system's code page is not 936: run with a Chinese locale");
    ConsoleTextDecoder decoder;
    const QString first = decoder.decode("A\xB5");
    QCOMPARE(first + decoder.decode("\xF7\xCA\xD4"), QStringLiteral("A调试"));
}
#endif

QTEST_APPLESS_MAIN(TestConsoleTextDecoder)
#include "tst_consoletextdecoder.moc"
