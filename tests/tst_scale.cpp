// Every measured value and channel-table number is shown whole at every
// display scale, font resolution and port name. The scale is fixed when the
// application starts, so each row runs the window in a process of its own,
// started as the program starts it.
#include "highdpi.h"
#include "wholetext.h"
#include "widget.h"

#include <QApplication>
#include <QComboBox>
#include <QHelpEvent>
#include <QLineEdit>
#include <QProcess>
#include <QSet>
#include <QStyle>
#include <QTabWidget>
#include <QTest>
#include <QToolTip>

#include <cmath>
#include <cstdio>

namespace {

const char ChildVariable[] = "METERCONFIG_SCALE_CHILD";

// A pseudo-terminal link of 60 characters, as metersim --link makes them.
const QString LongPortName = QStringLiteral("/tmp/meterconfig/commissioning/plant-3/line-a/meter-0001/pty");

// Why a field does not show its whole text, or nothing if it does.
QString cutText(const QLineEdit *edit, bool signAllowed)
{
    const QString where = edit->objectName() + QStringLiteral(" \"") + edit->text() + QStringLiteral("\": ");
    if (WholeTextFitter::shownText(edit) == WholeTextFitter::cannotFitSign())
        return signAllowed ? QString() : where + QStringLiteral("the can't-fit sign in a window with room");
    // QLineEdit scrolls, hiding the first characters, once the text, one
    // pixel and the cursor take more than the room it has.
    const int cursor = edit->style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, edit);
    const int needed
        = int(std::ceil(QFontMetricsF(edit->font()).horizontalAdvance(edit->text()))) + 1 + cursor;
    const int room = WholeTextFitter::textRoom(edit);
    if (needed > room)
        return where + QStringLiteral("cut, %1 px in %2 px").arg(needed).arg(room);
    if (edit->font().pointSizeF() < WholeTextFitter::LegiblePointSize && !signAllowed)
        return where + QStringLiteral("%1 pt").arg(edit->font().pointSizeF());
    return QString();
}

QVector<QLineEdit *> fields(const QWidget *window, const QString &pattern)
{
    QVector<QLineEdit *> found;
    for (int channel = 1; channel <= 22; ++channel)
        found << window->findChild<QLineEdit *>(channel == 1 && pattern.startsWith(QLatin1String("ch"))
                                                    ? QStringLiteral("ch1LineE")
                                                    : pattern.arg(channel));
    return found;
}

// The window as it stands, with each value of the list in turn in every value
// field and the widest numbers in the channel tables.
QStringList checkWindow(QWidget *window, bool signAllowed)
{
    QStringList faults;
    const QVector<QLineEdit *> values = fields(window, QStringLiteral("ch%1LineEdit"));
    const QStringList texts = { "-3276.8", "-1000.5", "3276.7", "0.0" };
    for (int turn = 0; turn < texts.size(); ++turn) {
        for (int i = 0; i < values.size(); ++i)
            values.at(i)->setText(texts.at((i + turn) % texts.size()));
        QTest::qWait(0);
        QSet<qreal> sizes;
        for (const QLineEdit *edit : values) {
            faults << cutText(edit, signAllowed);
            sizes << edit->font().pointSizeF();
        }
        if (sizes.size() != 1)
            faults << QStringLiteral("the value fields have %1 font sizes").arg(sizes.size());
    }
    auto *tables = window->findChild<QTabWidget *>(QStringLiteral("tabWidget_2"));
    const QStringList tableText = { "-3276.8", "-32768", "-32768" };
    const QStringList tablePattern = { "m_sc%1", "m_psl%1", "m_psh%1" };
    for (int t = 0; t < tablePattern.size(); ++t) {
        const QVector<QLineEdit *> table = fields(window, tablePattern.at(t));
        tables->setCurrentWidget(table.first()->parentWidget());
        for (QLineEdit *edit : table)
            edit->setText(tableText.at(t));
        QTest::qWait(0);
        for (const QLineEdit *edit : table)
            faults << cutText(edit, signAllowed);
    }
    faults.removeAll(QString());
    return faults;
}

