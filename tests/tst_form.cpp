// The main window's form is a contract: the code reaches every control by
// object name, and the instrument's codes are the item positions.
#include "registercodec.h"
#include "widget.h"
#include "windowprobe.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>

namespace {

const int kGridLabels[22]
    = { 7, 8, 9, 10, 59, 60, 61, 62, 63, 64, 65, 66, 67, 68, 69, 70, 71, 72, 73, 74, 75, 76 };
const int kTab6Labels[22] = { 171, 174, 172, 178, 175, 179, 180, 169, 177, 176, 170,
                              173, 168, 167, 181, 182, 183, 184, 185, 186, 187, 188 };
const int kTab7Labels[22] = { 195, 198, 196, 202, 199, 203, 204, 193, 201, 200, 194,
                              197, 192, 191, 205, 206, 207, 208, 209, 210, 211, 212 };
const int kTab4Labels[22] = { 219, 222, 220, 226, 223, 227, 228, 217, 225, 224, 218,
                              221, 216, 215, 229, 230, 231, 232, 233, 234, 235, 236 };
const int kTab5Labels[22] = { 113, 150, 114, 154, 151, 155, 156, 111, 153, 152, 112,
                              149, 100, 96,  157, 158, 159, 160, 161, 162, 163, 164 };

QString valueFieldName(int channel)
{
    return channel == 1 ? QStringLiteral("ch1LineE") : QStringLiteral("ch%1LineEdit").arg(channel);
}

// Row and column of a widget inside the grid layout that holds it.
bool cellOf(const QWidget *w, int *row, int *column, int *rowSpan = nullptr, int *columnSpan = nullptr)
{
    const auto grids = w->window()->findChildren<QGridLayout *>();
    for (QGridLayout *grid : grids) {
        const int index = grid->indexOf(const_cast<QWidget *>(w));
        if (index < 0)
            continue;
        int rs = 0;
        int cs = 0;
        grid->getItemPosition(index, row, column, &rs, &cs);
        if (rowSpan)
            *rowSpan = rs;
        if (columnSpan)
            *columnSpan = cs;
        return true;
    }
    return false;
}

QGridLayout *gridOf(const QWidget *w)
{
    const auto grids = w->window()->findChildren<QGridLayout *>();
    for (QGridLayout *grid : grids) {
        if (grid->indexOf(const_cast<QWidget *>(w)) >= 0)
            return grid;
    }
    return nullptr;
}

} // namespace

class TestForm : public QObject
{
    Q_OBJECT

private slots:
    // The form is only read, so one window serves every row.
    void initTestCase();
    void cleanupTestCase();

    void objectsExistOnceWithClass_data();
    void objectsExistOnceWithClass();
    void measuredValueGrid_data();
    void measuredValueGrid();
    void channelPages_data();
    void channelPages();
    void hiddenButtonCell();
    void texts_data();
    void texts();
    void choiceLists_data();
    void choiceLists();
    void fonts_data();
    void fonts();
    void onlyChannelCountIsReadOnly();
    void windowGeometry();
    void fullNameOfChannelOneIsAbsent();
    void measuredGridFollowsGroupBox();

private:
    Widget *m_window = nullptr;
};

void TestForm::initTestCase()
{
    m_window = new Widget;
}

void TestForm::cleanupTestCase()
{
    delete m_window;
    m_window = nullptr;
}

