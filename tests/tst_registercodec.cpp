#include "registercodec.h"

#include <QtTest>

#include <cmath>

using namespace RegisterCodec;

class TestRegisterCodec : public QObject
{
    Q_OBJECT

private slots:
    void registerMap();

    void signedTenthsText_data();
    void signedTenthsText();
    void signedIntegerText_data();
    void signedIntegerText();

    void choiceIndex_data();
    void choiceIndex();
    void stopBits_data();
    void stopBits();

    void signedTenthsWord_data();
    void signedTenthsWord();
    void signedTenthsWordOutOfRange_data();
    void signedTenthsWordOutOfRange();

    void checkedWords_data();
    void checkedWords();
    void checkedChoice();
    void sensorTypeNames();

    void systemBlock_data();
    void systemBlock();
    void tableRoundTrip();

    void unicastAddress_data();
    void unicastAddress();
};

void TestRegisterCodec::registerMap()
{
    // The tables must tile 300-395 without gaps, with the system block right after.
    QCOMPARE(CorrectionTableStart + ChannelTableWords, RangeLowTableStart);
    QCOMPARE(RangeLowTableStart + ChannelTableWords, RangeHighTableStart);
    QCOMPARE(RangeHighTableStart + ChannelTableWords, SensorTypeTableStart);
    QCOMPARE(SensorTypeTableStart + ChannelTableWords, SystemBlockStart);
    QCOMPARE(SystemBlockStart + SystemBlockWords - 1, BaudErrorCountRegister);
    QCOMPARE(SystemWriteStart + SystemWriteWords - 1, ParityRegister);
    QCOMPARE(BaudRates.back(), 115200);
}

void TestRegisterCodec::signedTenthsText_data()
{
    QTest::addColumn<quint16>("word");
    QTest::addColumn<QString>("text");

    QTest::newRow("25.5") << quint16(255) << "25.5";
    QTest::newRow("-20.0") << quint16(0xFF38) << "-20.0";
    QTest::newRow("zero") << quint16(0) << "0.0";
    QTest::newRow("most negative") << quint16(0x8000) << "-3276.8";
    QTest::newRow("most positive") << quint16(0x7FFF) << "3276.7";
    QTest::newRow("-0.1") << quint16(0xFFFF) << "-0.1";
    QTest::newRow("-12.5") << quint16(0xFF83) << "-12.5";
    QTest::newRow("correction -1.0") << quint16(0xFFF6) << "-1.0";
    QTest::newRow("correction 0.5") << quint16(5) << "0.5";
}

void TestRegisterCodec::signedTenthsText()
{
    QFETCH(quint16, word);
    QFETCH(QString, text);
    QCOMPARE(RegisterCodec::signedTenthsText(word), text);
}

void TestRegisterCodec::signedIntegerText_data()
{
    QTest::addColumn<quint16>("word");
    QTest::addColumn<QString>("text");

    QTest::newRow("-1000") << quint16(0xFC18) << "-1000";
    QTest::newRow("1372") << quint16(1372) << "1372";
    QTest::newRow("-1") << quint16(0xFFFF) << "-1";
    QTest::newRow("-32768") << quint16(0x8000) << "-32768";
    QTest::newRow("32767") << quint16(0x7FFF) << "32767";
}

void TestRegisterCodec::signedIntegerText()
{
    QFETCH(quint16, word);
    QFETCH(QString, text);
    QCOMPARE(RegisterCodec::signedIntegerText(word), text);
}

void TestRegisterCodec::choiceIndex_data()
{
    QTest::addColumn<quint16>("code");
    QTest::addColumn<int>("items");
    QTest::addColumn<int>("index");

    QTest::newRow("K") << quint16(0) << SensorTypeChoices << 0;
    QTest::newRow("PT100") << quint16(21) << SensorTypeChoices << 21;
    QTest::newRow("0-5V") << quint16(32) << SensorTypeChoices << 32;
    QTest::newRow("sensor 33") << quint16(33) << SensorTypeChoices << -1;
    QTest::newRow("sensor 40") << quint16(40) << SensorTypeChoices << -1;
    QTest::newRow("sensor 0xFFFF") << quint16(0xFFFF) << SensorTypeChoices << -1;
    QTest::newRow("115200") << quint16(7) << BaudRateChoices << 7;
    QTest::newRow("baud 8") << quint16(8) << BaudRateChoices << -1;
    QTest::newRow("even parity") << quint16(2) << 3 << 2;
    QTest::newRow("parity 3") << quint16(3) << 3 << -1;
}

