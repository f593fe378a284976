#ifndef METERCTL_WATCHCOMMAND_H
#define METERCTL_WATCHCOMMAND_H

#include <QCommandLineOption>
#include <QList>

class MeterLink;
class QCommandLineParser;
class QTextStream;

// meterctl watch: its options and how they become a MeterWatch and, with
// --mqtt, an MqttPublisher.
namespace WatchCommand {

QList<QCommandLineOption> options();
// The exit code; a usage problem returns -1 with the problem set.
int run(const QCommandLineParser &parser, MeterLink &link, QTextStream &out, QTextStream &err,
        QString *problem);

} // namespace WatchCommand

#endif // METERCTL_WATCHCOMMAND_H
