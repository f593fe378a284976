#ifndef METERCTL_WATCHCOMMAND_H
#define METERCTL_WATCHCOMMAND_H

#include <QString>

class MeterLink;
class QCommandLineParser;
class QTextStream;

// meterctl watch: how its options (declared with the other commands') become
// a MeterWatch and, with --mqtt, an MqttPublisher.
namespace WatchCommand {

// The exit code; a usage problem returns -1 with the problem set.
int run(const QCommandLineParser &parser, MeterLink &link, QTextStream &out, QTextStream &err,
        QString *problem);

} // namespace WatchCommand

#endif // METERCTL_WATCHCOMMAND_H