void TestRegisterCodec::choiceIndex()
{
    QFETCH(quint16, code);
    QFETCH(int, items);
    QFETCH(int, index);
    QCOMPARE(RegisterCodec::choiceIndex(code, items), index);
}

void TestRegisterCodec::stopBits_data()
{
    QTest::addColumn<quint16>("word");
    QTest::addColumn<int>("index");
    QTest::addColumn<quint16>("writtenBack");

    QTest::newRow("one") << quint16(1) << 0 << quint16(1);
    QTest::newRow("two") << quint16(2) << 1 << quint16(2);
    // No current item: written back as index -1 plus one.
    QTest::newRow("zero") << quint16(0) << -1 << quint16(0);
    QTest::newRow("three") << quint16(3) << -1 << quint16(0);
    QTest::newRow("0xFFFF") << quint16(0xFFFF) << -1 << quint16(0);
}

void TestRegisterCodec::stopBits()
{
    QFETCH(quint16, word);
    QFETCH(int, index);
    QFETCH(quint16, writtenBack);
    QCOMPARE(stopBitsIndex(word), index);
    QCOMPARE(stopBitsWord(index), writtenBack);
}

void TestRegisterCodec::signedTenthsWord_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<quint16>("word");

    QTest::newRow("12.34") << "12.34" << quint16(123);
    QTest::newRow("-0.05") << "-0.05" << quint16(0);
    QTest::newRow("-1.25") << "-1.25" << quint16(0xFFF4);
    QTest::newRow("2.96 truncates") << "2.96" << quint16(29);
    // 29.999999999 is within half a single-precision step of 30.
    QTest::newRow("single precision first") << "2.9999999999" << quint16(30);
    QTest::newRow("1.5") << "1.5" << quint16(15);
    QTest::newRow("-0.25") << "-0.25" << quint16(0xFFFE);
    QTest::newRow("0.05") << "0.05" << quint16(0);
    QTest::newRow("empty") << "" << quint16(0);
    QTest::newRow("not a number") << "abc" << quint16(0);
    QTest::newRow("3276.7") << "3276.7" << quint16(0x7FFF);
    QTest::newRow("-3276.8") << "-3276.8" << quint16(0x8000);
    // 10 000 000 = 152 * 65536 + 38528: only the low word goes out.
    QTest::newRow("beyond 16 bits") << "1000000" << quint16(38528);
}

void TestRegisterCodec::signedTenthsWord()
{
    QFETCH(QString, text);
    QFETCH(quint16, word);
    QCOMPARE(RegisterCodec::signedTenthsWord(text), word);
}

void TestRegisterCodec::signedTenthsWordOutOfRange_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<quint16>("word");

    // Whatever is sent must keep the sign of what was typed.
    QTest::newRow("inf") << "inf" << quint16(0x7FFF);
    QTest::newRow("-inf") << "-inf" << quint16(0x8000);
    QTest::newRow("nan") << "nan" << quint16(0);
    QTest::newRow("1e300") << "1e300" << quint16(0x7FFF);
    QTest::newRow("-1e300") << "-1e300" << quint16(0x8000);
    QTest::newRow("product 3e9") << "3e8" << quint16(0x7FFF);
    QTest::newRow("product -3e9") << "-3e8" << quint16(0x8000);
    // 2147483647 in double, but single precision rounds it up to 2^31.
    QTest::newRow("rounds up to 2^31") << "214748364.7" << quint16(0x7FFF);
}

void TestRegisterCodec::signedTenthsWordOutOfRange()
{
    QFETCH(QString, text);
    QFETCH(quint16, word);

    const double parsed = text.toDouble();
    QVERIFY2(std::isnan(parsed) || std::isinf(parsed) || std::fabs(parsed * 10.0) >= 2147483647.0,
             "the row must reach beyond 32 bits");
    QCOMPARE(RegisterCodec::signedTenthsWord(text), word);
}

enum CheckedKind { Correction, RangeLimit, RawWord, SensorType };

