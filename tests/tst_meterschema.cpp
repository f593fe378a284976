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
    void lineSettings_data();
    void lineSettings();
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
    QTest::addColumn<QString>("shown"); // of 0xFFFF

    const QString range = "a whole number from -32768 to 32767";
    const QString rangeRule = "须为 -32768 到 32767 的整数";
    const QVector<quint16> extremes = { 0x8000, 0x7FFF };
    QTest::newRow("correction") << 0 << 300 << "correction"
                                << "correction"
                                << "测量值修正"
                                << "a number from -3276.8 to 3276.7"
                                << "须为 -3276.8 到 3276.7 的数" << QStringList { "-3276.8", "3276.7" }
                                << extremes << QStringList { "-3276.9", "3276.8", "", "1e9" } << "-0.1";
    QTest::newRow("range low") << 1 << 324 << "rangeLow"
                               << "low"
                               << "量程下限" << range << rangeRule << QStringList { "-32768", "32767" }
                               << extremes << QStringList { "-32769", "32768", "1.5" } << "-1";
    QTest::newRow("range high") << 2 << 348 << "rangeHigh"
                                << "high"
                                << "量程上限" << range << rangeRule << QStringList { "-32768", "32767" }
                                << extremes << QStringList { "-32769", "32768" } << "-1";
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
    QFETCH(QStringList, accepted);
    QFETCH(QVector<quint16>, words);
    QFETCH(QStringList, refused);

    const ChannelTable &t = channelTable(table);
    QCOMPARE(int(t.table), table);
    QTEST(t.start, "start");
    QTEST(QString::fromLatin1(t.fileKey), "fileKey");
    QTEST(QString::fromLatin1(t.setKey), "setKey");
    QTEST(caption(t), "caption");
    QTEST(expected(t), "expected");
    QTEST(expectedForOperator(t), "operatorRule");
    for (int i = 0; i < accepted.size(); ++i)
        QCOMPARE(t.encode(accepted.at(i)), std::optional<quint16>(words.at(i)));
    for (const QString &text : refused)
        QVERIFY2(!t.encode(text), qPrintable(text));
    QTEST(t.decode(0xFFFF), "shown");
}

void TestMeterSchema::systemWords_data()
{
    QTest::addColumn<int>("word");
    QTest::addColumn<int>("register_");
    QTest::addColumn<QString>("fileKey");
    QTest::addColumn<QString>("setKey");
    QTest::addColumn<int>("writer");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("fromText");
    QTest::addColumn<QStringList>("refused");
    QTest::addColumn<int>("stored");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("writable");

    const int factory = int(Writer::Factory);
    const int operator_ = int(Writer::Operator);
    const QStringList notAByte = { "256", "300", "-1", "+5", " 5", "abc", "", "５" };
    QTest::newRow("396 channel count")
        << 0 << 396 << "channelCount"
        << "" << factory << "255" << 255 << notAByte << 1000 << "1000" << false;
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
                                     << "" << factory << "08" << 8 << notAByte << 3 << "3" << true;
}

void TestMeterSchema::systemWords()
{
    QFETCH(int, word);
    QFETCH(QString, text);
    QFETCH(int, fromText);
    QFETCH(QStringList, refused);
    QFETCH(int, stored);

    const SystemWord &w = systemWord(word);
    QTEST(w.registerAddress, "register_");
    QTEST(QString::fromLatin1(w.fileKey), "fileKey");
    QTEST(QString::fromLatin1(w.setKey), "setKey");
    QTEST(int(w.writer), "writer");
    QCOMPARE(w.fromText(text), std::optional<quint16>(quint16(fromText)));
    for (const QString &bad : refused)
        QVERIFY2(!w.fromText(bad), qPrintable(bad));
    QTEST(w.toText(quint16(stored)), "shown");
    QTEST(mayWrite(w, quint16(stored)), "writable");
}

void TestMeterSchema::lineSettings_data()
{
    // The form's lists: baud rate, parity ("无校验", "奇校验", "偶校验"), stop bits ("1位", "2位").
    QTest::addColumn<int>("baudIndex");
    QTest::addColumn<int>("parityIndex");
    QTest::addColumn<int>("stopIndex");
    QTest::addColumn<QString>("text"); // empty: no settings
    QTest::addColumn<int>("serialParity");
    QTest::addColumn<int>("serialStopBits");

    QTest::newRow("first of each") << 0 << 0 << 0 << "4800 none 1" << int(QSerialPort::NoParity)
                                   << int(QSerialPort::OneStop);
    QTest::newRow("19200 odd") << 3 << 1 << 0 << "19200 odd 1" << int(QSerialPort::OddParity)
                               << int(QSerialPort::OneStop);
    QTest::newRow("last of each") << 7 << 2 << 1 << "115200 even 2" << int(QSerialPort::EvenParity)
                                  << int(QSerialPort::TwoStop);
    QTest::newRow("baud index 8") << 8 << 0 << 0 << "" << 0 << 0;
    QTest::newRow("parity index 3") << 0 << 3 << 0 << "" << 0 << 0;
    QTest::newRow("stop index 2") << 0 << 0 << 2 << "" << 0 << 0;
    QTest::newRow("no item") << -1 << 0 << 0 << "" << 0 << 0;
}

void TestMeterSchema::lineSettings()
{
    QFETCH(int, baudIndex);
    QFETCH(int, parityIndex);
    QFETCH(int, stopIndex);
    QFETCH(QString, text);

    const std::optional<LineSettings> settings = LineSettings::fromIndexes(baudIndex, parityIndex, stopIndex);
    QCOMPARE(settings.has_value(), !text.isEmpty());
    if (!settings)
        return;
    QCOMPARE(settings->text(), text);
    QTEST(int(settings->serialParity()), "serialParity");
    QTEST(int(settings->serialStopBits()), "serialStopBits");
    // meterctl's spellings name the same settings.
    const QStringList spelled = text.split(' ');
    QCOMPARE(LineSettings::baudRateFromText(spelled.at(0)), std::optional<int>(settings->baudRate));
    QCOMPARE(LineSettings::parityFromName(spelled.at(1)), std::optional<Parity>(settings->parity));
    QCOMPARE(LineSettings::stopBitsFromText(spelled.at(2)), std::optional<int>(settings->stopBits));
    QCOMPARE(QString(QLatin1Char(settings->parityLetter())), spelled.at(1).left(1).toUpper());

    QCOMPARE(LineSettings().text(), QStringLiteral("115200 none 1"));
    QCOMPARE(LineSettings::DefaultTimeoutMs, 500);
    QCOMPARE(LineSettings::DefaultRetries, 2);
    QCOMPARE(LineSettings::baudRatesText(), QStringLiteral("4800 9600 14400 19200 28800 38400 57600 115200"));
    for (const char *bad : { "", "None", "o", "mark" })
        QVERIFY2(!LineSettings::parityFromName(bad), bad);
}

QTEST_MAIN(TestMeterSchema)
#include "tst_meterschema.moc"
