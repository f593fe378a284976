// The four channel tables end to end: the read, write and copy buttons of the
// real window against the virtual instrument over a pseudo-terminal.
#include "e2erig.h"

#include <QTabWidget>

#include <cmath>

namespace {

enum Table { Correction, RangeLow, RangeHigh, SensorType, TableCount };

// In the order the buttons send them.
constexpr int TableStart[TableCount] = { 300, 324, 348, 372 };
constexpr int TablePage[TableCount] = { 3, 1, 2, 0 };
const char *const TableControl[TableCount] = { "m_sc", "m_psl", "m_psh", "m_sn" };

constexpr int Rows = 22;
constexpr int TableWords = 24;

// How a sensor-type box without a current item reads in the rows below.
const QString NoItem = QStringLiteral("<no item>");

} // namespace

Q_DECLARE_METATYPE(Table)

class TestChannels : public E2ETestCase
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void readDecodes_data();
    void readDecodes();
    void readFillsEveryControl();
    void lateRepliesLandOnTheirOwnTables();
    void replyForAnotherReadIsDropped_data();
    void replyForAnotherReadIsDropped();
    void shortReplyLeavesItsTable_data();
    void shortReplyLeavesItsTable();
    void exceptionLeavesOnlyItsTable_data();
    void exceptionLeavesOnlyItsTable();
    void writeEncodes_data();
    void writeEncodes();
    void readThenWriteGivesSameWords();
    void disconnectedSendsNothing_data();
    void disconnectedSendsNothing();
    void copy_data();
    void copy();
    void copyFollowsPageChangedMidway();
    void addressField_data();
    void addressField();
    void fixedServerRequestsIgnoreAddressField();

private:
    void clickAndSettle(const char *button, int expectedRequests);
    QString shown(Table table, int channel) const;
    void setShown(Table table, int channel, const QString &value);
    QStringList snapshot(Table table) const;
    void storeDistinctTables();
    static QStringList distinctTablesShown();
    QStringList allShown() const;
    QVector<VirtualInstrument::Request> tableRequests(quint8 function) const;
    // Something the write accepts in every field.
    void fillValid();

    MessageBoxCatcher *m_boxes = nullptr;
};

void TestChannels::init()
{
    E2ETestCase::init();
    m_boxes = new MessageBoxCatcher;
}

void TestChannels::cleanup()
{
    delete m_boxes;
    m_boxes = nullptr;
    E2ETestCase::cleanup();
}

void TestChannels::clickAndSettle(const char *button, int expectedRequests)
{
    QTest::mouseClick(m_rig->find<QPushButton>(QLatin1String(button)), Qt::LeftButton);
    if (expectedRequests > 0)
        QVERIFY(m_rig->waitForRequests(expectedRequests));
    m_rig->settle();
}

QString TestChannels::shown(Table table, int channel) const
{
    const QString name = QLatin1String(TableControl[table]) + QString::number(channel);
    if (table == SensorType) {
        const auto *box = m_rig->find<QComboBox>(name);
        return box->currentIndex() < 0 ? NoItem : box->currentText();
    }
    return m_rig->find<QLineEdit>(name)->text();
}

void TestChannels::setShown(Table table, int channel, const QString &value)
{
    const QString name = QLatin1String(TableControl[table]) + QString::number(channel);
    if (table == SensorType) {
        auto *box = m_rig->find<QComboBox>(name);
        box->setCurrentIndex(value == NoItem ? -1 : box->findText(value));
        QCOMPARE(shown(table, channel), value);
    } else {
        m_rig->find<QLineEdit>(name)->setText(value);
    }
}

void TestChannels::fillValid()
{
    for (int channel = 1; channel <= Rows; ++channel) {
        for (Table table : { Correction, RangeLow, RangeHigh, SensorType })
            setShown(table, channel, table == SensorType ? QStringLiteral("K") : QStringLiteral("0"));
    }
}

QStringList TestChannels::snapshot(Table table) const
{
    QStringList values;
    for (int channel = 1; channel <= Rows; ++channel)
        values << shown(table, channel);
    return values;
}