void TestRegisterCodec::checkedWords_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<quint16>("word");

    QTest::newRow("correction 12.34") << int(Correction) << "12.34" << true << quint16(123);
    QTest::newRow("correction -1.25") << int(Correction) << "-1.25" << true << quint16(0xFFF4);
    QTest::newRow("correction 3276.7") << int(Correction) << "3276.7" << true << quint16(0x7FFF);
    QTest::newRow("correction -3276.8") << int(Correction) << "-3276.8" << true << quint16(0x8000);
    QTest::newRow("correction 3276.8") << int(Correction) << "3276.8" << false << quint16(0);
    QTest::newRow("correction -3276.9") << int(Correction) << "-3276.9" << false << quint16(0);
    QTest::newRow("correction empty") << int(Correction) << "" << false << quint16(0);
    QTest::newRow("correction abc") << int(Correction) << "abc" << false << quint16(0);
    QTest::newRow("correction nan") << int(Correction) << "nan" << false << quint16(0);
    QTest::newRow("correction inf") << int(Correction) << "inf" << false << quint16(0);
    QTest::newRow("correction 3000000000") << int(Correction) << "3000000000" << false << quint16(0);
    QTest::newRow("range -32768") << int(RangeLimit) << "-32768" << true << quint16(0x8000);
    QTest::newRow("range 32767") << int(RangeLimit) << "32767" << true << quint16(0x7FFF);
    QTest::newRow("range -200") << int(RangeLimit) << "-200" << true << quint16(0xFF38);
    QTest::newRow("range 32768") << int(RangeLimit) << "32768" << false << quint16(0);
    QTest::newRow("range 99999") << int(RangeLimit) << "99999" << false << quint16(0);
    QTest::newRow("range -32769") << int(RangeLimit) << "-32769" << false << quint16(0);
    QTest::newRow("range 12.7") << int(RangeLimit) << "12.7" << false << quint16(0);
    QTest::newRow("range empty") << int(RangeLimit) << "" << false << quint16(0);
    QTest::newRow("range 3000000000") << int(RangeLimit) << "3000000000" << false << quint16(0);
    QTest::newRow("word 65535") << int(RawWord) << "65535" << true << quint16(0xFFFF);
    QTest::newRow("word 65536") << int(RawWord) << "65536" << false << quint16(0);
    QTest::newRow("word -1") << int(RawWord) << "-1" << false << quint16(0);
    QTest::newRow("sensor PT100") << int(SensorType) << "PT100" << true << quint16(21);
    QTest::newRow("sensor WR5_26") << int(SensorType) << "WR5_26" << true << quint16(14);
    QTest::newRow("sensor pt100") << int(SensorType) << "pt100" << false << quint16(0);
    QTest::newRow("sensor WR5-26") << int(SensorType) << "WR5-26" << false << quint16(0);
    QTest::newRow("sensor code 32") << int(SensorType) << "32" << true << quint16(32);
    QTest::newRow("sensor code 33") << int(SensorType) << "33" << false << quint16(0);
    QTest::newRow("sensor empty") << int(SensorType) << "" << false << quint16(0);
}

void TestRegisterCodec::checkedWords()
{
    QFETCH(int, kind);
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QFETCH(quint16, word);
    const std::optional<quint16> result = kind == Correction ? checkedSignedTenthsWord(text)
        : kind == RangeLimit                                 ? checkedSignedIntegerWord(text)
        : kind == RawWord                                    ? checkedUnsignedIntegerWord(text)
                                                             : checkedSensorTypeWord(text);
    QCOMPARE(result.has_value(), accepted);
    if (accepted)
        QCOMPARE(*result, word);
}

void TestRegisterCodec::checkedChoice()
{
    QCOMPARE(checkedChoiceWord(32, SensorTypeChoices), std::optional<quint16>(32));
    QVERIFY(!checkedChoiceWord(33, SensorTypeChoices));
    QVERIFY(!checkedChoiceWord(-1, SensorTypeChoices));
    QCOMPARE(checkedBaudRateWord(14400), std::optional<quint16>(2));
    QCOMPARE(checkedBaudRateWord(115200), std::optional<quint16>(7));
    QVERIFY(!checkedBaudRateWord(7));
    QVERIFY(!checkedBaudRateWord(2400));
    QCOMPARE(checkedStopBitsWord(2), std::optional<quint16>(2));
    QVERIFY(!checkedStopBitsWord(0));
    QVERIFY(!checkedStopBitsWord(3));
}

void TestRegisterCodec::sensorTypeNames()
{
    const QStringList expected = {
        "K",      "E",   "N",    "J",      "WR3-25", "T",      "B",   "R",      "S",
        "NC1",    "NC2", "NC3",  "0-20MA", "4-20MA", "WR5_26", "F2",  "0-50mv", "0-100mv",
        "0-75mv", "NC4", "CU50", "PT100",  "CU100",  "NC5",    "NC6", "NC7",    "NC8",
        "0-400R", "NC9", "NC10", "NC11",   "1-5V",   "0-5V",
    };
    QCOMPARE(RegisterCodec::sensorTypeNames(), expected);
    QCOMPARE(RegisterCodec::sensorTypeNames().size(), SensorTypeChoices);
}