void TestForm::objectsExistOnceWithClass_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");

    auto add = [](const QString &name, const char *cls) {
        QTest::newRow(qPrintable(name)) << name << cls;
    };
    for (const char *n : { "groupBox", "groupBox_2", "groupBox_3" })
        add(n, "QGroupBox");
    for (const char *n : { "tabWidget", "tabWidget_2" })
        add(n, "QTabWidget");
    for (const char *n : { "tab_2", "tab_3", "tab_4", "tab_5", "tab_6", "tab_7", "gridLayoutWidget" })
        add(n, "QWidget");
    for (const char *n : { "serialPortCombo", "baudRateCombo", "jiaoyanCombo", "stopbitCombo", "m_baudCombo",
                           "m_parityComboBox", "m_stopbitComboBox" })
        add(n, "QComboBox");
    for (const char *n : { "pushButton", "pushButton_2", "pushButton_3", "readBt", "writeBt", "readChBt",
                           "writeChBt", "copyChBt", "debugBt", "clearBt", "sendBt" })
        add(n, "QPushButton");
    for (const char *n : { "m_addrLineEdit", "m_chnum", "sendLineEdit" })
        add(n, "QLineEdit");
    for (const char *n : { "label", "label_3", "label_4", "label_6", "label_5", "label_11", "label_12",
                           "label_13", "label_15", "label_14" })
        add(n, "QLabel");
    add("textBrowser", "QTextBrowser");
    for (int ch = 1; ch <= 22; ++ch) {
        add(valueFieldName(ch), "QLineEdit");
        add(QStringLiteral("m_sn%1").arg(ch), "QComboBox");
        add(QStringLiteral("m_psl%1").arg(ch), "QLineEdit");
        add(QStringLiteral("m_psh%1").arg(ch), "QLineEdit");
        add(QStringLiteral("m_sc%1").arg(ch), "QLineEdit");
        for (const int *table : { kGridLabels, kTab6Labels, kTab7Labels, kTab4Labels, kTab5Labels })
            add(QStringLiteral("label_%1").arg(table[ch - 1]), "QLabel");
    }
}

void TestForm::objectsExistOnceWithClass()
{
    QFETCH(QString, name);
    QFETCH(QString, className);

    const auto found = m_window->findChildren<QObject *>(name);
    QCOMPARE(found.size(), 1);
    QCOMPARE(QString::fromLatin1(found.first()->metaObject()->className()), className);
}

void TestForm::measuredValueGrid_data()
{
    QTest::addColumn<int>("channel");
    for (int ch = 1; ch <= 22; ++ch)
        QTest::newRow(qPrintable(QStringLiteral("channel %1").arg(ch))) << ch;
}

void TestForm::measuredValueGrid()
{
    QFETCH(int, channel);

    auto *label = m_window->findChild<QLabel *>(QStringLiteral("label_%1").arg(kGridLabels[channel - 1]));
    auto *field = m_window->findChild<QLineEdit *>(valueFieldName(channel));
    QVERIFY(label && field);
    QCOMPARE(label->text(), QStringLiteral("%1:").arg(channel));

    auto *grid = m_window->findChild<QGridLayout *>(QStringLiteral("gridLayout_3"));
    QCOMPARE(gridOf(label), grid);
    QCOMPARE(gridOf(field), grid);
    int row = -1;
    int column = -1;
    QVERIFY(cellOf(label, &row, &column));
    QCOMPARE(row, (channel - 1) / 4);
    QCOMPARE(column, 2 * ((channel - 1) % 4));
    QVERIFY(cellOf(field, &row, &column));
    QCOMPARE(row, (channel - 1) / 4);
    QCOMPARE(column, 2 * ((channel - 1) % 4) + 1);

    QCOMPARE(label->minimumWidth(), 30);
    QCOMPARE(label->maximumWidth(), 30);
    QCOMPARE(label->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(label->alignment(), Qt::AlignRight | Qt::AlignVCenter);
    QCOMPARE(field->alignment(), Qt::AlignCenter);
    QVERIFY(field->text().isEmpty());
}

void TestForm::channelPages_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("gridName");
    QTest::addColumn<QString>("fieldPrefix");
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("labelNumber");
    QTest::addColumn<int>("labelColumn");

    const QVector<int> wide = { 0, 2, 5, 7, 10, 12 };
    const QVector<int> narrow = { 0, 2, 4, 6, 8, 10 };
    struct Page
    {
        const char *page;
        const char *grid;
        const char *prefix;
        const int *labels;
        QVector<int> columns;
    };
    const Page pages[] = {
        { "tab_6", "gridLayout_6", "m_sn", kTab6Labels, wide },
        { "tab_7", "gridLayout_2", "m_psl", kTab7Labels, narrow },
        { "tab_4", "gridLayout_8", "m_psh", kTab4Labels, wide },
        { "tab_5", "gridLayout_4", "m_sc", kTab5Labels, narrow },
    };
    for (const Page &p : pages) {
        for (int ch = 1; ch <= 22; ++ch) {
            QTest::newRow(qPrintable(QStringLiteral("%1 channel %2").arg(p.page).arg(ch)))
                << p.page << p.grid << p.prefix << ch << p.labels[ch - 1] << p.columns.at((ch - 1) % 6);
        }
    }
}