QVector<VirtualInstrument::Request> TestChannels::tableRequests(quint8 function) const
{
    QVector<VirtualInstrument::Request> matching;
    for (const auto &request : m_rig->requestsWith(function)) {
        if (request.startAddress >= TableStart[0] && request.startAddress < TableStart[0] + 4 * TableWords)
            matching << request;
    }
    return matching;
}

void TestChannels::readDecodes_data()
{
    QTest::addColumn<Table>("table");
    QTest::addColumn<int>("word");
    QTest::addColumn<QString>("shown");

    QTest::newRow("correction -1.0") << Correction << 0xFFF6 << "-1.0";
    QTest::newRow("correction 0.5") << Correction << 5 << "0.5";
    QTest::newRow("correction 0.0") << Correction << 0 << "0.0";
    QTest::newRow("correction most negative") << Correction << 0x8000 << "-3276.8";
    QTest::newRow("correction most positive") << Correction << 0x7FFF << "3276.7";
    QTest::newRow("lower -1000") << RangeLow << 0xFC18 << "-1000";
    QTest::newRow("lower 1372") << RangeLow << 1372 << "1372";
    QTest::newRow("lower -1") << RangeLow << 0xFFFF << "-1";
    QTest::newRow("upper -1000") << RangeHigh << 0xFC18 << "-1000";
    QTest::newRow("upper most negative") << RangeHigh << 0x8000 << "-32768";
    QTest::newRow("sensor first") << SensorType << 0 << "K";
    QTest::newRow("sensor PT100") << SensorType << 21 << "PT100";
    QTest::newRow("sensor last") << SensorType << 32 << "0-5V";
    QTest::newRow("sensor just past the list") << SensorType << 33 << NoItem;
    QTest::newRow("sensor 40") << SensorType << 40 << NoItem;
    QTest::newRow("sensor 0xFFFF") << SensorType << 0xFFFF << NoItem;
}

void TestChannels::readDecodes()
{
    QFETCH(Table, table);
    QFETCH(int, word);
    QFETCH(QString, shown);

    const int start = TableStart[table];
    m_rig->instrument.setHolding(start, quint16(word));
    m_rig->instrument.setHolding(start + Rows - 1, quint16(word));
    QVERIFY(m_rig->connectQuietly());
    // No row expects "B", so every row shows a change.
    const QString stale = table == SensorType ? QStringLiteral("B") : QStringLiteral("stale");
    setShown(table, 1, stale);
    setShown(table, Rows, stale);
    clickAndSettle("readChBt", 4);

    QCOMPARE(this->shown(table, 1), shown);
    QCOMPARE(this->shown(table, Rows), shown);
}

void TestChannels::readFillsEveryControl()
{
    auto &instrument = m_rig->instrument;
    storeDistinctTables();
    QVERIFY(m_rig->connectQuietly());
    instrument.setServerAddress(9);
    m_rig->find<QLineEdit>("m_addrLineEdit")->setText("9");
    for (Table table : { Correction, RangeLow, RangeHigh, SensorType }) {
        for (int channel = 1; channel <= Rows; ++channel)
            setShown(table, channel, table == SensorType ? NoItem : QStringLiteral("stale"));
    }

    QTest::mouseClick(m_rig->find<QPushButton>("readChBt"), Qt::LeftButton);
    QVERIFY(m_rig->waitForRequests(4));
    m_rig->settle();

    const auto requests = instrument.requests();
    QCOMPARE(requests.size(), 4);
    for (int t = 0; t < TableCount; ++t) {
        QCOMPARE(requests.at(t).serverAddress, quint8(9));
        QCOMPARE(requests.at(t).functionCode, ReadHolding);
        QCOMPARE(requests.at(t).startAddress, quint16(TableStart[t]));
        QCOMPARE(requests.at(t).quantity, quint16(TableWords));
    }
    QCOMPARE(allShown(), distinctTablesShown());
}

