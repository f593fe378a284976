#include "factory.h"
#include "globals.h"
#include "lock.h"
#include "widget.h"
#include "windowprobe.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

namespace {

const QString BorderStyle
    = QStringLiteral("QWidget#widget{\n   border-width:1px;\n\tborder-color: rgb(8, 8, 8);\n"
                     "   border-style:solid;\n\t\n}");
const QString Prompt = QStringLiteral("请输入密码");
const QString WrongPassword = QStringLiteral("密码错误，请重新输入");

QDialog *makeDialog(const QString &kind)
{
    if (kind == QLatin1String("lock"))
        return new lock;
    return new factory;
}

bool isFramelessModal(const QWidget *dialog)
{
    return dialog->isModal() && dialog->windowFlags().testFlag(Qt::FramelessWindowHint);
}

void showActive(QWidget *dialog)
{
    dialog->show();
    QVERIFY(QTest::qWaitForWindowActive(dialog));
}

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void formFrame_data();
    void formFrame();
    void formWidgets_data();
    void formWidgets();
    void creationOrder_data();
    void creationOrder();
    void lockButtonRow();
    void passwordIsMasked();

    void passwordRefused_data();
    void passwordRefused();
    void passwordAccepted();
    void reopenedLockStartsFresh();
    void lockKeys_data();
    void lockKeys();

    void factoryShowsSharedValues_data();
    void factoryShowsSharedValues();
    void factoryWrites_data();
    void factoryWrites();
    void factoryExitWritesPendingEdit();
    void factoryWritesReachLockRelay();

    void hiddenEntry_data();
    void hiddenEntry();
};

void TestDialogs::init()
{
    g_chnum = 0;
    g_boteErr = 0;
}

void TestDialogs::formFrame_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QSize>("dialogSize");
    QTest::addColumn<QRect>("borderGeometry");

    // The lock dialog is 2 px taller than its border; the factory dialog is not.
    QTest::newRow("lock") << "lock" << QSize(400, 182) << QRect(0, 0, 400, 180);
    QTest::newRow("factory") << "factory" << QSize(539, 300) << QRect(0, 0, 539, 300);
}

void TestDialogs::formFrame()
{
    QFETCH(QString, kind);
    QFETCH(QSize, dialogSize);
    QFETCH(QRect, borderGeometry);

    QScopedPointer<QDialog> dialog(makeDialog(kind));
    QCOMPARE(dialog->objectName(), kind);
    QCOMPARE(dialog->size(), dialogSize);
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Dialog"));
    QVERIFY(!dialog->layout());

    auto *border = dialog->findChild<QWidget *>(QStringLiteral("widget"), Qt::FindDirectChildrenOnly);
    QVERIFY(border);
    QCOMPARE(border->metaObject()->className(), "QWidget");
    QCOMPARE(border->geometry(), borderGeometry);
    QCOMPARE(border->styleSheet(), BorderStyle);
}

void TestDialogs::formWidgets_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QRect>("geometry"); // null where a layout places the widget
    QTest::addColumn<int>("pointSize");
    QTest::addColumn<QString>("text");

    const auto row = [](const char *kind, const char *name, const char *className, const char *parent,
                        const QRect &geometry, int pointSize, const QString &text) {
        QTest::addRow("%s %s", kind, name)
            << QString::fromLatin1(kind) << QString::fromLatin1(name) << QString::fromLatin1(className)
            << QString::fromLatin1(parent) << geometry << pointSize << text;
    };
    const QRect placed;
    row("lock", "label", "QLabel", "widget", { 64, 20, 261, 20 }, 14, Prompt);
    row("lock", "password", "QLineEdit", "widget", { 60, 50, 271, 31 }, 14, QString());
    row("lock", "ok", "QPushButton", "widget1", placed, 14, QStringLiteral("确定"));
    row("lock", "pushButton_2", "QPushButton", "widget1", placed, 14, QStringLiteral("取消并退出"));
    row("factory", "pushButton", "QPushButton", "widget", { 30, 200, 459, 27 }, 14, QStringLiteral("退出"));
    row("factory", "boteErr", "QLineEdit", "widget", { 390, 40, 92, 22 }, 12, QStringLiteral("0"));
    row("factory", "label", "QLabel", "widget", { 40, 40, 64, 16 }, 12, QStringLiteral("通道数量"));
    row("factory", "label_2", "QLabel", "widget", { 230, 40, 144, 16 }, 12,
        QStringLiteral("波特率允许错误次数"));
    row("factory", "m_chnum", "QLineEdit", "widget", { 110, 40, 92, 22 }, 12, QStringLiteral("0"));
}

