// The factory path through the main window: hidden entry, password, and the
// two factory writes on the wire.
#include "e2erig.h"

#include <QDialog>
#include <QLabel>

namespace {

// The one password that opens the factory settings; typed only here.
const char *const kPassword = "tqvr4172";

} // namespace

class TestFactory : public E2ETestCase
{
    Q_OBJECT

private slots:
    void init();

    void clicksWithinOneTick_data();
    void clicksWithinOneTick();
    void hiddenEntryDisabledWhenIdle();
    void wrongThenRightPassword();
    void channelCountWriteLimitsDisplay();
    void factoryWrites_data();
    void factoryWrites();
    void exitWritesPendingEdit();
    void notConnectedSendsNothingButKeepsValue();

private:
    void clickHidden(int times);
    QDialog *openFactory();
    QVector<E2ERig::Request> factoryWritesOnWire() const;
};

void TestFactory::init()
{
    E2ETestCase::init();
    m_rig->window->show();
}

void TestFactory::clickHidden(int times)
{
    for (int i = 0; i < times; ++i)
        QTest::mouseClick(m_rig->find<QPushButton>("pushButton_3"), Qt::LeftButton);
}

QDialog *TestFactory::openFactory()
{
    clickHidden(3);
    auto *lockDialog = m_rig->window->findChild<QDialog *>("lock");
    if (!lockDialog)
        return nullptr;
    QTest::keyClicks(lockDialog->findChild<QLineEdit *>("password"), kPassword);
    QTest::mouseClick(lockDialog->findChild<QPushButton *>("ok"), Qt::LeftButton);
    return lockDialog->findChild<QDialog *>("factory");
}

QVector<E2ERig::Request> TestFactory::factoryWritesOnWire() const
{
    return m_rig->requestsWith(WriteSingle);
}

void TestFactory::clicksWithinOneTick_data()
{
    QTest::addColumn<int>("before");
    QTest::addColumn<bool>("tickBetween");
    QTest::addColumn<int>("after");
    QTest::addColumn<int>("dialogs");

    QTest::newRow("three") << 3 << false << 0 << 1;
    QTest::newRow("three and more") << 3 << false << 5 << 1;
    QTest::newRow("two, tick, one") << 2 << true << 1 << 0;
    QTest::newRow("two, tick, three") << 2 << true << 3 << 1;
}

void TestFactory::clicksWithinOneTick()
{
    QFETCH(int, before);
    QFETCH(bool, tickBetween);
    QFETCH(int, after);
    QFETCH(int, dialogs);

    QVERIFY(m_rig->connectLink());
    // The real timer must not reset the count in the middle of the clicks.
    m_rig->pollTimer()->start();
    clickHidden(before);
    if (tickBetween)
        m_rig->tick();
    clickHidden(after);
    QCOMPARE(m_rig->window->findChildren<QDialog *>("lock").size(), dialogs);
}

void TestFactory::hiddenEntryDisabledWhenIdle()
{
    QVERIFY(!m_rig->find<QPushButton>("pushButton_3")->isEnabled());
    clickHidden(3);
    QVERIFY(m_rig->window->findChildren<QDialog *>("lock").isEmpty());
}