void TestChannels::lateRepliesLandOnTheirOwnTables()
{
    storeDistinctTables();
    QVERIFY(m_rig->connectQuietly());
    // Every try, the retry included, is answered 150 ms after the client gave up on it.
    VirtualInstrument::Faults late;
    late.delayMs = m_rig->client()->timeout() + 150;
    m_rig->instrument.setFaults(late);
    QTest::mouseClick(m_rig->find<QPushButton>("readChBt"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(m_rig->instrument.requests().size(), 8, 12000);
    m_rig->settle(1500);
    QCOMPARE(allShown(), distinctTablesShown());
    // Each table was tried twice, the next one asked for only after both answers.
    const auto requests = m_rig->instrument.requests();
    QCOMPARE(requests.size(), 8);
    for (int i = 0; i < 8; ++i)
        QCOMPARE(int(requests.at(i).startAddress), TableStart[i / 2]);

    // Nothing the instrument still had to say lands on the next request.
    m_rig->instrument.clearFaults();
    clickAndSettle("readBt", 9);
    QCOMPARE(m_rig->text("m_addrLineEdit"), QStringLiteral("1"));
    QCOMPARE(g_chnum, 22);
    QCOMPARE(allShown(), distinctTablesShown());
}

void TestChannels::replyForAnotherReadIsDropped_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("faulted");

    QTest::newRow("a table's on the system read") << QByteArray() << QByteArray("on_readBt_clicked");
    QTest::newRow("the system block's on a table read")
        << QByteArray("on_readBt_clicked") << QByteArray("on_readChBt_clicked");
}

void TestChannels::replyForAnotherReadIsDropped()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, faulted);

    storeDistinctTables();
    QVERIFY(m_rig->connectQuietly());
    clickAndSettle("readChBt", 4);
    if (!before.isEmpty())
        QMetaObject::invokeMethod(m_rig->window, before.constData());
    m_rig->settle();
    // Changed registers, so that a reply taken for good would show.
    m_rig->instrument.setHolding(396, 12);
    m_rig->instrument.setHolding(397, 3);
    for (int i = 0; i < Rows; ++i)
        m_rig->instrument.setHolding(TableStart[Correction] + i, 77);
    VirtualInstrument::Faults faults;
    faults.previousReply = true;
    faults.count = 1;
    m_rig->instrument.setFaults(faults);
    QMetaObject::invokeMethod(m_rig->window, faulted.constData());
    m_rig->settle(600);

    QCOMPARE(m_rig->text("m_addrLineEdit"), QStringLiteral("1"));
    QCOMPARE(g_chnum, 22);
    QCOMPARE(allShown(), distinctTablesShown());
}

void TestChannels::storeDistinctTables()
{
    for (int i = 0; i < TableWords; ++i) {
        m_rig->instrument.setHolding(300 + i, quint16(qint16(-5 * i - 3)));
        m_rig->instrument.setHolding(324 + i, quint16(qint16(-100 - i)));
        m_rig->instrument.setHolding(348 + i, quint16(1000 + i));
        m_rig->instrument.setHolding(372 + i, quint16(i + 5));
    }
}

// What the pages show for the words storeDistinctTables() stores, channel
// by channel in the order of allShown().
QStringList TestChannels::distinctTablesShown()
{
    QStringList expected;
    for (int i = 0; i < Rows; ++i) {
        const int tenths = 5 * i + 3;
        expected << QStringLiteral("-%1.%2").arg(tenths / 10).arg(tenths % 10) << QString::number(-100 - i)
                 << QString::number(1000 + i) << SensorTypes.at(i + 5);
    }
    return expected;
}

QStringList TestChannels::allShown() const
{
    QStringList values;
    for (int channel = 1; channel <= Rows; ++channel) {
        for (Table table : { Correction, RangeLow, RangeHigh, SensorType })
            values << shown(table, channel);
    }
    return values;
}

void TestChannels::shortReplyLeavesItsTable_data()
{
    QTest::addColumn<Table>("table");

    QTest::newRow("correction") << Correction;
    QTest::newRow("lower limit") << RangeLow;
    QTest::newRow("upper limit") << RangeHigh;
    QTest::newRow("sensor type") << SensorType;
}