void TestRegisterCodec::systemBlock_data()
{
    QTest::addColumn<QVector<quint16>>("reply");
    QTest::addColumn<QString>("channels");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<int>("parity");
    QTest::addColumn<quint16>("errorCount");

    QTest::newRow("full") << QVector<quint16> { 16, 5, 7, 2, 2, 3 } << "16"
                          << "5" << 7 << 1 << 2 << quint16(3);
    QTest::newRow("four words") << QVector<quint16> { 8, 1, 1, 1 } << "8"
                                << "1" << 1 << 0 << 0 << quint16(0);
    QTest::newRow("no words") << QVector<quint16> {} << "0"
                              << "0" << 0 << -1 << 0 << quint16(0);
    QTest::newRow("codes outside lists") << QVector<quint16> { 300, 65535, 8, 0, 3, 1000 } << "300"
                                         << "65535" << -1 << -1 << -1 << quint16(1000);
}

void TestRegisterCodec::systemBlock()
{
    QFETCH(QVector<quint16>, reply);
    QFETCH(QString, channels);
    QFETCH(QString, address);
    QFETCH(int, baud);
    QFETCH(int, stopBits);
    QFETCH(int, parity);
    QFETCH(quint16, errorCount);

    QCOMPARE(RegisterCodec::unsignedIntegerText(wordAt(reply, ChannelCountWord)), channels);
    QCOMPARE(RegisterCodec::unsignedIntegerText(wordAt(reply, InstrumentAddressWord)), address);
    QCOMPARE(RegisterCodec::choiceIndex(wordAt(reply, BaudRateWord), BaudRateChoices), baud);
    QCOMPARE(stopBitsIndex(wordAt(reply, StopBitsWord)), stopBits);
    QCOMPARE(RegisterCodec::choiceIndex(wordAt(reply, ParityWord), 3), parity);
    QCOMPARE(wordAt(reply, BaudErrorCountWord), errorCount);
}

void TestRegisterCodec::tableRoundTrip()
{
    // A table read and written back unchanged must give the instrument the
    // very words it sent, for every possible word.
    for (int w = 0; w <= 0xFFFF; ++w) {
        const quint16 word = quint16(w);
        if (RegisterCodec::signedTenthsWord(RegisterCodec::signedTenthsText(word)) != word)
            QFAIL(qPrintable(QStringLiteral("tenths word %1 via \"%2\"")
                                 .arg(w)
                                 .arg(RegisterCodec::signedTenthsText(word))));
        if (RegisterCodec::checkedSignedIntegerWord(RegisterCodec::signedIntegerText(word)) != word)
            QFAIL(qPrintable(QStringLiteral("integer word %1").arg(w)));
        // A code the list does not name leaves no item to write back. (An
        // optional made from nullopt here draws a false "may be used
        // uninitialized" from MinGW's GCC 12.)
        const bool named = w < SensorTypeChoices;
        const std::optional<quint16> written = RegisterCodec::checkedChoiceWord(
            RegisterCodec::choiceIndex(word, SensorTypeChoices), SensorTypeChoices);
        if (written.has_value() != named || (named && *written != word))
            QFAIL(qPrintable(QStringLiteral("sensor code %1").arg(w)));
    }
}

void TestRegisterCodec::unicastAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("address");

    QTest::newRow("1") << "1" << 1;
    QTest::newRow("17") << "17" << 17;
    QTest::newRow("247") << "247" << 247;
    QTest::newRow("broadcast") << "0" << 0;
    QTest::newRow("reserved 248") << "248" << 0;
    QTest::newRow("255") << "255" << 0;
    QTest::newRow("low 16 bits would be 1") << "65537" << 0;
    QTest::newRow("negative") << "-1" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("letters") << "abc" << 0;
    QTest::newRow("trailing letters") << "12a" << 0;
}

void TestRegisterCodec::unicastAddress()
{
    QFETCH(QString, text);
    QFETCH(int, address);
    QCOMPARE(RegisterCodec::unicastAddress(text), address);
}

QTEST_APPLESS_MAIN(TestRegisterCodec)
#include "tst_registercodec.moc"
