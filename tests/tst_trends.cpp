// The trend window and the recording, against the virtual instrument: what
// the plot draws after each poll, and what the file holds.
#include "e2erig.h"
#include "pollrecorder.h"
#include "registercodec.h"
#include "trends.h"
#include "trendwindow.h"
#include "valuerows.h"

#include <QGridLayout>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>

#include <qwt_plot.h>
#include <qwt_plot_curve.h>

namespace {

// The value polled channel c the i-th time, in tenths: from the fourth poll
// on, within what the curves hold, so that those polls only add segments.
qint16 valueAt(int poll, int channel)
{
    return qint16(-500 + 37 * channel + 11 * (poll % 3));
}

QVector<QwtPlotCurve *> curves(const TrendWindow *trend)
{
    QVector<QwtPlotCurve *> all;
    for (QwtPlotItem *item : trend->plot()->itemList(QwtPlotItem::Rtti_PlotCurve))
        all << static_cast<QwtPlotCurve *>(item);
    return all;
}

// The canvas as the window system has it, not painted again for the picture.
QImage shownCanvas(const TrendWindow *trend)
{
    const QWidget *canvas = trend->plot()->canvas();
    const QPoint at = canvas->mapTo(trend, QPoint(0, 0));
    return trend->screen()
        ->grabWindow(trend->winId(), at.x(), at.y(), canvas->width(), canvas->height())
        .toImage();
}

} // namespace

class TestTrends : public E2ETestCase
{
    Q_OBJECT

private slots:
    void plotsEachPoll_data();
    void plotsEachPoll();
    void recordingSurvivesKill();
    void unwritableFileIsRefused();

private:
    // Polls once with the values of poll i on every channel; silent: the instrument does not answer.
    void poll(int i, bool silent);
};

void TestTrends::poll(int i, bool silent)
{
    for (int c = 0; c < 22; ++c)
        m_rig->instrument.setInput(c, valueAt(i, c));
    VirtualInstrument::Faults faults;
    faults.silent = silent;
    m_rig->instrument.setFaults(faults);
    const int before = m_rig->instrument.requests().size();
    m_rig->tick();
    QVERIFY(m_rig->waitForRequests(before + 1));
    // Past the reply or the client's timeout, and a pixel column further.
    m_rig->settle(silent ? 350 : 150);
}

void TestTrends::plotsEachPoll_data()
{
    QTest::addColumn<QString>("way");
    QTest::addColumn<int>("channelCount");
    QTest::addColumn<QString>("silentPolls");
    QTest::addColumn<QVector<int>>("shown");
    QTest::addColumn<QVector<int>>("runStarts");

    QTest::newRow("double-click on the value of channel 3")
        << "ch3LineEdit" << 22 << "" << QVector<int> { 2 } << QVector<int> { 0 };
    QTest::newRow("double-click on its label")
        << "label" << 22 << "" << QVector<int> { 2 } << QVector<int> { 0 };
    QTest::newRow("Ctrl+T: the channels the instrument has")
        << "Ctrl+T" << 5 << "" << QVector<int> { 0, 1, 2, 3, 4 } << QVector<int> { 0 };
    QTest::newRow("a silent instrument leaves a gap")
        << "ch3LineEdit" << 22 << "2" << QVector<int> { 2 } << QVector<int> { 0, 2 };
}