void TestFactory::wrongThenRightPassword()
{
    QVERIFY(m_rig->connectLink());
    // The dialog shows what the system read brought; its reply may still be on the way.
    QTRY_COMPARE(g_chnum, 22);
    clickHidden(3);
    auto *lockDialog = m_rig->window->findChild<QDialog *>("lock");
    QVERIFY(lockDialog);
    QVERIFY(lockDialog->isModal());
    QVERIFY(lockDialog->windowFlags() & Qt::FramelessWindowHint);
    auto *field = lockDialog->findChild<QLineEdit *>("password");
    QCOMPARE(field->echoMode(), QLineEdit::Password);

    QTest::keyClicks(field, QString::fromLatin1(kPassword).toUpper());
    QTest::keyClick(field, Qt::Key_Return);
    QVERIFY(lockDialog->isVisible());
    QVERIFY(field->text().isEmpty());
    QCOMPARE(lockDialog->findChild<QLabel *>("label")->text(), QStringLiteral("密码错误，请重新输入"));
    QVERIFY(!lockDialog->findChild<QDialog *>("factory"));

    QTest::keyClicks(field, kPassword);
    QTest::keyClick(field, Qt::Key_Return);
    QVERIFY(!lockDialog->isVisible());
    auto *factoryDialog = lockDialog->findChild<QDialog *>("factory");
    QVERIFY(factoryDialog);
    QVERIFY(factoryDialog->isVisible());
    QCOMPARE(factoryDialog->findChild<QLineEdit *>("m_chnum")->text(), QStringLiteral("22"));
    QCOMPARE(factoryDialog->findChild<QLineEdit *>("boteErr")->text(), QStringLiteral("3"));
}

void TestFactory::channelCountWriteLimitsDisplay()
{
    m_rig->instrument.setInput(0, 11);
    m_rig->instrument.setInput(7, 88);
    m_rig->instrument.setInput(8, 99);
    QVERIFY(m_rig->connectLink());
    QTRY_COMPARE(g_chnum, 22);
    m_rig->tick();
    QTRY_COMPARE(m_rig->text("ch9LineEdit"), QStringLiteral("9.9"));

    QDialog *factoryDialog = openFactory();
    QVERIFY(factoryDialog);
    auto *count = factoryDialog->findChild<QLineEdit *>("m_chnum");
    count->selectAll();
    QTest::keyClicks(count, "8");
    QTest::keyClick(count, Qt::Key_Return);
    QVERIFY(m_rig->waitForRequests(2));
    QTRY_COMPARE(factoryWritesOnWire().size(), 1);
    const auto write = factoryWritesOnWire().first();
    QCOMPARE(write.serverAddress, quint8(1));
    QCOMPARE(write.startAddress, quint16(396));
    QCOMPARE(write.values, QVector<quint16> { 8 });
    QCOMPARE(g_chnum, 8);
    QTRY_COMPARE(m_rig->instrument.holding(396), quint16(8));

    m_rig->settle();
    const int polls = m_rig->requestsWith(ReadInput).size();
    m_rig->tick();
    QTRY_COMPARE(m_rig->requestsWith(ReadInput).size(), polls + 1);
    QTRY_COMPARE(m_rig->text("m_chnum"), QStringLiteral("8"));
    QTRY_COMPARE(m_rig->text("ch9LineEdit"), QString());
    QCOMPARE(m_rig->text("ch8LineEdit"), QStringLiteral("8.8"));
    QCOMPARE(m_rig->text("ch1LineE"), QStringLiteral("1.1"));
    QCOMPARE(m_rig->text("ch22LineEdit"), QString());
}

void TestFactory::factoryWrites_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("shared");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("register_");
    QTest::addColumn<QVector<quint16>>("written");

    // Text that is not a decimal number 0-255 sends nothing and keeps the shared value.
    QTest::newRow("300") << "boteErr" << 3 << "300" << 401 << QVector<quint16> {};
    QTest::newRow("256") << "boteErr" << 3 << "256" << 401 << QVector<quint16> {};
    QTest::newRow("not a number") << "m_chnum" << 22 << "abc" << 396 << QVector<quint16> {};
    QTest::newRow("negative") << "m_chnum" << 22 << "-1" << 396 << QVector<quint16> {};
    QTest::newRow("empty") << "boteErr" << 3 << "" << 401 << QVector<quint16> {};
    QTest::newRow("empty, shared zero") << "boteErr" << 0 << "" << 401 << QVector<quint16> {};
    QTest::newRow("unchanged") << "m_chnum" << 22 << "22" << 396 << QVector<quint16> {};
    QTest::newRow("1000 unchanged") << "boteErr" << 1000 << "1000" << 401 << QVector<quint16> {};
    QTest::newRow("255") << "boteErr" << 3 << "255" << 401 << QVector<quint16> { 255 };
    QTest::newRow("zero") << "m_chnum" << 22 << "0" << 396 << QVector<quint16> { 0 };
}