void TestDialogs::formWidgets()
{
    QFETCH(QString, kind);
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, parentName);
    QFETCH(QRect, geometry);
    QFETCH(int, pointSize);
    QFETCH(QString, text);

    QScopedPointer<QDialog> dialog(makeDialog(kind));
    auto *w = dialog->findChild<QWidget *>(name);
    QVERIFY(w);
    QCOMPARE(QString::fromLatin1(w->metaObject()->className()), className);
    QCOMPARE(w->parentWidget()->objectName(), parentName);
    if (!geometry.isNull())
        QCOMPARE(w->geometry(), geometry);
    QCOMPARE(w->font().pointSize(), pointSize);
    QCOMPARE(w->font().family(), QApplication::font().family());

    if (auto *label = qobject_cast<QLabel *>(w)) {
        QCOMPARE(label->text(), text);
        if (kind == QLatin1String("lock"))
            QCOMPARE(label->alignment(), Qt::AlignHCenter | Qt::AlignVCenter);
    } else if (auto *button = qobject_cast<QPushButton *>(w)) {
        QCOMPARE(button->text(), text);
    } else if (auto *edit = qobject_cast<QLineEdit *>(w)) {
        QCOMPARE(edit->text(), text);
        QCOMPARE(edit->placeholderText(), QString());
        QVERIFY(!edit->validator());
    }
}

void TestDialogs::creationOrder_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QStringList>("children");

    // Creation order is also the tab order, and with it which button is the default.
    QTest::newRow("lock widget") << QStringLiteral("lock") << QStringLiteral("widget")
                                 << QStringList { "label", "password", "widget1" };
    QTest::newRow("lock widget1") << QStringLiteral("lock") << QStringLiteral("widget1")
                                  << QStringList { "horizontalLayout", "ok", "pushButton_2" };
    QTest::newRow("factory widget") << QStringLiteral("factory") << QStringLiteral("widget")
                                    << QStringList { "pushButton", "boteErr", "label", "label_2", "m_chnum" };
}

void TestDialogs::creationOrder()
{
    QFETCH(QString, kind);
    QFETCH(QString, container);
    QFETCH(QStringList, children);

    QScopedPointer<QDialog> dialog(makeDialog(kind));
    auto *parent = dialog->findChild<QWidget *>(container);
    QVERIFY(parent);
    QStringList names;
    for (const QObject *child : parent->children())
        names << child->objectName();
    QCOMPARE(names, children);
}

void TestDialogs::lockButtonRow()
{
    lock dialog;
    auto *row = dialog.findChild<QWidget *>(QStringLiteral("widget1"));
    QVERIFY(row);
    QCOMPARE(row->geometry(), QRect(60, 110, 271, 29));

    auto *layout = qobject_cast<QHBoxLayout *>(row->layout());
    QVERIFY(layout);
    QCOMPARE(layout->objectName(), QStringLiteral("horizontalLayout"));
    QCOMPARE(layout->spacing(), 40);
    QCOMPARE(layout->contentsMargins(), QMargins(0, 0, 0, 0));
    QCOMPARE(layout->count(), 2);
    QCOMPARE(layout->itemAt(0)->widget()->objectName(), QStringLiteral("ok"));
    QCOMPARE(layout->itemAt(1)->widget()->objectName(), QStringLiteral("pushButton_2"));
    QCOMPARE(layout->stretch(0), 1);
    QCOMPARE(layout->stretch(1), 1);
}

void TestDialogs::passwordIsMasked()
{
    lock dialog;
    auto *password = dialog.findChild<QLineEdit *>(QStringLiteral("password"));
    QCOMPARE(password->echoMode(), QLineEdit::Password);
    QCOMPARE(password->maxLength(), QLineEdit().maxLength());
    QTest::keyClicks(password, QStringLiteral("abc1"));
    QVERIFY(!password->displayText().contains(QLatin1String("abc1")));
    QCOMPARE(password->displayText().size(), 4);
}

