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

int main(int argc, char *argv[])
{
    enableHighDpiScaling();
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Runs meterconfig against the virtual instrument metersim."));
    parser.addHelpOption();
    const QCommandLineOption connectOption(QStringLiteral("connect"),
                                           QStringLiteral("Press \"启动\" at once."));
    const QCommandLineOption screenshotOption(QStringLiteral("screenshot"),
                                              QStringLiteral("Save the window to <file> and quit."),
                                              QStringLiteral("file"));
    const QCommandLineOption delayOption(QStringLiteral("after"),
                                         QStringLiteral("Take the screenshot after <ms> (default 3500)."),
                                         QStringLiteral("ms"), QStringLiteral("3500"));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Use the instrument on <port>; start no metersim."),
                                        QStringLiteral("port"));
    const QCommandLineOption recordOption(QStringLiteral("record"),
                                          QStringLiteral("Record the polls to <file> once connected."),
                                          QStringLiteral("file"));
    const QCommandLineOption trendOption(
        QStringLiteral("trend"), QStringLiteral("Open the trend window with <channels> (all, or e.g. 3,5)."),
        QStringLiteral("channels"));
    const QCommandLineOption zoomOption(
        QStringLiteral("zoom"),
        QStringLiteral("Before the screenshot, zoom the trend to the middle of "
                       "what it shows."));
    parser.addOptions(
        { connectOption, screenshotOption, delayOption, portOption, recordOption, trendOption, zoomOption });
    parser.addPositionalArgument(QStringLiteral("metersim-options"),
                                 QStringLiteral("Given to metersim, after \"--\"."),
                                 QStringLiteral("[-- options]"));
    parser.process(app);

    QProcess instrument;
    QString port = parser.value(portOption);
    if (port.isEmpty()) {
        instrument.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        instrument.start(QStringLiteral(METERSIM_PATH), parser.positionalArguments());
        if (!instrument.waitForStarted() || !instrument.waitForReadyRead(5000)) {
            std::fprintf(stderr, "metersim did not start\n");
            return 1;
        }
        port = QString::fromLocal8Bit(instrument.readLine()).trimmed();
    }

    int result = 0;
    {
        Widget window;
        auto *ports = window.findChild<QComboBox *>(QStringLiteral("serialPortCombo"));
        ports->addItem(port);
        ports->setCurrentText(port);
        window.show();

        if (parser.isSet(connectOption))
            window.findChild<QPushButton *>(QStringLiteral("pushButton"))->click();
        auto *trends = window.findChild<Trends *>();
        if (parser.isSet(recordOption)) {
            QString reason;
            if (!trends->recorder()->start(parser.value(recordOption), &reason)) {
                std::fprintf(stderr, "cannot record: %s\n", qPrintable(reason));
                return 1;
            }
        }
        QWidget *shown = &window;
        if (parser.isSet(trendOption)) {
            const QString channels = parser.value(trendOption);
            if (channels == QLatin1String("all"))
                trends->openTrend(-1);
            for (const QString &channel : channels.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                if (channel != QLatin1String("all"))
                    trends->openTrend(channel.toInt() - 1);
            }
            shown = window.findChild<TrendWindow *>();
        }
        if (parser.isSet(screenshotOption)) {
            const QString file = parser.value(screenshotOption);
            const bool zoom = parser.isSet(zoomOption);
            QTimer::singleShot(parser.value(delayOption).toInt(), shown, [shown, file, zoom]() {
                if (auto *trend = qobject_cast<TrendWindow *>(shown); trend && zoom)
                    zoomToMiddle(trend->plot());
                QTimer::singleShot(300, shown, [shown, file]() {
                    shown->grab().save(file);
                    QCoreApplication::quit();
                });
            });
        }
        result = app.exec();
    }

    if (instrument.state() != QProcess::NotRunning) {
        instrument.terminate();
        instrument.waitForFinished(2000);
    }
    return result;
}
