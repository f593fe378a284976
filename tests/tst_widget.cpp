// Start-up state and the enabling of controls by operating mode.
#include "portlist.h"
#include "widget.h"
#include "windowprobe.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#ifdef Q_OS_WIN
#include <windows.h>

#include <dbt.h>

#include <cstddef>
#include <cwchar>
#include <functional>
#include <vector>
#endif

namespace {

struct Enabled
{
    bool lineSettings;
    bool start;
    bool stop;
    bool hidden;
    bool debug;
};

} // namespace

class TestAccess
{
public:
    static const QVector<QLineEdit *> &values(const Widget &w) { return w.m_valueEdits; }
    static const QVector<QLineEdit *> &corrections(const Widget &w) { return w.m_scEdits; }
    static const QVector<QLineEdit *> &lows(const Widget &w) { return w.m_pslEdits; }
    static const QVector<QLineEdit *> &highs(const Widget &w) { return w.m_pshEdits; }
    static const QVector<QComboBox *> &sensors(const Widget &w) { return w.m_snCombos; }
#ifdef Q_OS_WIN
    static void listPorts(Widget &w, const QStringList &names)
    {
        w.m_portNames = [names] {
            return names;
        };
    }
    static void deliver(Widget &w, MSG &message)
    {
        long result = 0;
        w.nativeEvent("windows_generic_MSG", &message, &result);
    }
#endif
};

class TestWidget : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startUpState();
    void idleMarkerOncePerEntry();
    void channelTables_data();
    void channelTables();
    void comboKeepsFirstArrivalCurrent();
#ifdef Q_OS_WIN
    void deviceChange_data();
    void deviceChange();
#endif

private:
    void checkEnabled(const Enabled &expected);

    Widget *m_window = nullptr;
    DebugMessages *m_messages = nullptr;
};

void TestWidget::init()
{
    m_messages = new DebugMessages;
    m_window = new Widget;
}

void TestWidget::cleanup()
{
    delete m_window;
    m_window = nullptr;
    delete m_messages;
    m_messages = nullptr;
}

void TestWidget::checkEnabled(const Enabled &expected)
{
    for (const char *name : { "serialPortCombo", "baudRateCombo", "jiaoyanCombo", "stopbitCombo" })
        QCOMPARE(m_window->findChild<QWidget *>(name)->isEnabled(), expected.lineSettings);
    QCOMPARE(m_window->findChild<QWidget *>("pushButton")->isEnabled(), expected.start);
    QCOMPARE(m_window->findChild<QWidget *>("pushButton_2")->isEnabled(), expected.stop);
    QCOMPARE(m_window->findChild<QWidget *>("pushButton_3")->isEnabled(), expected.hidden);
    QCOMPARE(m_window->findChild<QWidget *>("debugBt")->isEnabled(), expected.debug);
    // The modes never touch the parameter group, the tables or the console.
    for (const char *name : { "m_addrLineEdit", "readBt", "writeBt", "readChBt", "writeChBt", "copyChBt",
                              "sendLineEdit", "sendBt", "clearBt", "m_sn1", "m_psh22" })
        QVERIFY2(m_window->findChild<QWidget *>(name)->isEnabled(), name);
}

void TestWidget::startUpState()
{
    QCOMPARE(m_window->findChild<QPushButton *>("debugBt")->text(), QStringLiteral("开始调试"));
    QCOMPARE(m_window->findChild<QTabWidget *>("tabWidget")->currentIndex(), 0);
    QCOMPARE(m_window->findChild<QTabWidget *>("tabWidget_2")->currentIndex(), 0);
    QCOMPARE(m_window->findChild<QComboBox *>("baudRateCombo")->currentText(), QStringLiteral("115200"));
    QCOMPARE(m_window->findChild<QComboBox *>("baudRateCombo")->currentIndex(), 7);
    QCOMPARE(m_window->findChild<QComboBox *>("jiaoyanCombo")->currentText(), QStringLiteral("无校验"));
    QCOMPARE(m_window->findChild<QComboBox *>("stopbitCombo")->currentText(), QStringLiteral("1位"));
    QCOMPARE(m_window->findChild<QComboBox *>("m_baudCombo")->currentText(), QStringLiteral("4800"));
    QVERIFY(pollTimer(m_window));
    QVERIFY(!pollTimer(m_window)->isActive());
    QVERIFY(!pollTimer(m_window)->isSingleShot());
    checkEnabled({ true, true, false, false, false });
}

void TestWidget::idleMarkerOncePerEntry()
{
    QCOMPARE(DebugMessages::list, QStringList { "8" });

    // "停止" enters idle mode once, whatever the link's state.
    QTest::mouseClick(m_window->findChild<QPushButton *>("pushButton_2"), Qt::LeftButton);
    QCOMPARE(DebugMessages::list, QStringList { "8" }); // disabled in idle mode: no click reaches it
    QMetaObject::invokeMethod(m_window, "on_pushButton_2_clicked");
    QCOMPARE(DebugMessages::list, (QStringList { "8", "8" }));
}