void TestDialogs::passwordRefused_data()
{
    QTest::addColumn<QString>("typed");

    QTest::newRow("empty") << QString();
    QTest::newRow("trailing blank") << "tqvr4172 ";
    QTest::newRow("leading blank") << " tqvr4172";
    QTest::newRow("capitals") << "TQVR4172";
    QTest::newRow("prefix") << "tqvr417";
    QTest::newRow("longer") << "tqvr41720";
}

void TestDialogs::passwordRefused()
{
    QFETCH(QString, typed);

    lock dialog;
    showActive(&dialog);
    auto *password = dialog.findChild<QLineEdit *>(QStringLiteral("password"));
    QTest::keyClicks(password, typed);

    // Retried several times: there is no attempt limit and no lock-out.
    for (int attempt = 0; attempt < 3; ++attempt) {
        QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("ok")), Qt::LeftButton);
        QCOMPARE(password->text(), QString());
        QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("label"))->text(), WrongPassword);
        QVERIFY(dialog.isVisible());
        QVERIFY(!dialog.findChild<factory *>());
    }
}

void TestDialogs::passwordAccepted()
{
    lock dialog;
    showActive(&dialog);
    auto *password = dialog.findChild<QLineEdit *>(QStringLiteral("password"));
    auto *ok = dialog.findChild<QPushButton *>(QStringLiteral("ok"));

    QTest::keyClicks(password, QStringLiteral("tqvr"));
    QTest::mouseClick(ok, Qt::LeftButton);
    QVERIFY(dialog.isVisible());

    QTest::keyClicks(password, QStringLiteral("tqvr4172"));
    QTest::mouseClick(ok, Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    const auto opened = dialog.findChildren<factory *>();
    QCOMPARE(opened.size(), 1);
    QVERIFY(opened.first()->isVisible());
    QCOMPARE(opened.first()->parentWidget(), &dialog);
    QVERIFY(isFramelessModal(opened.first()));
}

void TestDialogs::reopenedLockStartsFresh()
{
    lock first;
    showActive(&first);
    QTest::keyClicks(first.findChild<QLineEdit *>(QStringLiteral("password")), QStringLiteral("x"));
    QTest::mouseClick(first.findChild<QPushButton *>(QStringLiteral("ok")), Qt::LeftButton);
    QTest::keyClicks(first.findChild<QLineEdit *>(QStringLiteral("password")), QStringLiteral("y"));
    QTest::mouseClick(first.findChild<QPushButton *>(QStringLiteral("pushButton_2")), Qt::LeftButton);
    QVERIFY(!first.isVisible());
    // The error text stays on a cancelled dialog; it is never reused.
    QCOMPARE(first.findChild<QLabel *>(QStringLiteral("label"))->text(), WrongPassword);

    lock second;
    showActive(&second);
    QCOMPARE(second.findChild<QLabel *>(QStringLiteral("label"))->text(), Prompt);
    QCOMPARE(second.findChild<QLineEdit *>(QStringLiteral("password"))->text(), QString());
}

void TestDialogs::lockKeys_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("lockVisible");
    QTest::addColumn<bool>("factoryOpened");
    QTest::addColumn<QString>("labelText");

    QTest::newRow("return, right") << "tqvr4172" << int(Qt::Key_Return) << false << true << Prompt;
    QTest::newRow("enter, right") << "tqvr4172" << int(Qt::Key_Enter) << false << true << Prompt;
    QTest::newRow("return, wrong") << "tqvr" << int(Qt::Key_Return) << true << false << WrongPassword;
    QTest::newRow("escape, right") << "tqvr4172" << int(Qt::Key_Escape) << false << false << Prompt;
}

void TestDialogs::lockKeys()
{
    QFETCH(QString, typed);
    QFETCH(int, key);
    QFETCH(bool, lockVisible);
    QFETCH(bool, factoryOpened);
    QFETCH(QString, labelText);

    lock dialog;
    showActive(&dialog);
    auto *password = dialog.findChild<QLineEdit *>(QStringLiteral("password"));
    password->setFocus();
    QSignalSpy relay(&dialog, &lock::write_signal);
    QTest::keyClicks(password, typed);
    QTest::keyClick(password, Qt::Key(key));

    QCOMPARE(dialog.isVisible(), lockVisible);
    QCOMPARE(dialog.findChildren<factory *>().size(), factoryOpened ? 1 : 0);
    QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("label"))->text(), labelText);
    QCOMPARE(relay.count(), 0);
}