void TestForm::channelPages()
{
    QFETCH(QString, page);
    QFETCH(QString, gridName);
    QFETCH(QString, fieldPrefix);
    QFETCH(int, channel);
    QFETCH(int, labelNumber);
    QFETCH(int, labelColumn);

    auto *pageWidget = m_window->findChild<QWidget *>(page);
    auto *label = pageWidget->findChild<QLabel *>(QStringLiteral("label_%1").arg(labelNumber));
    auto *field = pageWidget->findChild<QWidget *>(fieldPrefix + QString::number(channel));
    QVERIFY(label && field);
    QCOMPARE(label->text(), QStringLiteral("%1:").arg(channel));

    auto *grid = pageWidget->findChild<QGridLayout *>(gridName);
    QVERIFY(grid);
    QCOMPARE(grid->horizontalSpacing(), 0);
    QCOMPARE(gridOf(label), grid);
    int row = -1;
    int column = -1;
    QVERIFY(cellOf(label, &row, &column));
    QCOMPARE(row, (channel - 1) / 6);
    QCOMPARE(column, labelColumn);
    QVERIFY(cellOf(field, &row, &column));
    QCOMPARE(row, (channel - 1) / 6);
    QCOMPARE(column, labelColumn + 1);

    QCOMPARE(label->minimumWidth(), 50);
    QCOMPARE(label->maximumWidth(), 30);
    QCOMPARE(label->alignment(), Qt::AlignRight | Qt::AlignVCenter);
    QCOMPARE(pageWidget->styleSheet(),
             QStringLiteral("QWidget#%1{background-color: rgb(240, 240,240 );}").arg(page));

    const QSizePolicy::Policy vertical
        = (fieldPrefix == "m_sn" && channel == 16) ? QSizePolicy::Ignored : QSizePolicy::Expanding;
    QCOMPARE(field->sizePolicy().verticalPolicy(), vertical);
}

void TestForm::hiddenButtonCell()
{
    auto *button = m_window->findChild<QPushButton *>(QStringLiteral("pushButton_3"));
    int row = -1;
    int column = -1;
    int rowSpan = 0;
    int columnSpan = 0;
    QVERIFY(cellOf(button, &row, &column, &rowSpan, &columnSpan));
    QCOMPARE(row, 5);
    QCOMPARE(column, 5);
    QCOMPARE(rowSpan, 1);
    QCOMPARE(columnSpan, 3);
    QVERIFY(button->text().isEmpty());
    QVERIFY(!button->isHidden());
    auto *grid = gridOf(button);
    QVERIFY(!grid->itemAtPosition(5, 4));
}

