// Replies that are late, short or meant for another request, end to end:
// whatever the instrument sends, every field shows its own register or keeps
// what it showed.
#include "e2erig.h"

namespace {

constexpr int Rows = 22;
constexpr int TableStart[] = { 300, 324, 348, 372 };

// Words no two tables share, so that a reply on the wrong table shows.
quint16 tableWord(int table, int row)
{
    const int words[] = { 10 * (row + 1), 100 + row, -(200 + row), row + 3 };
    return quint16(qint16(words[table]));
}

QStringList expectedTables()
{
    QStringList shown;
    for (int row = 0; row < Rows; ++row) {
        shown << QStringLiteral("%1.0").arg(row + 1) << QString::number(100 + row)
              << QString::number(-(200 + row)) << QString::number(row + 3);
    }
    return shown;
}

} // namespace

class TestExchanges : public E2ETestCase
{
    Q_OBJECT

private slots:
    void lateRepliesLandOnTheirOwnTables();
    void replyOfAnotherShapeIsDropped_data();
    void replyOfAnotherShapeIsDropped();

private:
    QStringList shownTables() const;
    QStringList shownSystem() const;
    void setSystemBlock(quint16 channels, quint16 address);
};

QStringList TestExchanges::shownTables() const
{
    QStringList shown;
    for (int channel = 1; channel <= Rows; ++channel) {
        const QString n = QString::number(channel);
        shown << m_rig->text("m_sc" + n) << m_rig->text("m_psl" + n) << m_rig->text("m_psh" + n)
              << QString::number(m_rig->find<QComboBox>("m_sn" + n)->currentIndex());
    }
    return shown;
}

QStringList TestExchanges::shownSystem() const
{
    return { m_rig->text("m_addrLineEdit"),
             m_rig->text("m_chnum"),
             QString::number(m_rig->find<QComboBox>("m_baudCombo")->currentIndex()),
             QString::number(m_rig->find<QComboBox>("m_stopbitComboBox")->currentIndex()),
             QString::number(m_rig->find<QComboBox>("m_parityComboBox")->currentIndex()),
             QString::number(g_chnum),
             QString::number(g_boteErr) };
}

void TestExchanges::setSystemBlock(quint16 channels, quint16 address)
{
    const quint16 words[] = { channels, address, 5, 2, 2, 7 };
    for (int i = 0; i < 6; ++i)
        m_rig->instrument.setHolding(396 + i, words[i]);
}

void TestExchanges::lateRepliesLandOnTheirOwnTables()
{
    for (int table = 0; table < 4; ++table) {
        for (int row = 0; row < Rows; ++row)
            m_rig->instrument.setHolding(TableStart[table] + row, tableWord(table, row));
    }
    setSystemBlock(22, 1);
    QVERIFY(m_rig->connectQuietly());
    const QStringList system = shownSystem();

    // Every try, the retries included, is answered 150 ms after the client
    // gave up on it.
    VirtualInstrument::Faults late;
    late.delayMs = m_rig->client()->timeout() + 150;
    m_rig->instrument.setFaults(late);
    QTest::mouseClick(m_rig->find<QPushButton>("readChBt"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(m_rig->instrument.requests().size(), 8, 12000);
    m_rig->settle(1500);
    QCOMPARE(shownTables(), expectedTables());

    // Each table was tried twice, and the next one asked for only after both
    // answers had come.
    const auto requests = m_rig->instrument.requests();
    QCOMPARE(requests.size(), 8);
    for (int i = 0; i < 8; ++i)
        QCOMPARE(int(requests.at(i).startAddress), TableStart[i / 2]);

    // Nothing the instrument still had to say lands on the next request.
    m_rig->instrument.clearFaults();
    QTest::mouseClick(m_rig->find<QPushButton>("readBt"), Qt::LeftButton);
    m_rig->settle(600);
    QCOMPARE(shownSystem(), system);
    QCOMPARE(shownTables(), expectedTables());
}

void TestExchanges::replyOfAnotherShapeIsDropped_data()
{
    // The request the instrument answers wrongly, and for the reply meant for
    // another request, the one sent before it.
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<int>("withheld");
    QTest::addColumn<QByteArray>("before");

    const QByteArray system = "on_readBt_clicked";
    const QByteArray poll = "timeOut1S";
    const QByteArray tables = "on_readChBt_clicked";
    QTest::newRow("system block, four of six words") << system << 2 << QByteArray();
    QTest::newRow("system block, a table's reply") << system << 0 << tables;
    QTest::newRow("poll, 21 of 22 words") << poll << 1 << QByteArray();
    QTest::newRow("first table, the system block's reply") << tables << 0 << system;
}

void TestExchanges::replyOfAnotherShapeIsDropped()
{
    QFETCH(QByteArray, slot);
    QFETCH(int, withheld);
    QFETCH(QByteArray, before);

    for (int table = 0; table < 4; ++table) {
        for (int row = 0; row < Rows; ++row)
            m_rig->instrument.setHolding(TableStart[table] + row, tableWord(table, row));
    }
    for (int channel = 0; channel < Rows; ++channel)
        m_rig->instrument.setInput(channel, qint16(11 * (channel + 1)));
    setSystemBlock(22, 1);
    QVERIFY(m_rig->connectQuietly());
    QTest::mouseClick(m_rig->find<QPushButton>("readChBt"), Qt::LeftButton);
    m_rig->tick();
    QVERIFY(m_rig->waitForRequests(5));
    m_rig->settle();
    if (!before.isEmpty()) {
        QMetaObject::invokeMethod(m_rig->window, before.constData());
        QVERIFY(m_rig->waitForRequests(6));
        m_rig->settle();
    }
    const QStringList tables = shownTables();
    const QStringList system = shownSystem();
    QCOMPARE(tables, expectedTables());
    QCOMPARE(m_rig->text("ch2LineEdit"), QStringLiteral("2.2"));

    // The registers change, so that a reply taken for good would show.
    for (int channel = 0; channel < Rows; ++channel) {
        m_rig->instrument.setInput(channel, qint16(-channel - 1));
        m_rig->instrument.setHolding(TableStart[0] + channel, quint16(10 * channel + 15));
    }
    setSystemBlock(12, 3);
    VirtualInstrument::Faults faults;
    faults.withheldRegisters = withheld;
    faults.previousReply = !before.isEmpty();
    faults.count = 1;
    m_rig->instrument.setFaults(faults);
    m_rig->instrument.clearRequests();
    QMetaObject::invokeMethod(m_rig->window, slot.constData());
    QVERIFY(m_rig->waitForRequests(1));
    m_rig->settle(600);

    QCOMPARE(shownSystem(), system);
    QCOMPARE(shownTables(), tables);
    QCOMPARE(m_rig->text("ch2LineEdit"), QStringLiteral("2.2"));
    QVERIFY(!m_rig->isIdle());
}

QTEST_MAIN(TestExchanges)
#include "tst_exchanges.moc"