void TestDialogs::factoryShowsSharedValues_data()
{
    QTest::addColumn<int>("chnum");
    QTest::addColumn<int>("boteErr");
    QTest::addColumn<QString>("chnumText");
    QTest::addColumn<QString>("boteErrText");

    QTest::newRow("never read") << 0 << 0 << QStringLiteral("0") << QStringLiteral("0");
    QTest::newRow("typical") << 22 << 3 << QStringLiteral("22") << QStringLiteral("3");
    QTest::newRow("above a byte") << 65535 << 1000 << QStringLiteral("65535") << QStringLiteral("1000");
}

void TestDialogs::factoryShowsSharedValues()
{
    QFETCH(int, chnum);
    QFETCH(int, boteErr);

    g_chnum = chnum;
    g_boteErr = boteErr;
    factory dialog;
    QTEST(dialog.findChild<QLineEdit *>(QStringLiteral("m_chnum"))->text(), "chnumText");
    QTEST(dialog.findChild<QLineEdit *>(QStringLiteral("boteErr"))->text(), "boteErrText");
}

void TestDialogs::factoryWrites_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("shared");
    QTest::addColumn<bool>("retype");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("written"); // -1: nothing written
    QTest::addColumn<int>("sharedAfter");
    QTest::addColumn<bool>("refused"); // the field is marked and one box says why

    QTest::newRow("fewer channels") << "m_chnum" << 22 << true << "8" << 396 << 8 << 8 << false;
    QTest::newRow("300 is no byte") << "m_chnum" << 0 << true << "300" << 396 << -1 << 0 << true;
    QTest::newRow("256 is no byte") << "m_chnum" << 5 << true << "256" << 396 << -1 << 5 << true;
    QTest::newRow("letters") << "m_chnum" << 5 << true << "abc" << 396 << -1 << 5 << true;
    QTest::newRow("negative") << "m_chnum" << 5 << true << "-1" << 396 << -1 << 5 << true;
    QTest::newRow("empty") << "m_chnum" << 5 << true << "" << 396 << -1 << 5 << true;
    QTest::newRow("letters, shared 0") << "m_chnum" << 0 << true << "abc" << 396 << -1 << 0 << true;
    QTest::newRow("zero") << "m_chnum" << 5 << true << "0" << 396 << 0 << 0 << false;
    QTest::newRow("unchanged") << "m_chnum" << 22 << false << "" << 396 << -1 << 22 << false;
    QTest::newRow("error count") << "boteErr" << 0 << true << "3" << 401 << 3 << 3 << false;
    QTest::newRow("error count 255") << "boteErr" << 7 << true << "255" << 401 << 255 << 255 << false;
    QTest::newRow("error count unchanged 255")
        << "boteErr" << 255 << false << "" << 401 << -1 << 255 << false;
    QTest::newRow("unchanged 1000") << "boteErr" << 1000 << false << "" << 401 << -1 << 1000 << false;
    QTest::newRow("1000 typed again") << "boteErr" << 1000 << true << "1000" << 401 << -1 << 1000 << false;
}

void TestDialogs::factoryWrites()
{
    QFETCH(QString, field);
    QFETCH(int, shared);
    QFETCH(bool, retype);
    QFETCH(QString, typed);
    QFETCH(int, reg);
    QFETCH(int, written);
    QFETCH(int, sharedAfter);
    QFETCH(bool, refused);

    MessageBoxCatcher boxes;
    qint32 &value = field == QLatin1String("m_chnum") ? g_chnum : g_boteErr;
    const qint32 otherBefore = field == QLatin1String("m_chnum") ? 9 : 2;
    qint32 &other = field == QLatin1String("m_chnum") ? g_boteErr : g_chnum;
    value = shared;
    other = otherBefore;

    factory dialog;
    showActive(&dialog);
    QSignalSpy writes(&dialog, &factory::write_signal);
    // The shared value must still hold the old value while the write goes out.
    qint32 sharedDuringWrite = -1;
    connect(&dialog, &factory::write_signal, this, [&] { sharedDuringWrite = value; });
    auto *edit = dialog.findChild<QLineEdit *>(field);
    edit->setFocus();
    QVERIFY(edit->hasFocus());
    const QString shown = edit->text();
    if (retype) {
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, typed);
    }

    // Return finishes the edit and also closes the dialog, unless it refused
    // the text; the focus leaving the field on closing finishes it once more,
    // which must not write again.
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(dialog.isVisible(), refused);
    dialog.close();

    QCOMPARE(writes.count(), written < 0 ? 0 : 1);
    if (written >= 0) {
        QCOMPARE(writes.first(), (QList<QVariant> { reg, written }));
        QCOMPARE(sharedDuringWrite, shared);
    }
    QCOMPARE(value, sharedAfter);
    QCOMPARE(other, otherBefore);
    QCOMPARE(edit->text(), retype ? typed : shown);
    QCOMPARE(boxes.titles.size(), refused ? 1 : 0);
    QCOMPARE(edit->styleSheet().isEmpty(), !refused);
}