void TestTrends::plotsEachPoll()
{
    QFETCH(QString, way);
    QFETCH(int, channelCount);
    QFETCH(QString, silentPolls);
    QFETCH(QVector<int>, shown);
    QFETCH(QVector<int>, runStarts);

    m_rig->instrument.setHolding(RegisterCodec::ChannelCountRegister, quint16(channelCount));
    m_rig->window->show();
    QApplication::setActiveWindow(m_rig->window);
    QVERIFY(m_rig->connectQuietly());
    m_rig->client()->setTimeout(100);
    m_rig->client()->setNumberOfRetries(0);

    auto *field = m_rig->find<QLineEdit>("ch3LineEdit");
    if (way == QLatin1String("Ctrl+T")) {
        QTest::keyClick(field, Qt::Key_T, Qt::ControlModifier);
    } else if (way == QLatin1String("label")) {
        auto *grid = m_rig->find<QGridLayout>("gridLayout_3");
        int row, column, rows, columns;
        grid->getItemPosition(grid->indexOf(field), &row, &column, &rows, &columns);
        QTest::mouseDClick(grid->itemAtPosition(row, column - 1)->widget(), Qt::LeftButton);
    } else {
        QTest::mouseDClick(field, Qt::LeftButton);
    }
    auto *trend = m_rig->window->findChild<TrendWindow *>();
    QVERIFY(trend && trend->isVisible());
    // A minute across the window: every poll in a pixel column of its own.
    trend->findChild<QComboBox *>()->setCurrentIndex(0);

    const QStringList silent = silentPolls.split(QLatin1Char(','), Qt::SkipEmptyParts);
    constexpr int Polls = 6;
    for (int i = 0; i < Polls; ++i)
        poll(i, silent.contains(QString::number(i)));

    const QVector<QwtPlotCurve *> all = curves(trend);
    QCOMPARE(all.size(), 22);
    for (int c = 0; c < 22; ++c) {
        QwtPlotCurve *curve = all.at(c);
        QCOMPARE(curve->isVisible(), shown.contains(c));
        if (!shown.contains(c)) {
            QCOMPARE(curve->dataSize(), size_t(0));
            continue;
        }
        QVector<double> values;
        for (size_t i = 0; i < curve->dataSize(); ++i)
            values << curve->sample(i).y();
        QVector<double> expected;
        for (int i = 0; i < Polls; ++i) {
            if (!silent.contains(QString::number(i)))
                expected << double(RegisterCodec::signedTenths(quint16(valueAt(i, c))));
        }
        QCOMPARE(values, expected);
        QCOMPARE(static_cast<const TrendSeries *>(curve->data())->runStarts(), runStarts);
    }

    // What the window shows after painting poll by poll is what it shows
    // once drawn anew (at 100 %; at a fractional scale a segment may land a
    // device pixel apart).
    const QImage byPoll = shownCanvas(trend);
    trend->showChannel(-1);
    trend->plot()->canvas()->repaint();
    QCOMPARE(byPoll, shownCanvas(trend));
}

void TestTrends::recordingSurvivesKill()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("run.csv"));
    for (int c = 0; c < 22; ++c)
        m_rig->instrument.setInput(c, valueAt(0, c));
    QProcess window;
    window.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    window.start(QStringLiteral(DEMO_PATH),
                 { QStringLiteral("--port"), m_rig->instrument.portPath(), QStringLiteral("--connect"),
                   QStringLiteral("--record"), path });
    QVERIFY(window.waitForStarted());
    // The system read and three polls.
    QVERIFY(QTest::qWaitFor([this]() { return m_rig->requestsWith(ReadInput).size() >= 3; }, 10000));
    m_rig->settle(200);
    window.kill();
    QVERIFY(window.waitForFinished());
    const int polls = m_rig->requestsWith(ReadInput).size();

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY(text.endsWith('\n'));
    const QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.value(0), ValueRows::csvHeader(false));
    QCOMPARE(lines.size() - 1, polls);
    for (const QString &line : lines.mid(1)) {
        const QStringList cells = line.split(QLatin1Char(','));
        QCOMPARE(cells.size(), 24);
        QVERIFY2(QDateTime::fromString(cells.at(0), Qt::ISODateWithMs).isValid(), qPrintable(line));
        for (int c = 0; c < 22; ++c)
            QCOMPARE(cells.at(c + 1), RegisterCodec::signedTenthsText(quint16(valueAt(0, c))));
        QCOMPARE(cells.at(23), QString());
    }
}

void TestTrends::unwritableFileIsRefused()
{
    QVERIFY(m_rig->connectQuietly());
    MessageBoxCatcher boxes;
    auto *trends = m_rig->window->findChild<Trends *>();
    trends->startRecording(QStringLiteral("/dev/full"));
    QTRY_COMPARE(boxes.titles, QStringList { QStringLiteral("记录失败") });
    QVERIFY2(!boxes.informativeTexts.value(0).isEmpty(), "the reason is told");
    QVERIFY(!trends->recorder()->isRecording());

    const int before = m_rig->requestsWith(ReadInput).size();
    m_rig->instrument.setInput(0, 1234);
    m_rig->tick();
    QTRY_COMPARE(m_rig->text("ch1LineE"), QStringLiteral("123.4"));
    QCOMPARE(m_rig->requestsWith(ReadInput).size(), before + 1);
}

QTEST_MAIN(TestTrends)
#include "tst_trends.moc"