void TestChannels::shortReplyLeavesItsTable()
{
    QFETCH(Table, table);

    auto &instrument = m_rig->instrument;
    for (int i = 0; i < TableWords; ++i)
        instrument.setHolding(TableStart[table] + i, quint16(i + 1));
    QVERIFY(m_rig->connectQuietly());
    for (int channel = 1; channel <= Rows; ++channel)
        setShown(table, channel, table == SensorType ? QStringLiteral("0-400R") : QStringLiteral("stale"));
    const QStringList before = snapshot(table);

    // The instrument answers this table's read with a well-formed reply of
    // only 10 words: not the reply to a read of 24.
    connect(&instrument, &VirtualInstrument::requestReceived, this,
            [&instrument, table](const VirtualInstrument::Request &request) {
                if (request.functionCode != ReadHolding || request.startAddress != TableStart[table])
                    return;
                VirtualInstrument::Faults faults;
                faults.withheldRegisters = TableWords - 10;
                faults.count = 1;
                instrument.setFaults(faults);
            });
    clickAndSettle("readChBt", 4);

    QCOMPARE(snapshot(table), before);
}

void TestChannels::exceptionLeavesOnlyItsTable_data()
{
    QTest::addColumn<Table>("failing");

    QTest::newRow("correction refused") << Correction;
    QTest::newRow("lower limit refused") << RangeLow;
    QTest::newRow("upper limit refused") << RangeHigh;
    QTest::newRow("sensor type refused") << SensorType;
}

void TestChannels::exceptionLeavesOnlyItsTable()
{
    QFETCH(Table, failing);

    auto &instrument = m_rig->instrument;
    for (int i = 0; i < Rows; ++i) {
        instrument.setHolding(300 + i, 7);
        instrument.setHolding(324 + i, quint16(qint16(-50)));
        instrument.setHolding(348 + i, 600);
        instrument.setHolding(372 + i, 21);
    }
    QVERIFY(m_rig->connectQuietly());
    for (int channel = 1; channel <= Rows; ++channel) {
        setShown(Correction, channel, QStringLiteral("9.9"));
        setShown(RangeLow, channel, QStringLiteral("1"));
        setShown(RangeHigh, channel, QStringLiteral("2"));
        setShown(SensorType, channel, QStringLiteral("K"));
    }
    const QStringList untouched = snapshot(failing);

    connect(&instrument, &VirtualInstrument::requestReceived, this,
            [&instrument, failing](const VirtualInstrument::Request &request) {
                if (request.functionCode != ReadHolding || request.startAddress != TableStart[failing])
                    return;
                VirtualInstrument::Faults faults;
                faults.exceptionCode = ModbusFraming::ServerDeviceFailure;
                faults.count = 1;
                instrument.setFaults(faults);
            });
    clickAndSettle("readChBt", 4);

    const QString decoded[TableCount]
        = { QStringLiteral("0.7"), QStringLiteral("-50"), QStringLiteral("600"), QStringLiteral("PT100") };
    for (Table table : { Correction, RangeLow, RangeHigh, SensorType }) {
        if (table == failing)
            QCOMPARE(snapshot(table), untouched);
        else
            QCOMPARE(snapshot(table), QStringList(QVector<QString>(Rows, decoded[table]).toList()));
    }
}

void TestChannels::writeEncodes_data()
{
    QTest::addColumn<Table>("table");
    QTest::addColumn<QString>("text");
    // -1: refused, no table goes out.
    QTest::addColumn<int>("word");

    QTest::newRow("correction 1.5") << Correction << "1.5" << 15;
    QTest::newRow("correction -0.25") << Correction << "-0.25" << 0xFFFE;
    QTest::newRow("correction 0.05") << Correction << "0.05" << 0;
    QTest::newRow("correction -0.05") << Correction << "-0.05" << 0;
    QTest::newRow("correction 2.96") << Correction << "2.96" << 29;
    QTest::newRow("correction 12.34") << Correction << "12.34" << 123;
    QTest::newRow("correction -1.25") << Correction << "-1.25" << 0xFFF4;
    QTest::newRow("correction -3276.8") << Correction << "-3276.8" << 0x8000;
    QTest::newRow("correction empty") << Correction << "" << -1;
    QTest::newRow("correction not a number") << Correction << "abc" << -1;
    QTest::newRow("correction infinite") << Correction << "inf" << -1;
    QTest::newRow("correction minus infinite") << Correction << "-inf" << -1;
    QTest::newRow("correction nan") << Correction << "nan" << -1;
    QTest::newRow("correction huge") << Correction << "1e300" << -1;
    QTest::newRow("correction beyond 32 bits") << Correction << "-300000000" << -1;
    QTest::newRow("correction rounds up to 2^31") << Correction << "214748364.7" << -1;
    QTest::newRow("lower -200") << RangeLow << "-200" << 0xFF38;
    QTest::newRow("lower 1372") << RangeLow << "1372" << 1372;
    QTest::newRow("lower 70000") << RangeLow << "70000" << -1;
    QTest::newRow("lower empty") << RangeLow << "" << -1;
    QTest::newRow("lower beyond 32 bits") << RangeLow << "99999999999" << -1;
    QTest::newRow("upper -200") << RangeHigh << "-200" << 0xFF38;
    QTest::newRow("upper decimal text") << RangeHigh << "12.5" << -1;
    QTest::newRow("sensor K") << SensorType << "K" << 0;
    QTest::newRow("sensor PT100") << SensorType << "PT100" << 21;
    QTest::newRow("sensor 0-5V") << SensorType << "0-5V" << 32;
    QTest::newRow("sensor no item") << SensorType << NoItem << -1;
}

