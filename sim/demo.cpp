// Starts the tool wired to the virtual instrument, for trying it without
// hardware. The tool takes no options of its own and Linux does not list
// pseudo-terminals as serial ports, so this launcher runs metersim, puts its
// port into the window's port list and selects it.
#include "highdpi.h"
#include "pollrecorder.h"
#include "trends.h"
#include "trendwindow.h"
#include "widget.h"

#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_zoomer.h>

#include <cstdio>

// The middle third in time of what the shown curves hold, and the values they take there.
static void zoomToMiddle(QwtPlot *plot)
{
    QRectF all;
    for (QwtPlotItem *item : plot->itemList(QwtPlotItem::Rtti_PlotCurve)) {
        if (item->isVisible())
            all = all.united(static_cast<QwtPlotCurve *>(item)->boundingRect());
    }
    const double from = all.left() + all.width() / 3;
    const double to = all.right() - all.width() / 3;
    QRectF values;
    for (QwtPlotItem *item : plot->itemList(QwtPlotItem::Rtti_PlotCurve)) {
        auto *curve = static_cast<QwtPlotCurve *>(item);
        for (size_t i = 0; curve->isVisible() && i < curve->dataSize(); ++i) {
            const QPointF point = curve->sample(i);
            if (point.x() >= from && point.x() <= to)
                values = values.united(QRectF(point, QSizeF(1e-9, 1e-9)));
        }
    }
    const double margin = std::max(values.height() * 0.2, 0.5);
    if (auto *zoomer = plot->canvas()->findChild<QwtPlotZoomer *>())
        zoomer->zoom(QRectF(from, values.top() - margin, to - from, values.height() + 2 * margin));
}

namespace {

struct DemoOptions
{
    QCommandLineOption connect { QStringLiteral("connect"), QStringLiteral("Press \"启动\" at once.") };
    QCommandLineOption screenshot { QStringLiteral("screenshot"),
                                    QStringLiteral("Save the window to <file> and quit."),
                                    QStringLiteral("file") };
    QCommandLineOption delay { QStringLiteral("after"),
                               QStringLiteral("Take the screenshot after <ms> (default 3500)."),
                               QStringLiteral("ms"), QStringLiteral("3500") };
    QCommandLineOption port { QStringLiteral("port"),
                              QStringLiteral("Use the instrument on <port>; start no metersim."),
                              QStringLiteral("port") };
    QCommandLineOption record { QStringLiteral("record"),
                                QStringLiteral("Record the polls to <file> once connected."),
                                QStringLiteral("file") };
    QCommandLineOption trend { QStringLiteral("trend"),
                               QStringLiteral("Open the trend window with <channels> (all, or e.g. 3,5)."),
                               QStringLiteral("channels") };
    QCommandLineOption zoom { QStringLiteral("zoom"),
                              QStringLiteral(
                                  "Before the screenshot, zoom the trend to the middle of what it shows.") };

    void addTo(QCommandLineParser &parser) const
    {
        parser.setApplicationDescription(
            QStringLiteral("Runs meterconfig against the virtual instrument metersim."));
        parser.addHelpOption();
        parser.addOptions({ connect, screenshot, delay, port, record, trend, zoom });
        parser.addPositionalArgument(QStringLiteral("metersim-options"),
                                     QStringLiteral("Given to metersim, after \"--\"."),
                                     QStringLiteral("[-- options]"));
    }
};

// metersim's port, once it has told it; empty if it did not start.
QString startInstrument(QProcess &instrument, const QStringList &arguments)
{
    instrument.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    instrument.start(QStringLiteral(METERSIM_PATH), arguments);
    if (!instrument.waitForStarted() || !instrument.waitForReadyRead(5000))
        return QString();
    return QString::fromLocal8Bit(instrument.readLine()).trimmed();
}

// channels: "all", or channel numbers separated by commas.
QWidget *openTrends(Trends *trends, const QString &channels)
{
    for (const QString &channel : channels.split(QLatin1Char(','), Qt::SkipEmptyParts))
        trends->openTrend(channel == QLatin1String("all") ? -1 : channel.toInt() - 1);
    return trends->parent()->findChild<TrendWindow *>();
}

void takeScreenshotLater(QWidget *shown, const QString &file, int delayMs, bool zoom)
{
    QTimer::singleShot(delayMs, shown, [shown, file, zoom]() {
        if (auto *trend = qobject_cast<TrendWindow *>(shown); trend && zoom)
            zoomToMiddle(trend->plot());
        QTimer::singleShot(300, shown, [shown, file]() {
            shown->grab().save(file);
            QCoreApplication::quit();
        });
    });
}

// Shows the window on port, does what the options ask, and runs it.
int runWindow(QApplication &app, const QCommandLineParser &parser, const DemoOptions &options,
              const QString &port)
{
    Widget window;
    auto *ports = window.findChild<QComboBox *>(QStringLiteral("serialPortCombo"));
    ports->addItem(port);
    ports->setCurrentText(port);
    window.show();

    if (parser.isSet(options.connect))
        window.findChild<QPushButton *>(QStringLiteral("pushButton"))->click();
    auto *trends = window.findChild<Trends *>();
    QString reason;
    if (parser.isSet(options.record) && !trends->recorder()->start(parser.value(options.record), &reason)) {
        std::fprintf(stderr, "cannot record: %s\n", qPrintable(reason));
        return 1;
    }
    QWidget *shown = parser.isSet(options.trend) ? openTrends(trends, parser.value(options.trend)) : &window;
    if (parser.isSet(options.screenshot))
        takeScreenshotLater(shown, parser.value(options.screenshot), parser.value(options.delay).toInt(),
                            parser.isSet(options.zoom));
    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    enableHighDpiScaling();
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const DemoOptions options;
    options.addTo(parser);
    parser.process(app);

    QProcess instrument;
    QString port = parser.value(options.port);
    if (port.isEmpty()) {
        port = startInstrument(instrument, parser.positionalArguments());
        if (port.isEmpty()) {
            std::fprintf(stderr, "metersim did not start\n");
            return 1;
        }
    }
    const int result = runWindow(app, parser, options, port);
    if (instrument.state() != QProcess::NotRunning) {
        instrument.terminate();
        instrument.waitForFinished(2000);
    }
    return result;
}