void TestFactory::factoryWrites()
{
    QFETCH(QString, field);
    QFETCH(int, shared);
    QFETCH(QString, typed);
    QFETCH(int, register_);
    QFETCH(QVector<quint16>, written);

    MessageBoxCatcher boxes;
    m_rig->instrument.setHolding(register_, quint16(shared));
    QVERIFY(m_rig->connectLink());
    QTRY_COMPARE(register_ == 396 ? g_chnum : g_boteErr, shared);
    QDialog *factoryDialog = openFactory();
    QVERIFY(factoryDialog);
    auto *edit = factoryDialog->findChild<QLineEdit *>(field);
    QCOMPARE(edit->text(), QString::number(shared));
    edit->selectAll();
    if (typed.isEmpty())
        QTest::keyClick(edit, Qt::Key_Delete);
    else
        QTest::keyClicks(edit, typed);
    QTest::keyClick(edit, Qt::Key_Return);
    // A refused text leaves the dialog open on its marked field.
    QCOMPARE(factoryDialog->isVisible(), boxes.titles.size() == 1);
    factoryDialog->close();
    m_rig->settle(300);

    const auto writes = factoryWritesOnWire();
    QCOMPARE(writes.size(), written.isEmpty() ? 0 : 1);
    if (!written.isEmpty()) {
        QCOMPARE(writes.first().startAddress, quint16(register_));
        QCOMPARE(writes.first().values, written);
        QCOMPARE(writes.first().serverAddress, quint8(1));
    }
    QCOMPARE(register_ == 396 ? g_chnum : g_boteErr, written.isEmpty() ? shared : int(written.first()));
}

void TestFactory::exitWritesPendingEdit()
{
    QVERIFY(m_rig->connectLink());
    QTRY_COMPARE(g_boteErr, 3);
    QDialog *factoryDialog = openFactory();
    QVERIFY(factoryDialog);
    auto *edit = factoryDialog->findChild<QLineEdit *>("boteErr");
    // Leaving a field finishes its edit only if the field had the focus.
    QApplication::setActiveWindow(factoryDialog);
    QVERIFY(QTest::qWaitForWindowActive(factoryDialog));
    edit->setFocus();
    QVERIFY(edit->hasFocus());
    edit->selectAll();
    QTest::keyClicks(edit, "9");
    QTest::mouseClick(factoryDialog->findChild<QPushButton *>("pushButton"), Qt::LeftButton);
    QVERIFY(!factoryDialog->isVisible());
    QTRY_COMPARE(factoryWritesOnWire().size(), 1);
    QCOMPARE(factoryWritesOnWire().first().startAddress, quint16(401));
    QCOMPARE(factoryWritesOnWire().first().values, QVector<quint16> { 9 });
    QCOMPARE(g_boteErr, 9);
}

void TestFactory::notConnectedSendsNothingButKeepsValue()
{
    QVERIFY(m_rig->connectLink());
    QTRY_COMPARE(g_chnum, 22);
    QDialog *factoryDialog = openFactory();
    QVERIFY(factoryDialog);
    // The link goes away while the dialog is open.
    QMetaObject::invokeMethod(m_rig->window, "on_pushButton_2_clicked");
    m_rig->instrument.clearRequests();
    auto *edit = factoryDialog->findChild<QLineEdit *>("m_chnum");
    edit->selectAll();
    QTest::keyClicks(edit, "6");
    QTest::keyClick(edit, Qt::Key_Return);
    m_rig->settle(300);
    QVERIFY(m_rig->instrument.requests().isEmpty());
    QCOMPARE(g_chnum, 6);
}

QTEST_MAIN(TestFactory)
#include "tst_factory.moc"
