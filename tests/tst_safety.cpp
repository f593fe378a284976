// What the operator sees and what the window refuses to send, end to end
// against the virtual instrument.
#include "e2erig.h"

#include <QGroupBox>
#include <QSerialPort>
#include <QStyle>

class TestSafety : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void wholeNumbers_data();
    void wholeNumbers();
    void staleValues_data();
    void staleValues();
    void notAnsweredSinceConnecting();
    void systemWriteNeedsRead_data();
    void systemWriteNeedsRead();
    void channelWriteBeforeRead();
    void openFailureReason_data();
    void openFailureReason();

private:
    bool looksStale(int channel) const;

    E2ERig *m_rig = nullptr;
    MessageBoxCatcher *m_boxes = nullptr;
};

void TestSafety::init()
{
    g_chnum = 0;
    m_rig = new E2ERig;
    m_boxes = new MessageBoxCatcher;
    QVERIFY(m_rig->openInstrument());
}

void TestSafety::cleanup()
{
    delete m_boxes;
    delete m_rig;
}

bool TestSafety::looksStale(int channel) const
{
    const auto *edit = m_rig->window->findChild<QLineEdit *>(
        channel == 1 ? QStringLiteral("ch1LineE") : QStringLiteral("ch%1LineEdit").arg(channel));
    return edit->palette().color(QPalette::Text) == edit->palette().color(QPalette::Disabled, QPalette::Text)
        && !edit->toolTip().isEmpty();
}

void TestSafety::wholeNumbers_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<bool>("narrowest");
    for (const char *field : { "ch1LineE", "ch22LineEdit", "m_sc1", "m_psl1", "m_psh22" }) {
        QTest::newRow((QByteArray(field) + " start size").constData()) << field << false;
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
        m_rig->window->resize(m_rig->window->minimumSize().expandedTo(m_rig->window->minimumSizeHint()));
    QCOMPARE(m_rig->window->width() == 990, !narrowest);
    auto *edit = m_rig->find<QLineEdit>(field);
    const qreal formSize = edit->font().pointSizeF();
    for (const QString &text : { "-3276.8", "-32768", "3276.7", "-1000.5", "1.0" }) {
        edit->setText(text);
        QTest::qWait(0);
        const int frame = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, edit);
        const int room = edit->contentsRect().width() - 2 * frame - 2 * 2;
        QVERIFY2(
            QFontMetrics(edit->font()).horizontalAdvance(text) < room,
            qPrintable(
                QStringLiteral("%1 at %2 pt in %3 px").arg(text).arg(edit->font().pointSizeF()).arg(room)));
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
    m_rig->find<QLineEdit>("m_addrLineEdit")->setText("1");
    QVERIFY(m_rig->connectLink());
    QTRY_COMPARE(m_rig->text("ch1LineE"), QStringLiteral("-1000.5"));
    QVERIFY(!looksStale(1));

    VirtualInstrument::Faults silent;
    silent.silent = true;
    if (cause == "silent")
        m_rig->instrument.setFaults(silent);
    else if (cause == "stop")
        QTest::mouseClick(m_rig->find<QPushButton>("pushButton_2"), Qt::LeftButton);
    else if (cause == "unplug")
        m_rig->instrument.closePort();
    else
        QTest::mouseClick(m_rig->find<QPushButton>("debugBt"), Qt::LeftButton);
    // Three ticks without an answer, and one more for the tick that notices.
    QTRY_VERIFY_WITH_TIMEOUT(looksStale(1), 5000);
    QVERIFY(m_rig->find<QGroupBox>("groupBox_3")->toolTip().contains(QStringLiteral("最后一次有效应答")));
    QCOMPARE(m_rig->text("ch1LineE"), QStringLiteral("-1000.5"));

    if (cause == "silent")
        m_rig->instrument.clearFaults();
    else if (cause == "console")
        QTest::mouseClick(m_rig->find<QPushButton>("debugBt"), Qt::LeftButton);
    else
        return;
    QTRY_VERIFY_WITH_TIMEOUT(!looksStale(1), 5000);
    QVERIFY(m_rig->find<QGroupBox>("groupBox_3")->toolTip().isEmpty());
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
    QTest::addColumn<bool>("yes");
    // Empty: nothing may go out.
    QTest::addColumn<QVector<quint16>>("words");

    QTest::newRow("read lost") << true << "1" << true << QVector<quint16>();
    QTest::newRow("read lost, address typed") << true << "5" << true << QVector<quint16>();
    QTest::newRow("as read, no question") << false << "1" << false << QVector<quint16> { 1, 7, 1, 0 };
    QTest::newRow("new address, answered no") << false << "5" << false << QVector<quint16>();
    QTest::newRow("new address, answered yes") << false << "5" << true << QVector<quint16> { 5, 7, 1, 0 };
}

void TestSafety::systemWriteNeedsRead()
{
    QFETCH(bool, readLost);
    QFETCH(QString, address);
    QFETCH(bool, yes);
    QFETCH(QVector<quint16>, words);

    VirtualInstrument::Faults refused;
    refused.exceptionCode = 4;
    refused.count = 1;
    if (readLost)
        m_rig->instrument.setFaults(refused);
    QVERIFY(m_rig->connectLink());
    m_rig->pollTimer()->stop();
    m_rig->settle();
    m_rig->instrument.clearRequests();
    m_boxes->answer = yes ? QMessageBox::Yes : QMessageBox::No;
    m_rig->find<QLineEdit>("m_addrLineEdit")->setText(address);
    QTest::mouseClick(m_rig->find<QPushButton>("writeBt"), Qt::LeftButton);
    m_rig->settle(300);

    const bool asRead = words == QVector<quint16> { 1, 7, 1, 0 };
    QCOMPARE(m_boxes->titles.size(), asRead ? 0 : 1);
    const auto writes = m_rig->requestsWith(0x10);
    QCOMPARE(writes.size(), words.isEmpty() ? 0 : 1);
    if (!words.isEmpty())
        QCOMPARE(writes.first().values, words);
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
    QVERIFY(m_boxes->informativeTexts.first().startsWith(QStringLiteral("测量值修正：通道1\n")));
    QCOMPARE(m_boxes->parented, QList<bool> { false });
    // The operator's next edit takes the mark away.
    auto *field = m_rig->find<QLineEdit>("m_sc1");
    QVERIFY(!field->styleSheet().isEmpty());
    QTest::keyClick(field, Qt::Key_5);
    QVERIFY(field->styleSheet().isEmpty());
}

void TestSafety::openFailureReason_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("reason");
    QTest::newRow("none selected") << ""
                                   << "没有选择串口";
    QTest::newRow("missing") << "/dev/meterconfig-no-such-port"
                             << "不存在";
    QTest::newRow("held by another program") << "held"
                                             << "占用";
}

void TestSafety::openFailureReason()
{
    QFETCH(QString, port);
    QFETCH(QString, reason);

    QSerialPort other(m_rig->instrument.portPath());
    if (port == "held")
        QVERIFY(other.open(QIODevice::ReadWrite));
    else
        m_rig->selectPort(port);
    QTest::mouseClick(m_rig->find<QPushButton>("pushButton"), Qt::LeftButton);
    QCOMPARE(m_boxes->texts, QStringList { QStringLiteral("打开失败，串口可能被占用.") });
    QVERIFY2(m_boxes->informativeTexts.first().contains(reason),
             qPrintable(m_boxes->informativeTexts.first()));
}

QTEST_MAIN(TestSafety)
#include "tst_safety.moc"