void TestWidget::channelTables_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("correction");
    QTest::addColumn<QString>("low");
    QTest::addColumn<QString>("high");
    QTest::addColumn<QString>("sensor");

    QTest::newRow("channel 1") << 0 << "ch1LineE"
                               << "m_sc1"
                               << "m_psl1"
                               << "m_psh1"
                               << "m_sn1";
    QTest::newRow("channel 2") << 1 << "ch2LineEdit"
                               << "m_sc2"
                               << "m_psl2"
                               << "m_psh2"
                               << "m_sn2";
    QTest::newRow("channel 12") << 11 << "ch12LineEdit"
                                << "m_sc12"
                                << "m_psl12"
                                << "m_psh12"
                                << "m_sn12";
    QTest::newRow("channel 22") << 21 << "ch22LineEdit"
                                << "m_sc22"
                                << "m_psl22"
                                << "m_psh22"
                                << "m_sn22";
}

void TestWidget::channelTables()
{
    QFETCH(int, entry);
    QFETCH(QString, value);
    QFETCH(QString, correction);
    QFETCH(QString, low);
    QFETCH(QString, high);
    QFETCH(QString, sensor);

    for (int size : { TestAccess::values(*m_window).size(), TestAccess::corrections(*m_window).size(),
                      TestAccess::lows(*m_window).size(), TestAccess::highs(*m_window).size(),
                      TestAccess::sensors(*m_window).size() })
        QCOMPARE(size, 22);
    QCOMPARE(TestAccess::values(*m_window).at(entry)->objectName(), value);
    QCOMPARE(TestAccess::corrections(*m_window).at(entry)->objectName(), correction);
    QCOMPARE(TestAccess::lows(*m_window).at(entry)->objectName(), low);
    QCOMPARE(TestAccess::highs(*m_window).at(entry)->objectName(), high);
    QCOMPARE(TestAccess::sensors(*m_window).at(entry)->objectName(), sensor);
}

void TestWidget::comboKeepsFirstArrivalCurrent()
{
    // The port list is filled by insertion; which entry stays current is the
    // combo box's own doing, and must match what the ordering unit predicts.
    QComboBox combo;
    QStringList listed;
    for (const char *name : { "COM3", "COM10", "COM1" }) {
        const int at = PortList::insertionIndex(listed, name);
        listed.insert(at, name);
        combo.insertItem(at, name);
    }
    QCOMPARE(combo.currentText(), QStringLiteral("COM3"));
    QCOMPARE(combo.currentIndex(), PortList::order({ "COM3", "COM10", "COM1" }).current);
}

#ifdef Q_OS_WIN
void TestWidget::deviceChange_data()
{
    QTest::addColumn<quintptr>("event");
    QTest::addColumn<int>("deviceType");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<int>("idleEntries");

    QTest::newRow("COM10 arrives") << quintptr(DBT_DEVICEARRIVAL) << int(DBT_DEVTYP_PORT) << "COM10"
                                   << QStringList { "COM3", "COM1", "COM10" }
                                   << QStringList { "COM1", "COM10", "COM3" } << 0;
    QTest::newRow("the chosen port goes") << quintptr(DBT_DEVICEREMOVECOMPLETE) << int(DBT_DEVTYP_PORT)
                                          << "COM3" << QStringList { "COM1" } << QStringList { "COM1" } << 1;
    QTest::newRow("another port goes") << quintptr(DBT_DEVICEREMOVECOMPLETE) << int(DBT_DEVTYP_PORT) << "COM1"
                                       << QStringList { "COM3" } << QStringList { "COM3" } << 0;
    QTest::newRow("a volume arrives")
        << quintptr(DBT_DEVICEARRIVAL) << int(DBT_DEVTYP_VOLUME) << "COM10" << QStringList { "COM3", "COM10" }
        << QStringList { "COM1", "COM3" } << 0;
}

// The structures and the message as the system hands them to the window.
void TestWidget::deviceChange()
{
    QFETCH(quintptr, event);
    QFETCH(int, deviceType);
    QFETCH(QString, name);
    QFETCH(QStringList, present);
    QFETCH(QStringList, listed);
    QFETCH(int, idleEntries);

    const auto deliver = [this](quintptr wParam, DWORD type, const QString &portName) {
        const std::wstring wide = portName.toStdWString();
        const size_t size = offsetof(DEV_BROADCAST_PORT_W, dbcp_name) + (wide.size() + 1) * sizeof(wchar_t);
        std::vector<char> bytes(size + sizeof(DEV_BROADCAST_VOLUME));
        auto *port = reinterpret_cast<DEV_BROADCAST_PORT_W *>(bytes.data());
        port->dbcp_size = DWORD(size);
        port->dbcp_devicetype = type;
        std::wcscpy(port->dbcp_name, wide.c_str());
        MSG message {};
        message.message = WM_DEVICECHANGE;
        message.wParam = wParam;
        message.lParam = reinterpret_cast<LPARAM>(port);
        TestAccess::deliver(*m_window, message);
    };
    auto *combo = m_window->findChild<QComboBox *>("serialPortCombo");
    TestAccess::listPorts(*m_window, { "COM3", "COM1" });
    deliver(DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT, "COM1");
    combo->setCurrentText("COM3");
    const int entriesBefore = DebugMessages::list.count(QStringLiteral("8"));

    TestAccess::listPorts(*m_window, present);
    deliver(event, DWORD(deviceType), name);
    QStringList shown;
    for (int i = 0; i < combo->count(); ++i)
        shown << combo->itemText(i);
    QCOMPARE(shown, listed);
    QCOMPARE(DebugMessages::list.count(QStringLiteral("8")) - entriesBefore, idleEntries);
    if (listed.contains(QStringLiteral("COM3")))
        QCOMPARE(combo->currentText(), QStringLiteral("COM3"));
}
#endif

QTEST_MAIN(TestWidget)
#include "tst_widget.moc"