void TestForm::texts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");

    QTest::newRow("groupBox") << "groupBox" << QStringLiteral("端口设置");
    QTest::newRow("groupBox_2") << "groupBox_2" << QStringLiteral("仪表公共参数");
    QTest::newRow("groupBox_3") << "groupBox_3" << QStringLiteral("通道测量值");
    QTest::newRow("label") << "label" << QStringLiteral("端口号：");
    QTest::newRow("label_3") << "label_3" << QStringLiteral("波特率：");
    QTest::newRow("label_4") << "label_4" << QStringLiteral("校验位：");
    QTest::newRow("label_6") << "label_6" << QStringLiteral("停止位：");
    QTest::newRow("pushButton") << "pushButton" << QStringLiteral("启动");
    QTest::newRow("pushButton_2") << "pushButton_2" << QStringLiteral("停止");
    QTest::newRow("label_5 has no colon") << "label_5" << QStringLiteral("仪表地址/站号");
    QTest::newRow("label_11") << "label_11" << QStringLiteral("仪表波特率：");
    QTest::newRow("label_12") << "label_12" << QStringLiteral("仪表校验位：");
    QTest::newRow("label_13") << "label_13" << QStringLiteral("仪表停止位：");
    QTest::newRow("label_15 leading blank") << "label_15" << QStringLiteral(" 通道数量：");
    QTest::newRow("readBt") << "readBt" << QStringLiteral("读系统参数");
    QTest::newRow("writeBt") << "writeBt" << QStringLiteral("写系统参数");
    QTest::newRow("readChBt") << "readChBt" << QStringLiteral("读取仪表参数");
    QTest::newRow("writeChBt") << "writeChBt" << QStringLiteral("写入仪表参数");
    QTest::newRow("copyChBt") << "copyChBt" << QStringLiteral("参数复制");
    QTest::newRow("clearBt") << "clearBt" << QStringLiteral("清空数据");
    QTest::newRow("sendBt leading blank") << "sendBt" << QStringLiteral(" 发送数据");
    QTest::newRow("label_14") << "label_14" << QStringLiteral("输入数据：");
    QTest::newRow("pushButton_3 empty") << "pushButton_3" << QString();
    QTest::newRow("tab_2") << "tab_2" << QStringLiteral("通用信号");
    QTest::newRow("tab_3") << "tab_3" << QStringLiteral("调试");
    QTest::newRow("tab_6") << "tab_6" << QStringLiteral("传感器类型");
    QTest::newRow("tab_7") << "tab_7" << QStringLiteral("量程下限");
    QTest::newRow("tab_4") << "tab_4" << QStringLiteral("量程上限");
    QTest::newRow("tab_5") << "tab_5" << QStringLiteral("测量值修正");
    QTest::newRow("window") << "Widget" << QStringLiteral("Widget");
}

void TestForm::texts()
{
    QFETCH(QString, name);
    QFETCH(QString, text);

    if (name == "Widget") {
        QCOMPARE(m_window->objectName(), name);
        QCOMPARE(m_window->windowTitle(), text);
        return;
    }
    QObject *object = m_window->findChild<QObject *>(name);
    QVERIFY(object);
    if (auto *box = qobject_cast<QGroupBox *>(object)) {
        QCOMPARE(box->title(), text);
    } else if (auto *label = qobject_cast<QLabel *>(object)) {
        QCOMPARE(label->text(), text);
    } else if (auto *button = qobject_cast<QPushButton *>(object)) {
        QCOMPARE(button->text(), text);
    } else {
        auto *page = qobject_cast<QWidget *>(object);
        auto *tabs = qobject_cast<QTabWidget *>(page->parentWidget()->parentWidget());
        QVERIFY(tabs);
        QCOMPARE(tabs->tabText(tabs->indexOf(page)), text);
    }
}

void TestForm::choiceLists_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("items");

    const QStringList baud = { "4800", "9600", "14400", "19200", "28800", "38400", "57600", "115200" };
    const QStringList parity
        = { QStringLiteral("无校验"), QStringLiteral("奇校验"), QStringLiteral("偶校验") };
    const QStringList stop = { QStringLiteral("1位"), QStringLiteral("2位") };
    QTest::newRow("baudRateCombo") << "baudRateCombo" << baud;
    QTest::newRow("m_baudCombo") << "m_baudCombo" << baud;
    QTest::newRow("jiaoyanCombo") << "jiaoyanCombo" << parity;
    QTest::newRow("m_parityComboBox") << "m_parityComboBox" << parity;
    QTest::newRow("stopbitCombo") << "stopbitCombo" << stop;
    QTest::newRow("m_stopbitComboBox") << "m_stopbitComboBox" << stop;
    for (int ch = 1; ch <= 22; ++ch) {
        const QString name = QStringLiteral("m_sn%1").arg(ch);
        QTest::newRow(qPrintable(name)) << name << RegisterCodec::sensorTypeNames();
    }
}

