#include "watchcommand.h"

#include "addresslist.h"
#include "interruption.h"
#include "meterwatch.h"
#include "mqttpublisher.h"
#include "valuerows.h"

#include <QCommandLineParser>

#include <climits>
#include <cstdio>
#include <memory>
#ifdef Q_OS_UNIX
#include <unistd.h>
#else
#include <io.h>
#define isatty _isatty
#endif

namespace WatchCommand {

namespace {

QString value(const QCommandLineParser &parser, const char *name)
{
    return parser.value(QString::fromLatin1(name));
}

bool number(const QString &text, double minimum, double maximum, double *result)
{
    bool ok = false;
    *result = text.toDouble(&ok);
    return ok && *result >= minimum && *result <= maximum;
}

bool parseFormat(const QCommandLineParser &parser, MeterWatch::Options *options, QString *problem)
{
    const QString format = value(parser, "format");
    const QStringList names { "table", "csv", "jsonl", "influx" };
    if (format.isEmpty())
        options->format
            = options->outPath.isEmpty() && isatty(fileno(stdout)) ? MeterWatch::Table : MeterWatch::Csv;
    else if (names.contains(format))
        options->format = MeterWatch::Format(names.indexOf(format));
    else
        *problem = QStringLiteral("--format %1 is not table, csv, jsonl or influx").arg(format);
    return problem->isEmpty();
}

bool parseOptions(const QCommandLineParser &parser, MeterWatch::Options *options, QString *problem)
{
    double interval = 0;
    double count = 0;
    double offlineAfter = 0;
    double retry = 0;
    if (!number(value(parser, "interval"), 0.05, 86400, &interval))
        *problem = QStringLiteral("--interval %1 is not a number of seconds from 0.05 to 86400")
                       .arg(value(parser, "interval"));
    else if (!number(value(parser, "count"), 0, INT_MAX, &count) || count != int(count))
        *problem = QStringLiteral("--count %1 is not a count").arg(value(parser, "count"));
    else if (!number(value(parser, "offline-after"), 1, 1000, &offlineAfter)
             || offlineAfter != int(offlineAfter))
        *problem = QStringLiteral("--offline-after %1 is not a count from 1 to 1000")
                       .arg(value(parser, "offline-after"));
    else if (!number(value(parser, "offline-retry"), 0.05, 86400, &retry))
        *problem = QStringLiteral("--offline-retry %1 is not a number of seconds from 0.05 to 86400")
                       .arg(value(parser, "offline-retry"));
    else if (parser.isSet(QStringLiteral("addresses"))
             && !AddressList::parse(value(parser, "addresses"), &options->addresses))
        *problem = QStringLiteral("--addresses %1 is not a list of addresses 1-247 such as 2,5,7-12")
                       .arg(value(parser, "addresses"));
    if (!problem->isEmpty())
        return false;
    options->intervalMs = int(interval * 1000);
    options->count = int(count);
    options->offlineRetryMs = int(retry * 1000);
    // One meter keeps being asked every interval unless told otherwise.
    const bool offlineRule = !options->addresses.isEmpty() || parser.isSet(QStringLiteral("offline-after"));
    options->offlineAfter = offlineRule ? int(offlineAfter) : 0;
    options->outPath = value(parser, "out");
    return parseFormat(parser, options, problem);
}

std::unique_ptr<MqttPublisher> publisher(const QCommandLineParser &parser, const MeterLink &link,
                                         QString *problem)
{
    if (!parser.isSet(QStringLiteral("mqtt")))
        return nullptr;
    MqttPublisher::Options options;
    if (!MqttPublisher::parseUrl(value(parser, "mqtt"), &options.target, problem))
        return nullptr;
    options.password = qEnvironmentVariable("METERCTL_MQTT_PASSWORD");
    options.caFile = value(parser, "mqtt-cafile");
    options.topicPrefix = value(parser, "mqtt-topic");
    options.bus
        = ValueRows::busName(link.settings().portName, link.settings().tcpHost, link.settings().tcpPort);
    if (options.topicPrefix.isEmpty() || options.topicPrefix.contains(QLatin1Char('#'))
        || options.topicPrefix.contains(QLatin1Char('+'))) {
        *problem = QStringLiteral("--mqtt-topic %1 is not a topic prefix").arg(options.topicPrefix);
        return nullptr;
    }
    if (!options.target.tls && parser.isSet(QStringLiteral("mqtt-cafile"))) {
        *problem = QStringLiteral("--mqtt-cafile goes with an mqtts:// broker");
        return nullptr;
    }
    return std::make_unique<MqttPublisher>(options);
}

} // namespace

int run(const QCommandLineParser &parser, MeterLink &link, QTextStream &out, QTextStream &err,
        QString *problem)
{
    MeterWatch::Options options;
    if (!parseOptions(parser, &options, problem))
        return -1;
    // Before the publisher's thread, which must inherit the blocked signals.
    Interruption interruption;
    const std::unique_ptr<MqttPublisher> mqtt = publisher(parser, link, problem);
    if (!problem->isEmpty())
        return -1;
    QString error;
    if (mqtt && !mqtt->start(&error)) {
        err << "meterctl: " << error << Qt::endl;
        return 4;
    }
    MeterWatch watch(link, options, out, err, mqtt.get());
    return watch.run(&interruption);
}

} // namespace WatchCommand
