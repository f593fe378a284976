// The instrument's register rules as the window and meterctl share them,
// against the register table of the instrument typed out here.
#include "meterschema.h"

#include <QtTest>

using namespace MeterSchema;

class TestMeterSchema : public QObject
{
    Q_OBJECT

private slots:
    void channelTables_data();
    void channelTables();
    void systemWords_data();
    void systemWords();
    void factoryWord_data();
    void factoryWord();
    void lineSettings_data();
    void lineSettings();
    void lineSpellings();
};

void TestMeterSchema::channelTables_data()
{
    QTest::addColumn<int>("table");
    QTest::addColumn<int>("start");
    QTest::addColumn<QString>("fileKey");
    QTest::addColumn<QString>("setKey");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("operatorRule");
    QTest::addColumn<QStringList>("accepted"); // the extremes the instrument holds
    QTest::addColumn<QVector<quint16>>("words");
    QTest::addColumn<QStringList>("refused"); // just beyond them
    QTest::addColumn<QString>("shown"); // decode of 0xFFFF

    QTest::newRow("correction") << 0 << 300 << "correction"
                                << "correction"
                                << "测量值修正"
                                << "a number from -3276.8 to 3276.7"
                                << "须为 -3276.8 到 3276.7 的数" << QStringList { "-3276.8", "3276.7" }
                                << QVector<quint16> { 0x8000, 0x7FFF }
                                << QStringList { "-3276.9", "3276.8", "", "1e9" } << "-0.1";
    QTest::newRow("range low") << 1 << 324 << "rangeLow"
                               << "low"
                               << "量程下限"
                               << "a whole number from -32768 to 32767"
                               << "须为 -32768 到 32767 的整数" << QStringList { "-32768", "32767" }
                               << QVector<quint16> { 0x8000, 0x7FFF }
                               << QStringList { "-32769", "32768", "1.5" } << "-1";
    QTest::newRow("range high") << 2 << 348 << "rangeHigh"
                                << "high"
                                << "量程上限"
                                << "a whole number from -32768 to 32767"
                                << "须为 -32768 到 32767 的整数" << QStringList { "-32768", "32767" }
                                << QVector<quint16> { 0x8000, 0x7FFF } << QStringList { "-32769", "32768" }
                                << "-1";
    QTest::newRow("sensor type") << 3 << 372 << "sensor"
                                 << "sensor"
                                 << "传感器类型"
                                 << "a sensor type is one of K E N J WR3-25 T B R S NC1 NC2 NC3 0-20MA "
                                    "4-20MA WR5_26 F2 0-50mv 0-100mv 0-75mv NC4 CU50 PT100 CU100 NC5 NC6 "
                                    "NC7 NC8 0-400R NC9 NC10 NC11 1-5V 0-5V, or its code 0-32"
                                 << "须从列表中选择" << QStringList { "K", "0-5V", "32", "PT100" }
                                 << QVector<quint16> { 0, 32, 32, 21 } << QStringList { "33", "-1", "pt100" }
                                 << "65535";
}

void TestMeterSchema::channelTables()
{
    QFETCH(int, table);
    QFETCH(int, start);
    QFETCH(QString, fileKey);
    QFETCH(QString, setKey);
    QFETCH(QString, caption);
    QFETCH(QString, expected);
    QFETCH(QString, operatorRule);
    QFETCH(QStringList, accepted);
    QFETCH(QVector<quint16>, words);
    QFETCH(QStringList, refused);
    QFETCH(QString, shown);

    const ChannelTable &t = channelTable(table);
    QCOMPARE(int(t.table), table);
    QCOMPARE(t.start, start);
    QCOMPARE(QString::fromLatin1(t.fileKey), fileKey);
    QCOMPARE(QString::fromLatin1(t.setKey), setKey);
    QCOMPARE(MeterSchema::caption(t), caption);
    QCOMPARE(MeterSchema::expected(t), expected);
    QCOMPARE(expectedForOperator(t), operatorRule);
    for (int i = 0; i < accepted.size(); ++i)
        QCOMPARE(t.encode(accepted.at(i)), std::optional<quint16>(words.at(i)));
    for (const QString &text : refused)
        QVERIFY2(!t.encode(text), qPrintable(text));
    QCOMPARE(t.decode(0xFFFF), shown);
}