void TestForm::choiceLists()
{
    QFETCH(QString, name);
    QFETCH(QStringList, items);

    auto *combo = m_window->findChild<QComboBox *>(name);
    QVERIFY(combo);
    QStringList shown;
    for (int i = 0; i < combo->count(); ++i)
        shown << combo->itemText(i);
    QCOMPARE(shown, items);
}

void TestForm::fonts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("pointSize");

    QTest::newRow("label_11") << "label_11" << 9;
    for (const char *n : { "readBt", "writeBt" })
        QTest::newRow(n) << n << 10;
    for (const char *n : { "label", "label_3", "label_4", "label_6", "serialPortCombo", "baudRateCombo",
                           "jiaoyanCombo", "stopbitCombo" })
        QTest::newRow(n) << n << 11;
    for (const char *n : { "pushButton", "pushButton_2" })
        QTest::newRow(n) << n << 15;
    const int standard = QFont().pointSize();
    for (int ch = 1; ch <= 22; ++ch) {
        const QString value = valueFieldName(ch);
        QTest::newRow(qPrintable(value)) << value << 18;
        for (const char *prefix : { "m_sn", "m_psl", "m_psh", "m_sc" }) {
            const QString name = QString::fromLatin1(prefix) + QString::number(ch);
            const bool plain = QString::fromLatin1(prefix) == "m_sc" && (ch == 12 || ch == 18);
            QTest::newRow(qPrintable(name)) << name << (plain ? standard : 12);
        }
    }
    for (const char *n : { "label_5", "label_12", "m_addrLineEdit", "m_chnum", "debugBt", "sendLineEdit" })
        QTest::newRow(n) << n << standard;
}

void TestForm::fonts()
{
    QFETCH(QString, name);
    QFETCH(int, pointSize);

    auto *w = m_window->findChild<QWidget *>(name);
    QVERIFY(w);
    QCOMPARE(w->font().pointSize(), pointSize);
}

void TestForm::onlyChannelCountIsReadOnly()
{
    const auto edits = m_window->findChildren<QLineEdit *>();
    QStringList readOnly;
    for (QLineEdit *edit : edits) {
        // A combo box's own editor is not part of the form.
        if (edit->isReadOnly() && !qobject_cast<QComboBox *>(edit->parentWidget()))
            readOnly << edit->objectName();
    }
    QCOMPARE(readOnly, QStringList { QStringLiteral("m_chnum") });
    auto *channelCount = m_window->findChild<QLineEdit *>(QStringLiteral("m_chnum"));
    QCOMPARE(channelCount->styleSheet(), QStringLiteral("background-color: rgb(193, 193, 193);"));
}

void TestForm::windowGeometry()
{
    Widget window;
    QCOMPARE(window.size(), QSize(990, 532));
    QCOMPARE(window.maximumHeight(), 532);
    QCOMPARE(window.maximumWidth(), QWIDGETSIZE_MAX);
    // Wider is allowed: nothing but the height is bounded.
    window.show();
    window.resize(1400, 532);
    QTRY_COMPARE(window.width(), 1400);
    QCOMPARE(window.maximumHeight(), 532);
}

void TestForm::fullNameOfChannelOneIsAbsent()
{
    QVERIFY(m_window->findChild<QLineEdit *>(QStringLiteral("ch1LineE")));
    QVERIFY(!m_window->findChild<QObject *>(QStringLiteral("ch1LineEdit")));
}

void TestForm::measuredGridFollowsGroupBox()
{
    auto *group = m_window->findChild<QGroupBox *>(QStringLiteral("groupBox_3"));
    auto *grid = m_window->findChild<QGridLayout *>(QStringLiteral("gridLayout_3"));
    QCOMPARE(group->layout(), grid);
    QCOMPARE(grid->contentsMargins(), QMargins(0, 0, 0, 0));
}

QTEST_MAIN(TestForm)
#include "tst_form.moc"