void TestChannels::writeEncodes()
{
    QFETCH(Table, table);
    QFETCH(QString, text);
    QFETCH(int, word);

    QVERIFY(m_rig->connectQuietly());
    fillValid();
    setShown(table, 1, text);
    setShown(table, Rows, text);
    clickAndSettle("writeChBt", word < 0 ? 0 : 4);

    if (word < 0) {
        QVERIFY(tableRequests(WriteMultiple).isEmpty());
        QCOMPARE(m_boxes->titles, QStringList { QStringLiteral("写入仪表参数") });
        // The offending field is marked and shown, until a read fills it.
        QCOMPARE(m_rig->find<QTabWidget>("tabWidget_2")->currentIndex(), TablePage[table]);
        QWidget *field = m_rig->find<QWidget>(QLatin1String(TableControl[table]) + QStringLiteral("22"));
        QVERIFY(!field->styleSheet().isEmpty());
        clickAndSettle("readChBt", 4);
        QVERIFY(field->styleSheet().isEmpty());
        return;
    }
    const auto writes = tableRequests(WriteMultiple);
    QCOMPARE(writes.size(), 4);
    const auto &write = writes.at(table);
    QCOMPARE(write.startAddress, quint16(TableStart[table]));
    QCOMPARE(write.values.size(), Rows);
    QCOMPARE(int(write.values.first()), word);
    QCOMPARE(int(write.values.last()), word);
    QCOMPARE(int(m_rig->instrument.holding(TableStart[table])), word);
    QVERIFY(!m_rig->isIdle());
}

void TestChannels::readThenWriteGivesSameWords()
{
    auto &instrument = m_rig->instrument;
    const quint16 sentinel = 0xBEEF;
    QVector<quint16> stored[TableCount];
    for (int i = 0; i < Rows; ++i) {
        stored[Correction] << quint16(qint16(i % 2 ? -7 * i - 1 : 13 * i));
        stored[RangeLow] << quint16(qint16(-200 - 37 * i));
        stored[RangeHigh] << quint16(qint16(i % 3 ? 1372 + i : -1 - i));
        stored[SensorType] << quint16((i * 5) % 33);
    }
    // The extremes of the single-precision conversion round-trip too.
    stored[Correction][20] = 0x8000;
    stored[Correction][21] = 0x7FFF;
    for (int t = 0; t < TableCount; ++t) {
        for (int i = 0; i < Rows; ++i)
            instrument.setHolding(TableStart[t] + i, stored[t].at(i));
        instrument.setHolding(TableStart[t] + Rows, sentinel);
        instrument.setHolding(TableStart[t] + Rows + 1, sentinel);
    }
    QVERIFY(m_rig->connectQuietly());
    clickAndSettle("readChBt", 4);
    instrument.clearRequests();
    clickAndSettle("writeChBt", 4);

    const auto writes = instrument.requests();
    QCOMPARE(writes.size(), 4);
    for (int t = 0; t < TableCount; ++t) {
        QCOMPARE(writes.at(t).functionCode, WriteMultiple);
        QCOMPARE(writes.at(t).serverAddress, quint8(1));
        QCOMPARE(writes.at(t).startAddress, quint16(TableStart[t]));
        QCOMPARE(writes.at(t).quantity, quint16(Rows));
        QCOMPARE(writes.at(t).values, stored[t]);
        // Channels 23 and 24 have no row in the window and are left alone.
        QCOMPARE(instrument.holding(TableStart[t] + Rows), sentinel);
        QCOMPARE(instrument.holding(TableStart[t] + Rows + 1), sentinel);
    }
}

