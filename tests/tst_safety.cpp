// What the operator sees and what the window refuses to send, end to end
// against the virtual instrument.
#include "e2erig.h"

#include <QGroupBox>
#include <QStyle>

class TestSafety : public E2ETestCase
{
    Q_OBJECT

private slots:
    void init()
    {
        E2ETestCase::init();
        m_boxes = new MessageBoxCatcher;
    }
    void cleanup()
    {
        delete m_boxes;
        E2ETestCase::cleanup();
    }

    void wholeNumbers_data();
    void wholeNumbers();
    void staleValues_data();
    void staleValues();
    void notAnsweredSinceConnecting();
    void systemWriteNeedsRead_data();
    void systemWriteNeedsRead();
    void channelWriteBeforeRead();

private:
    bool looksStale() const
    {
        const auto *edit = m_rig->find<QLineEdit>("ch1LineE");
        return edit->palette().color(QPalette::Text)
            == edit->palette().color(QPalette::Disabled, QPalette::Text)
            && !edit->toolTip().isEmpty();
    }

    MessageBoxCatcher *m_boxes = nullptr;
};

void TestSafety::wholeNumbers_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<bool>("narrowest");
    for (const char *field : { "ch1LineE", "m_sc1", "m_psl1" }) {
        QTest::newRow(field) << field << false;
        QTest::newRow((QByteArray(field) + " narrowest").constData()) << field << true;
    }
}

void TestSafety::wholeNumbers()
{
    QFETCH(QString, field);
    QFETCH(bool, narrowest);

    m_rig->window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_rig->window));
    if (narrowest)
        m_rig->window->resize(m_rig->window->minimumSizeHint());
    QCOMPARE(m_rig->window->width() == 990, !narrowest);
    auto *edit = m_rig->find<QLineEdit>(field);
    const qreal formSize = edit->font().pointSizeF();
    for (const QString &text : QStringList { "-3276.8", "-32768", "3276.7", "1.0" }) {
        edit->setText(text);
        QTest::qWait(0);
        // The frame, and QLineEdit's own 2 pixels on either side.
        const int frame = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, edit);
        const int room = edit->contentsRect().width() - 2 * frame - 2 * 2;
        QVERIFY2(QFontMetrics(edit->font()).horizontalAdvance(text) < room, qPrintable(text));
    }
    // A text that fits has the form's size again.
    QCOMPARE(edit->font().pointSizeF(), formSize);
}

void TestSafety::staleValues_data()
{
    QTest::addColumn<QString>("cause");
    QTest::newRow("instrument silent") << "silent";
    QTest::newRow("stopped") << "stop";
    QTest::newRow("unplugged") << "unplug";
    QTest::newRow("console holds the line") << "console";
}

void TestSafety::staleValues()
{
    QFETCH(QString, cause);

    m_rig->instrument.setInput(0, -10005);
    QVERIFY(m_rig->connectLink());
    QTRY_COMPARE(m_rig->text("ch1LineE"), QStringLiteral("-1000.5"));
    QVERIFY(!looksStale());
    VirtualInstrument::Faults silent;
    silent.silent = true;
    if (cause == "silent")
        m_rig->instrument.setFaults(silent);
    else if (cause == "unplug")
        m_rig->instrument.closePort();
    else
        QTest::mouseClick(m_rig->find<QPushButton>(cause == "stop" ? "pushButton_2" : "debugBt"),
                          Qt::LeftButton);
    // Three ticks without an answer, and the tick that notices.
    QTRY_VERIFY_WITH_TIMEOUT(looksStale(), 8000);
    QVERIFY(m_rig->find<QGroupBox>("groupBox_3")->toolTip().contains(QStringLiteral("最后一次有效应答")));
    QCOMPARE(m_rig->text("ch1LineE"), QStringLiteral("-1000.5"));

    // Live again with the next good reply.
    if (cause == "silent")
        m_rig->instrument.clearFaults();
    else if (cause == "console")
        QTest::mouseClick(m_rig->find<QPushButton>("debugBt"), Qt::LeftButton);
    else
        return;
    QTRY_VERIFY_WITH_TIMEOUT(!looksStale(), 8000);
}

void TestSafety::notAnsweredSinceConnecting()
{
    VirtualInstrument::Faults silent;
    silent.silent = true;
    m_rig->instrument.setFaults(silent);
    QVERIFY(m_rig->connectLink());
    QCOMPARE(m_rig->find<QLineEdit>("ch1LineE")->placeholderText(), QStringLiteral("无应答"));
    QVERIFY(!m_rig->window->toolTip().isEmpty());
    m_rig->instrument.clearFaults();
    QTRY_VERIFY_WITH_TIMEOUT(m_rig->window->toolTip().isEmpty(), 5000);
    QCOMPARE(m_rig->find<QLineEdit>("ch1LineE")->placeholderText(), QString());
}

void TestSafety::systemWriteNeedsRead_data()
{
    QTest::addColumn<bool>("readLost");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("boxes");
    QTest::addColumn<bool>("sent");
    QTest::newRow("read lost") << true << "1" << 1 << false;
    QTest::newRow("as read: no question") << false << "1" << 0 << true;
    QTest::newRow("new address, answered no") << false << "5" << 1 << false;
}

void TestSafety::systemWriteNeedsRead()
{
    QFETCH(bool, readLost);
    QFETCH(QString, address);
    QFETCH(int, boxes);
    QFETCH(bool, sent);

    VirtualInstrument::Faults refused;
    refused.exceptionCode = 4;
    refused.count = 1;
    if (readLost)
        m_rig->instrument.setFaults(refused);
    QVERIFY(m_rig->connectLink());
    m_rig->pollTimer()->stop();
    m_rig->settle();
    m_rig->instrument.clearRequests();
    m_boxes->answer = QMessageBox::No;
    m_rig->find<QLineEdit>("m_addrLineEdit")->setText(address);
    QTest::mouseClick(m_rig->find<QPushButton>("writeBt"), Qt::LeftButton);
    m_rig->settle(300);
    QCOMPARE(m_boxes->titles.size(), boxes);
    const auto writes = m_rig->requestsWith(0x10);
    QCOMPARE(writes.size(), sent ? 1 : 0);
    if (sent)
        QCOMPARE(writes.first().values, (QVector<quint16> { 1, 7, 1, 0 }));
}

void TestSafety::channelWriteBeforeRead()
{
    QVERIFY(m_rig->connectLink());
    m_rig->settle();
    m_rig->find<QLineEdit>("m_addrLineEdit")->setText("1");
    QTest::mouseClick(m_rig->find<QPushButton>("writeChBt"), Qt::LeftButton);
    m_rig->settle(300);
    QVERIFY(m_rig->requestsWith(0x10).isEmpty());
    QCOMPARE(m_boxes->titles, QStringList { QStringLiteral("写入仪表参数") });
    // Every text field is empty (the sensor boxes show "K"): the first few
    // are named, and how many there are.
    QVERIFY(m_boxes->informativeTexts.first().startsWith(QStringLiteral("测量值修正：通道1\n")));
    QVERIFY(m_boxes->informativeTexts.first().contains(QStringLiteral("（共66处）")));
    QCOMPARE(m_boxes->parented, QList<bool> { false });
    // The operator's next edit takes the mark away.
    auto *field = m_rig->find<QLineEdit>("m_sc1");
    QVERIFY(!field->styleSheet().isEmpty());
    QTest::keyClick(field, Qt::Key_5);
    QVERIFY(field->styleSheet().isEmpty());
}

QTEST_MAIN(TestSafety)
#include "tst_safety.moc"
