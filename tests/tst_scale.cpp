// Every measured value and channel-table number is shown whole at every
// display scale, font resolution and port name. The scale is fixed when the
// application starts: ctest runs this once per scale and font resolution,
// and it starts the application as the program does.
#include "highdpi.h"
#include "wholetext.h"
#include "widget.h"

#include <QApplication>
#include <QComboBox>
#include <QHelpEvent>
#include <QLineEdit>
#include <QRegularExpression>
#include <QStyle>
#include <QTabWidget>
#include <QTest>
#include <QToolTip>

#include <cmath>

namespace {

// The value fields, then the three tables of numbers with their widest text.
const QStringList FieldNames = { "^ch\\d+LineE", "^m_sc\\d+$", "^m_psl\\d+$", "^m_psh\\d+$" };
const QStringList TableTexts = { "", "-3276.8", "-32768", "-32768" };

// Whole text at a legible size, or the sign where signAllowed.
QString fault(const QLineEdit *edit, bool signAllowed)
{
    // QLineEdit scrolls, hiding the first characters, once the text, one
    // pixel and the cursor take more than the room it has.
    const int needed = int(std::ceil(QFontMetricsF(edit->font()).horizontalAdvance(edit->text()))) + 1
        + edit->style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, edit);
    const QString field = edit->objectName() + " \"" + edit->text() + "\": ";
    if (WholeTextFitter::shownText(edit) == WholeTextFitter::cannotFitSign())
        return signAllowed ? QString() : field + "the can't-fit sign";
    if (needed > WholeTextFitter::textRoom(edit))
        return field + QStringLiteral("cut, %1 px in %2").arg(needed).arg(WholeTextFitter::textRoom(edit));
    if (edit->font().pointSizeF() < WholeTextFitter::LegiblePointSize && !signAllowed)
        return field + QString::number(edit->font().pointSizeF()) + " pt";
    return QString();
}

// Each value in turn in every value field, the widest numbers in the tables.
QStringList faults(QWidget *window, bool signAllowed)
{
    QStringList found;
    const QStringList texts = { "-3276.8", "-1000.5", "3276.7", "0.0" };
    const auto values = window->findChildren<QLineEdit *>(QRegularExpression(FieldNames.first()));
    for (int turn = 0; turn < texts.size(); ++turn) {
        for (int i = 0; i < values.size(); ++i)
            values.at(i)->setText(texts.at((i + turn) % texts.size()));
        QTest::qWait(0);
        for (const QLineEdit *edit : values) {
            found << fault(edit, signAllowed);
            if (edit->font().pointSizeF() != values.first()->font().pointSizeF())
                found << edit->objectName() + " differs in size from its neighbours";
        }
    }
    for (int t = 1; t < FieldNames.size(); ++t) {
        const auto table = window->findChildren<QLineEdit *>(QRegularExpression(FieldNames.at(t)));
        window->findChild<QTabWidget *>("tabWidget_2")->setCurrentWidget(table.first()->parentWidget());
        for (QLineEdit *edit : table)
            edit->setText(TableTexts.at(t));
        QTest::qWait(0);
        for (const QLineEdit *edit : table)
            found << fault(edit, signAllowed);
    }
    found.removeAll(QString());
    return found;
}

} // namespace

class TestScale : public QObject
{
    Q_OBJECT

private slots:
    void wholeNumbers_data();
    void wholeNumbers();
};

void TestScale::wholeNumbers_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("size");
    // The last as long as metersim --link may make one.
    for (const char *port :
         { "COM3", "/dev/ttyUSB0", "/tmp/meterconfig/commissioning/plant-3/line-a/meter-0001/pty" }) {
        // narrow: fields far too narrow, as a font far larger than any here would leave them.
        for (const char *size : { "start", "minimum", "narrow" })
            QTest::addRow("%s, %s", port, size) << port << size;
    }
}

void TestScale::wholeNumbers()
{
    QFETCH(QString, port);
    QFETCH(QString, size);

    Widget window;
    window.findChild<QComboBox *>("serialPortCombo")->addItem(port);
    window.findChild<QComboBox *>("serialPortCombo")->setCurrentText(port);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    if (size == "minimum")
        window.resize(window.minimumSizeHint().width(), window.height());
    for (const QString &name : size == "narrow" ? FieldNames : QStringList()) {
        for (QLineEdit *edit : window.findChildren<QLineEdit *>(QRegularExpression(name)))
            edit->setFixedWidth(edit->minimumWidth() / 2);
    }
    const QStringList found = faults(&window, size == "narrow");
    QVERIFY2(found.isEmpty(), qPrintable(QString::number(window.width()) + " px wide:\n" + found.join('\n')));

    if (size == "narrow") {
        // The sign still tells the value where the operator points.
        QLineEdit *first = window.findChild<QLineEdit *>("ch1LineE");
        first->setText("-3276.8");
        QCOMPARE(WholeTextFitter::shownText(first), WholeTextFitter::cannotFitSign());
        QHelpEvent help(QEvent::ToolTip, first->rect().center(), first->mapToGlobal(first->rect().center()));
        QApplication::sendEvent(first, &help);
        QVERIFY2(QToolTip::text().contains("-3276.8"), qPrintable(QToolTip::text()));
    }
}

int main(int argc, char *argv[])
{
    enableHighDpiScaling();
    QApplication app(argc, argv);
    TestScale test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_scale.moc"