void TestDialogs::factoryExitWritesPendingEdit()
{
    g_boteErr = 3;
    factory dialog;
    showActive(&dialog);
    QSignalSpy writes(&dialog, &factory::write_signal);
    auto *edit = dialog.findChild<QLineEdit *>(QStringLiteral("boteErr"));
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("7"));
    QCOMPARE(writes.count(), 0); // typing alone writes nothing

    QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("pushButton")), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(writes.count(), 1);
    QCOMPARE(writes.first(), (QList<QVariant> { 401, 7 }));
    QCOMPARE(g_boteErr, 7);
}

void TestDialogs::factoryWritesReachLockRelay()
{
    g_chnum = 22;
    lock gate;
    showActive(&gate);
    QSignalSpy relayed(&gate, &lock::write_signal);
    QTest::keyClicks(gate.findChild<QLineEdit *>(QStringLiteral("password")), QStringLiteral("tqvr4172"));
    QTest::mouseClick(gate.findChild<QPushButton *>(QStringLiteral("ok")), Qt::LeftButton);
    auto *dialog = gate.findChild<factory *>();
    QVERIFY(dialog);
    QVERIFY(QTest::qWaitForWindowActive(dialog));

    // The lock dialog is hidden by now and still passes every write on.
    auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("m_chnum"));
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("8"));
    QTest::keyClick(edit, Qt::Key_Return);
    QVERIFY(!gate.isVisible());
    QCOMPARE(relayed.count(), 1);
    QCOMPARE(relayed.first(), (QList<QVariant> { 396, 8 }));
    QCOMPARE(g_chnum, 8);
}

void TestDialogs::hiddenEntry_data()
{
    QTest::addColumn<int>("clicksBeforeTick");
    QTest::addColumn<int>("clicksAfterTick");
    QTest::addColumn<int>("dialogs");

    QTest::newRow("two") << 2 << 0 << 0;
    QTest::newRow("three") << 3 << 0 << 1;
    QTest::newRow("ten") << 10 << 0 << 1;
    QTest::newRow("two, tick, one") << 2 << 1 << 0;
    QTest::newRow("three, tick, three") << 3 << 3 << 2;
    QTest::newRow("259 in one second") << 259 << 0 << 1;
    QTest::newRow("600 in one second") << 600 << 0 << 1;
}

void TestDialogs::hiddenEntry()
{
    QFETCH(int, clicksBeforeTick);
    QFETCH(int, clicksAfterTick);
    QFETCH(int, dialogs);

    Widget window;
    for (int i = 0; i < clicksBeforeTick; ++i)
        QVERIFY(QMetaObject::invokeMethod(&window, "on_pushButton_3_clicked"));
    QVERIFY(QMetaObject::invokeMethod(&window, "timeOut1S"));
    for (int i = 0; i < clicksAfterTick; ++i)
        QVERIFY(QMetaObject::invokeMethod(&window, "on_pushButton_3_clicked"));

    const auto opened = window.findChildren<lock *>();
    QCOMPARE(opened.size(), dialogs);
    for (lock *dialog : opened) {
        QCOMPARE(dialog->parentWidget(), &window);
        QVERIFY(dialog->isVisible());
        QVERIFY(isFramelessModal(dialog));
        // Disconnecting succeeds only if the relay to the window's write path was made.
        QVERIFY(
            QObject::disconnect(dialog, SIGNAL(write_signal(int, int)), &window, SLOT(write_slot(int, int))));
    }
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