void TestChannels::disconnectedSendsNothing_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("everConnected");

    QTest::newRow("read, never connected") << "readChBt" << false;
    QTest::newRow("write, never connected") << "writeChBt" << false;
    QTest::newRow("read after stop") << "readChBt" << true;
    QTest::newRow("write after stop") << "writeChBt" << true;
}

void TestChannels::disconnectedSendsNothing()
{
    QFETCH(QString, button);
    QFETCH(bool, everConnected);

    m_rig->instrument.setHolding(300, 5);
    if (everConnected) {
        QVERIFY(m_rig->connectQuietly());
        QTest::mouseClick(m_rig->find<QPushButton>("pushButton_2"), Qt::LeftButton);
        QVERIFY(m_rig->isIdle());
    }
    m_rig->find<QLineEdit>("m_addrLineEdit")->setText("1");
    // Buttons may be disabled while idle; the slot itself must hold the line.
    QMetaObject::invokeMethod(m_rig->window, ("on_" + button + "_clicked").toLatin1().constData());
    m_rig->settle(300);

    QVERIFY(m_rig->instrument.requests().isEmpty());
    QCOMPARE(shown(Correction, 1), QString());
    QCOMPARE(m_rig->instrument.holding(300), quint16(5));
}

void TestChannels::copy_data()
{
    QTest::addColumn<Table>("table");
    QTest::addColumn<QString>("first");
    QTest::addColumn<bool>("connected");

    QTest::newRow("lower limit -50") << RangeLow << "-50" << false;
    QTest::newRow("upper limit empty") << RangeHigh << "" << false;
    QTest::newRow("correction not a number") << Correction << " 1,5x" << false;
    QTest::newRow("sensor PT100") << SensorType << "PT100" << false;
    QTest::newRow("sensor no item") << SensorType << NoItem << false;
    QTest::newRow("lower limit, connected") << RangeLow << "-50" << true;
    QTest::newRow("sensor, connected") << SensorType << "0-5V" << true;
}

void TestChannels::copy()
{
    QFETCH(Table, table);
    QFETCH(QString, first);
    QFETCH(bool, connected);

    if (connected)
        QVERIFY(m_rig->connectQuietly());
    for (int channel = 1; channel <= Rows; ++channel) {
        setShown(Correction, channel, QString::number(channel) + ".5");
        setShown(RangeLow, channel, QString::number(-channel));
        setShown(RangeHigh, channel, QString::number(100 + channel));
        setShown(SensorType, channel, QStringLiteral("NC4"));
    }
    setShown(table, 1, first);
    QStringList before[TableCount];
    for (int t = 0; t < TableCount; ++t)
        before[t] = snapshot(Table(t));

    m_rig->find<QTabWidget>("tabWidget_2")->setCurrentIndex(TablePage[table]);
    QTest::mouseClick(m_rig->find<QPushButton>("copyChBt"), Qt::LeftButton);
    m_rig->settle();

    for (int t = 0; t < TableCount; ++t) {
        if (t == table)
            QCOMPARE(snapshot(Table(t)), QStringList(QVector<QString>(Rows, first).toList()));
        else
            QCOMPARE(snapshot(Table(t)), before[t]);
    }
    QVERIFY(m_rig->instrument.requests().isEmpty());
}