void TestMeterSchema::systemWords_data()
{
    QTest::addColumn<int>("word");
    QTest::addColumn<int>("register_");
    QTest::addColumn<QString>("fileKey");
    QTest::addColumn<QString>("setKey");
    QTest::addColumn<int>("writer");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("fromText"); // -1: refused
    QTest::addColumn<QStringList>("refused");
    QTest::addColumn<int>("stored");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("writable");

    const int factory = int(Writer::Factory);
    const int operator_ = int(Writer::Operator);
    QTest::newRow("396 channel count")
        << 0 << 396 << "channelCount"
        << "" << factory << "255" << 255 << QStringList { "256", "-1", "abc", "" } << 1000 << "1000" << false;
    QTest::newRow("397 address") << 1 << 397 << "address"
                                 << "address" << operator_ << "247" << 247 << QStringList { "0", "248", "x" }
                                 << 17 << "17" << true;
    QTest::newRow("397 address 0") << 1 << 397 << "address"
                                   << "address" << operator_ << "1" << 1 << QStringList {} << 0 << "0"
                                   << false;
    QTest::newRow("398 baud rate") << 2 << 398 << "baudRate"
                                   << "baud" << operator_ << "19200" << 3 << QStringList { "19201", "3", "" }
                                   << 7 << "115200" << true;
    QTest::newRow("398 unknown code")
        << 2 << 398 << "baudRate"
        << "baud" << operator_ << "4800" << 0 << QStringList {} << 9 << "code 9" << false;
    QTest::newRow("399 stop bits") << 3 << 399 << "stopBits"
                                   << "stop" << operator_ << "2" << 2 << QStringList { "0", "3", "1位" } << 0
                                   << "0" << false;
    QTest::newRow("400 parity") << 4 << 400 << "parity"
                                << "parity" << operator_ << "odd" << 1 << QStringList { "Odd", "1", "" } << 2
                                << "even" << true;
    QTest::newRow("400 unknown code")
        << 4 << 400 << "parity"
        << "parity" << operator_ << "none" << 0 << QStringList {} << 7 << "7" << false;
    QTest::newRow("401 error count") << 5 << 401 << "baudErrorCount"
                                     << "" << factory << "0" << 0 << QStringList { "300" } << 3 << "3"
                                     << true;
}

void TestMeterSchema::systemWords()
{
    QFETCH(int, word);
    QFETCH(int, register_);
    QFETCH(QString, fileKey);
    QFETCH(QString, setKey);
    QFETCH(int, writer);
    QFETCH(QString, text);
    QFETCH(int, fromText);
    QFETCH(QStringList, refused);
    QFETCH(int, stored);
    QFETCH(QString, shown);
    QFETCH(bool, writable);

    const SystemWord &w = systemWord(word);
    QCOMPARE(w.registerAddress, register_);
    QCOMPARE(QString::fromLatin1(w.fileKey), fileKey);
    QCOMPARE(QString::fromLatin1(w.setKey), setKey);
    QCOMPARE(int(w.writer), writer);
    QCOMPARE(w.fromText(text), std::optional<quint16>(quint16(fromText)));
    for (const QString &bad : refused)
        QVERIFY2(!w.fromText(bad), qPrintable(bad));
    QCOMPARE(w.toText(quint16(stored)), shown);
    QCOMPARE(mayWrite(w, quint16(stored)), writable);
}

void TestMeterSchema::factoryWord_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("word"); // -1: refused

    QTest::newRow("0") << "0" << 0;
    QTest::newRow("255") << "255" << 255;
    QTest::newRow("leading zero") << "08" << 8;
    QTest::newRow("256") << "256" << -1;
    QTest::newRow("300") << "300" << -1;
    QTest::newRow("1000") << "1000" << -1;
    QTest::newRow("letters") << "abc" << -1;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("negative") << "-1" << -1;
    QTest::newRow("plus sign") << "+5" << -1;
    QTest::newRow("blank before") << " 5" << -1;
    QTest::newRow("full-width digit") << "５" << -1;
}