// A field showing the sign still tells its value where the operator points.
QString checkSignToolTip(QWidget *window)
{
    for (QLineEdit *edit : fields(window, QStringLiteral("ch%1LineEdit"))) {
        if (WholeTextFitter::shownText(edit) != WholeTextFitter::cannotFitSign())
            continue;
        QHelpEvent help(QEvent::ToolTip, edit->rect().center(), edit->mapToGlobal(edit->rect().center()));
        QApplication::sendEvent(edit, &help);
        if (!QToolTip::text().contains(edit->text()))
            return edit->objectName()
                + QStringLiteral(": the tooltip \"%1\" lacks the value").arg(QToolTip::text());
        return QString();
    }
    return QStringLiteral("no value field shows the sign in a window far too narrow");
}

// The window at its start size, at its minimum width and with narrower fields,
// for each port name; one line per fault on standard output.
int runWindows()
{
    QStringList faults;
    for (const QString &port : { QStringLiteral("COM3"), QStringLiteral("/dev/ttyUSB0"), LongPortName }) {
        Widget window;
        auto *ports = window.findChild<QComboBox *>(QStringLiteral("serialPortCombo"));
        ports->addItem(port);
        ports->setCurrentText(port);
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            return 2;
        const QString start
            = QStringLiteral("%1, start size %2x%3: ").arg(port).arg(window.width()).arg(window.height());
        for (const QString &fault : checkWindow(&window, false))
            faults << start + fault;

        window.resize(window.minimumSizeHint().width(), window.height());
        QTest::qWait(0);
        const QString narrowest = QStringLiteral("%1, minimum width %2: ").arg(port).arg(window.width());
        for (const QString &fault : checkWindow(&window, false))
            faults << narrowest + fault;

        // As a font far larger than any here would leave them.
        for (const char *pattern : { "ch%1LineEdit", "m_sc%1", "m_psl%1", "m_psh%1" }) {
            for (QLineEdit *edit : fields(&window, QLatin1String(pattern))) {
                const int room = edit->minimumWidth();
                edit->setMinimumWidth(0);
                edit->setMaximumWidth(room / 2);
            }
        }
        QTest::qWait(0);
        const QString forced = port + QStringLiteral(", fields of half their room: ");
        QStringList forcedFaults = checkWindow(&window, true) << checkSignToolTip(&window);
        forcedFaults.removeAll(QString());
        for (const QString &fault : forcedFaults)
            faults << forced + fault;
    }
    faults.removeAll(QString());
    for (const QString &fault : qAsConst(faults))
        std::printf("%s\n", qPrintable(fault));
    return faults.isEmpty() ? 0 : 1;
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
    QTest::addColumn<QString>("scale");
    QTest::addColumn<QString>("fontDpi");
    for (const char *scale : { "1", "1.25", "1.5", "2" }) {
        for (const char *dpi : { "96", "120", "144", "192" })
            QTest::addRow("scale %s, font dpi %s", scale, dpi) << scale << dpi;
    }
}

void TestScale::wholeNumbers()
{
    QFETCH(QString, scale);
    QFETCH(QString, fontDpi);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(ChildVariable, QStringLiteral("1"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QT_SCALE_FACTOR"), scale);
    environment.insert(QStringLiteral("QT_FONT_DPI"), fontDpi);
    QProcess child;
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    QVERIFY(child.waitForFinished(60000));
    const QByteArray faults = child.readAllStandardOutput();
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
             (faults + child.readAllStandardError()).constData());
}

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsSet(ChildVariable)) {
        // Only the faults reach standard output; the window's trace does not.
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
        enableHighDpiScaling();
        QApplication app(argc, argv);
        return runWindows();
    }
    QCoreApplication app(argc, argv);
    TestScale test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_scale.moc"