void TestChannels::copyFollowsPageChangedMidway()
{
    for (int channel = 1; channel <= Rows; ++channel) {
        setShown(RangeLow, channel, QStringLiteral("low"));
        setShown(Correction, channel, QStringLiteral("corr"));
    }
    setShown(RangeLow, 1, QStringLiteral("-50"));
    setShown(Correction, 1, QStringLiteral("0.3"));
    auto *pages = m_rig->find<QTabWidget>("tabWidget_2");
    pages->setCurrentIndex(TablePage[RangeLow]);
    // Something reacting to channel 2 switches the page; the rest of the copy
    // follows the page now shown.
    connect(m_rig->find<QLineEdit>("m_psl2"), &QLineEdit::textChanged, pages,
            [pages]() { pages->setCurrentIndex(TablePage[Correction]); });

    QTest::mouseClick(m_rig->find<QPushButton>("copyChBt"), Qt::LeftButton);

    QCOMPARE(shown(RangeLow, 2), QStringLiteral("-50"));
    QCOMPARE(shown(RangeLow, 3), QStringLiteral("low"));
    QCOMPARE(shown(Correction, 2), QStringLiteral("corr"));
    QCOMPARE(shown(Correction, 3), QStringLiteral("0.3"));
    QCOMPARE(shown(Correction, Rows), QStringLiteral("0.3"));
}

void TestChannels::addressField_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("field");
    // 0: nothing may go out.
    QTest::addColumn<int>("server");

    const QString buttons[] = { QStringLiteral("readChBt"), QStringLiteral("writeChBt") };
    for (const QString &button : buttons) {
        const QByteArray b = button.toLatin1() + ' ';
        QTest::newRow((b + "empty").constData()) << button << "" << 0;
        QTest::newRow((b + "blank").constData()) << button << "  " << 0;
        QTest::newRow((b + "letters").constData()) << button << "abc" << 0;
        QTest::newRow((b + "broadcast").constData()) << button << "0" << 0;
        QTest::newRow((b + "negative").constData()) << button << "-1" << 0;
        QTest::newRow((b + "first reserved").constData()) << button << "248" << 0;
        QTest::newRow((b + "wraps to broadcast").constData()) << button << "256" << 0;
        QTest::newRow((b + "wraps to 1").constData()) << button << "257" << 0;
        QTest::newRow((b + "beyond 32 bits").constData()) << button << "4294967297" << 0;
        QTest::newRow((b + "hexadecimal").constData()) << button << "0x10" << 0;
        QTest::newRow((b + "decimal point").constData()) << button << "5.0" << 0;
        QTest::newRow((b + "lowest").constData()) << button << "1" << 1;
        QTest::newRow((b + "highest").constData()) << button << "247" << 247;
        QTest::newRow((b + "leading blank").constData()) << button << " 5" << 5;
        QTest::newRow((b + "leading zero").constData()) << button << "012" << 12;
    }
}

void TestChannels::addressField()
{
    QFETCH(QString, button);
    QFETCH(QString, field);
    QFETCH(int, server);

    QVERIFY(m_rig->connectQuietly());
    m_rig->instrument.setServerAddress(server == 0 ? 1 : server);
    fillValid();
    m_rig->find<QLineEdit>("m_addrLineEdit")->setText(field);
    QTest::mouseClick(m_rig->find<QPushButton>(button), Qt::LeftButton);
    m_rig->settle(300);

    const auto requests = m_rig->instrument.requests();
    if (server == 0) {
        QVERIFY(requests.isEmpty());
        return;
    }
    QCOMPARE(requests.size(), 4);
    for (int t = 0; t < TableCount; ++t) {
        QCOMPARE(int(requests.at(t).serverAddress), server);
        QCOMPARE(requests.at(t).startAddress, quint16(TableStart[t]));
    }
}

void TestChannels::fixedServerRequestsIgnoreAddressField()
{
    QVERIFY(m_rig->connectQuietly());
    m_rig->find<QLineEdit>("m_addrLineEdit")->setText("0");
    m_rig->tick();
    QMetaObject::invokeMethod(m_rig->window, "write_slot", Q_ARG(int, 401), Q_ARG(int, 3));
    // Refused: writing address 0 would leave the instrument answering nobody.
    QMetaObject::invokeMethod(m_rig->window, "on_writeBt_clicked");
    QMetaObject::invokeMethod(m_rig->window, "on_readBt_clicked");
    QVERIFY(m_rig->waitForRequests(3));
    m_rig->settle();

    const auto requests = m_rig->instrument.requests();
    QCOMPARE(requests.size(), 3);
    const quint8 functions[] = { ReadInput, WriteSingle, ReadHolding };
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(requests.at(i).functionCode, functions[i]);
        QCOMPARE(requests.at(i).serverAddress, quint8(1));
    }
}

QTEST_MAIN(TestChannels)
#include "tst_channels.moc"
