// Starts the tool wired to the virtual instrument, for trying it without
// hardware. The tool takes no options of its own and Linux does not list
// pseudo-terminals as serial ports, so this launcher runs metersim, puts its
// port into the window's port list and selects it.
#include "highdpi.h"
#include "widget.h"

#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

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
    parser.addOptions({ connectOption, screenshotOption, delayOption });
    parser.addPositionalArgument(QStringLiteral("metersim-options"),
                                 QStringLiteral("Given to metersim, after \"--\"."),
                                 QStringLiteral("[-- options]"));
    parser.process(app);

    QProcess instrument;
    instrument.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    instrument.start(QStringLiteral(METERSIM_PATH), parser.positionalArguments());
    if (!instrument.waitForStarted() || !instrument.waitForReadyRead(5000)) {
        std::fprintf(stderr, "metersim did not start\n");
        return 1;
    }
    const QString port = QString::fromLocal8Bit(instrument.readLine()).trimmed();

    int result = 0;
    {
        Widget window;
        auto *ports = window.findChild<QComboBox *>(QStringLiteral("serialPortCombo"));
        ports->addItem(port);
        ports->setCurrentText(port);
        window.show();

        if (parser.isSet(connectOption))
            window.findChild<QPushButton *>(QStringLiteral("pushButton"))->click();
        if (parser.isSet(screenshotOption)) {
            const QString file = parser.value(screenshotOption);
            QTimer::singleShot(parser.value(delayOption).toInt(), &window, [&window, file]() {
                window.grab().save(file);
                QCoreApplication::quit();
            });
        }
        result = app.exec();
    }

    instrument.terminate();
    instrument.waitForFinished(2000);
    return result;
}