void TestMeterSchema::factoryWord()
{
    QFETCH(QString, text);
    QFETCH(int, word);
    const std::optional<quint16> expected = word < 0 ? std::nullopt : std::optional<quint16>(quint16(word));
    QCOMPARE(checkedFactoryWord(text), expected);
}

void TestMeterSchema::lineSettings_data()
{
    // The form's lists: baud rate, parity ("无校验", "奇校验", "偶校验"), stop bits ("1位", "2位").
    QTest::addColumn<int>("baudIndex");
    QTest::addColumn<int>("parityIndex");
    QTest::addColumn<int>("stopIndex");
    QTest::addColumn<int>("baud"); // 0: no settings
    QTest::addColumn<QString>("parity");
    QTest::addColumn<int>("serialParity");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<QString>("text");

    QTest::newRow("first of each") << 0 << 0 << 0 << 4800 << "N" << int(QSerialPort::NoParity) << 1
                                   << "4800 none 1";
    QTest::newRow("19200 odd") << 3 << 1 << 0 << 19200 << "O" << int(QSerialPort::OddParity) << 1
                               << "19200 odd 1";
    QTest::newRow("last of each") << 7 << 2 << 1 << 115200 << "E" << int(QSerialPort::EvenParity) << 2
                                  << "115200 even 2";
    QTest::newRow("baud index 8") << 8 << 0 << 0 << 0 << "" << 0 << 0 << "";
    QTest::newRow("parity index 3") << 0 << 3 << 0 << 0 << "" << 0 << 0 << "";
    QTest::newRow("stop index 2") << 0 << 0 << 2 << 0 << "" << 0 << 0 << "";
    QTest::newRow("no item") << -1 << 0 << 0 << 0 << "" << 0 << 0 << "";
}

void TestMeterSchema::lineSettings()
{
    QFETCH(int, baudIndex);
    QFETCH(int, parityIndex);
    QFETCH(int, stopIndex);
    QFETCH(int, baud);
    QFETCH(QString, parity);
    QFETCH(int, serialParity);
    QFETCH(int, stopBits);
    QFETCH(QString, text);

    const std::optional<LineSettings> settings = LineSettings::fromIndexes(baudIndex, parityIndex, stopIndex);
    QCOMPARE(settings.has_value(), baud != 0);
    if (!settings)
        return;
    QCOMPARE(settings->baudRate, baud);
    QCOMPARE(QString(QLatin1Char(settings->parityLetter())), parity);
    QCOMPARE(int(settings->serialParity()), serialParity);
    QCOMPARE(settings->stopBits, stopBits);
    QCOMPARE(int(settings->serialStopBits()),
             int(stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop));
    QCOMPARE(settings->text(), text);
}

void TestMeterSchema::lineSpellings()
{
    QCOMPARE(LineSettings::baudRates(),
             (std::array<int, 8> { 4800, 9600, 14400, 19200, 28800, 38400, 57600, 115200 }));
    QCOMPARE(LineSettings::DefaultTimeoutMs, 500);
    QCOMPARE(LineSettings::DefaultRetries, 2);
    QCOMPARE(LineSettings().text(), QStringLiteral("115200 none 1"));

    QCOMPARE(LineSettings::parityFromName("none"), std::optional<Parity>(Parity::None));
    QCOMPARE(LineSettings::parityFromName("odd"), std::optional<Parity>(Parity::Odd));
    QCOMPARE(LineSettings::parityFromName("even"), std::optional<Parity>(Parity::Even));
    for (const char *bad : { "", "None", "o", "mark" })
        QVERIFY2(!LineSettings::parityFromName(bad), bad);
    QCOMPARE(LineSettings::stopBitsFromText("2"), std::optional<int>(2));
    QCOMPARE(LineSettings::baudRateFromText("14400"), std::optional<int>(14400));
    for (const char *bad : { "0", "3", "x", "" })
        QVERIFY2(!LineSettings::stopBitsFromText(bad), bad);
    for (const char *bad : { "1200", "115201", "9600x", "" })
        QVERIFY2(!LineSettings::baudRateFromText(bad), bad);
}

QTEST_MAIN(TestMeterSchema)
#include "tst_meterschema.moc"
