#include "interruption.h"
#include "metercommands.h"
#include "meterscan.h"
#include "watchcommand.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLoggingCategory>

#include <climits>
#include <cstdio>
#ifdef Q_OS_UNIX
#include <unistd.h>
#else
#include <io.h>
#define isatty _isatty
#endif

namespace {

const char Summary[]
    = "Back up, compare, restore and set the configuration of a 22-channel meter\n"
      "(system block 396-401 and channels 1-22 of its four channel tables) over\n"
      "Modbus RTU on a serial line, or through a Modbus TCP gateway.\n"
      "\n"
      "Commands:\n"
      "  read [--json]         show the configuration; --json prints the backup document\n"
      "  backup FILE           save the configuration to FILE (JSON, written atomically)\n"
      "  diff FILE             one line per difference between FILE and the meter\n"
      "  restore FILE          write the channel tables that differ from FILE, then verify\n"
      "  set KEY=VALUE...      change values: sensor.N low.N high.N correction.N\n"
      "                        (N = 1-22 or all), address, baud, parity, stop\n"
      "  scan                  find meters: each line setting and address gets one read\n"
      "  watch                 log the 22 measured values of one or many meters every interval\n"
      "                        (table, csv, jsonl, influx), optionally publishing them over MQTT\n"
      "  clone FILE --addresses LIST   restore FILE onto each address of LIST\n"
      "Run \"meterctl COMMAND --help\" for a command's own options.\n"
      "\n"
      "Every request goes to --address. Exit codes: 0 done (and verified), 1 usage\n"
      "error, 2 no link (port, timeout, exception reply), 3 differences (diff) or\n"
      "verification failed, 4 the file cannot be used. After a failure nothing\n"
      "more is written.";

struct Command
{
    const char *name;
    const char *arguments;
    const char *description;
};

const Command Commands[] = {
    { "read", "",
      "Reads the system block and channels 1-22 of the four channel tables and shows them as a table;\n"
      "with --json, as the same document that backup writes." },
    { "backup", "FILE",
      "Reads what read reads and writes it to FILE as JSON (see docs/backup-format.md). FILE is\n"
      "replaced atomically, so an interrupted backup never leaves half a file." },
    { "diff", "FILE",
      "Compares FILE with the meter: one line per difference (channel, table, file value, meter\n"
      "value). Exit 0 when equal, 3 when not." },
    { "restore", "FILE",
      "Checks all of FILE first, reads the meter, writes only the channel tables that differ (one\n"
      "function-16 write of 22 words each) and reads each back to verify it. The address and line\n"
      "settings (397-400) are written only with --with-line-settings, and then last; the channel\n"
      "count and baud error count (396, 401) only with --with-factory." },
    { "set", "KEY=VALUE...",
      "Changes single values. Keys: sensor.N (a sensor type such as PT100, or its code), low.N,\n"
      "high.N (range limits, -32768..32767), correction.N (-3276.8..3276.7), N = 1-22 or all;\n"
      "address (1-247), baud (4800 ... 115200), parity (none, odd, even), stop (1, 2). All pairs\n"
      "are checked before anything is sent; each touched table is read, changed, written back\n"
      "whole and verified." },
    { "scan", "",
      "Probes each line setting and address with one system-block read (function 03, 396, 6 words;\n"
      "never a write, never address 0) and prints one line per meter found: its address, the line\n"
      "settings it answered at, its channel count and the settings stored in it. Default: the 8 baud\n"
      "rates x none/even/odd parity at 1 stop bit, most common first, addresses 1-247. Each probe\n"
      "waits as long as the 17-byte reply takes at that baud rate plus 3.5 characters (at least\n"
      "1.75 ms) plus 20 ms (--timeout overrides), with no retries. Progress goes to stderr when it is\n"
      "a terminal; Ctrl-C stops at once and prints what was found. Exit 0 when a meter was found." },
    { "watch", "",
      "Polls the 22 measured values (function 04, 0, 22 words) every interval, never more than one\n"
      "request outstanding, one row per poll: local ISO 8601 time, channels 1-22 (empty at or above\n"
      "the meter's channel count), and the reason when a poll got no good reply. It keeps going\n"
      "through timeouts and reopens a vanished port every 3 s. --out appends to FILE and flushes\n"
      "each row. With --addresses, every meter of the list is polled in turn each interval and each\n"
      "row carries its address; a meter that failed --offline-after polls in a row is offline and\n"
      "asked only every --offline-retry seconds. --mqtt publishes each row on PREFIX/BUS/ADDRESS/values\n"
      "(QoS 1), retained online/offline on PREFIX/BUS/ADDRESS/status and running/stopped on\n"
      "PREFIX/BUS/status; a broker that is away never holds up the polling. On exit (count, Ctrl-C,\n"
      "SIGTERM) the link figures, in total and per meter, go to stderr." },
    { "clone", "FILE",
      "Restores FILE onto each address of --addresses in turn (e.g. 2,5,7-12), with the same checks\n"
      "as restore, and prints a summary: verified, differed and fixed, not verified, no answer.\n"
      "The address and line settings are never written (every meter would get the same address).\n"
      "Exit 0 only when every meter is verified, 3 when one is not, 2 when one did not answer." },
};

const Command *findCommand(const QString &name)
{
    for (const Command &command : Commands) {
        if (name == QLatin1String(command.name))
            return &command;
    }
    return nullptr;
}

int usageError(const QString &message)
{
    fprintf(stderr, "meterctl: %s\nRun \"meterctl --help\" for the commands and options.\n",
            qPrintable(message));
    return MeterCommands::UsageError;
}

bool intValue(const QString &text, int minimum, int maximum, int *value)
{
    bool ok = false;
    const int parsed = text.toInt(&ok, 10);
    if (!ok || parsed < minimum || parsed > maximum)
        return false;
    *value = parsed;
    return true;
}

int run()
{
    QCoreApplication::setApplicationName(QStringLiteral("meterctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(METERCTL_VERSION));
    // The Modbus client's own chatter would only repeat our messages.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.modbus*=false"));

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Serial device (or pty path) of the line."),
                                        QStringLiteral("name"));
    const QCommandLineOption baudOption(
        QStringLiteral("baud"),
        QStringLiteral("Baud rate: 4800 9600 14400 19200 28800 38400 57600 115200 (default 115200)."),
        QStringLiteral("rate"), QStringLiteral("115200"));
    const QCommandLineOption parityOption(QStringLiteral("parity"),
                                          QStringLiteral("Parity: none, odd or even (default none)."),
                                          QStringLiteral("parity"), QStringLiteral("none"));
    const QCommandLineOption stopOption(QStringLiteral("stop"),
                                        QStringLiteral("Stop bits: 1 or 2 (default 1)."),
                                        QStringLiteral("bits"), QStringLiteral("1"));
    const QCommandLineOption tcpOption(
        QStringLiteral("tcp"),
        QStringLiteral(
            "Modbus TCP gateway instead of a serial line (default port 502); the address is the unit id."),
        QStringLiteral("host[:port]"));
    const QCommandLineOption addressOption(
        QStringLiteral("address"),
        QStringLiteral("The meter's server address, 1-247 (default 1); every request goes to it."),
        QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption timeoutOption(
        QStringLiteral("timeout"), QStringLiteral("Milliseconds to wait for each answer (default 500)."),
        QStringLiteral("ms"), QStringLiteral("500"));
    const QCommandLineOption retriesOption(
        QStringLiteral("retries"),
        QStringLiteral("Times a request is repeated without an answer (default 2)."), QStringLiteral("n"),
        QStringLiteral("2"));
    parser.addOptions({ portOption, baudOption, parityOption, stopOption, tcpOption, addressOption,
                        timeoutOption, retriesOption });
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("read, backup, diff, restore, set, scan, watch or clone."),
                                 QStringLiteral("COMMAND"));

    // A first pass finds the command; the second knows its options too.
    const QStringList arguments = QCoreApplication::arguments();
    parser.parse(arguments);
    const QString commandName = parser.positionalArguments().value(0);
    const Command *command = findCommand(commandName);
    if (!command) {
        if (parser.isSet(versionOption))
            parser.showVersion();
        if (parser.isSet(helpOption)) {
            parser.setApplicationDescription(QString::fromLatin1(Summary));
            parser.showHelp(0);
        }
        return usageError(commandName.isEmpty() ? QStringLiteral("no command given")
                                                : QStringLiteral("unknown command \"%1\"").arg(commandName));
    }

    const QCommandLineOption jsonOption(QStringLiteral("json"),
                                        QStringLiteral("Print the backup document instead of the table."));
    const QCommandLineOption dryRunOption(QStringLiteral("dry-run"),
                                          QStringLiteral("Print what would be written; send no write."));
    const QCommandLineOption lineOption(
        QStringLiteral("with-line-settings"),
        QStringLiteral("Also write the address and line settings (397-400), last."));
    const QCommandLineOption factoryOption(
        QStringLiteral("with-factory"),
        QStringLiteral("Also write the channel count and baud error count (396, 401)."));
    const QCommandLineOption baudsOption(
        QStringLiteral("bauds"), QStringLiteral("Baud rates to try, e.g. 9600,19200, or all (default)."),
        QStringLiteral("list"), QStringLiteral("all"));
    const QCommandLineOption paritiesOption(
        QStringLiteral("parities"), QStringLiteral("Parities to try, e.g. none,even, or all (default)."),
        QStringLiteral("list"), QStringLiteral("all"));
    const QCommandLineOption stopsOption(QStringLiteral("stops"),
                                         QStringLiteral("Stop bits to try: 1, 2 or all (default 1)."),
                                         QStringLiteral("list"), QStringLiteral("1"));
    const QCommandLineOption addressesOption(QStringLiteral("addresses"),
                                             QStringLiteral("Addresses, e.g. 1-247 or 2,5,7-12."),
                                             QStringLiteral("list"), QStringLiteral("1-247"));
    const QCommandLineOption firstOption(QStringLiteral("first"),
                                         QStringLiteral("Stop at the first meter found."));
    const QCommandLineOption scanJsonOption(QStringLiteral("json"),
                                            QStringLiteral("Print the meters found as a JSON array."));
    const QCommandLineOption refusedLineOption(
        QStringLiteral("with-line-settings"),
        QStringLiteral("Refused: every meter would get the same address and line settings."));
    const QString name = QString::fromLatin1(command->name);
    if (name == QLatin1String("read"))
        parser.addOption(jsonOption);
    if (name == QLatin1String("restore"))
        parser.addOptions({ dryRunOption, lineOption, factoryOption });
    if (name == QLatin1String("clone"))
        parser.addOptions({ addressesOption, dryRunOption, factoryOption, refusedLineOption });
    if (name == QLatin1String("scan"))
        parser.addOptions(
            { baudsOption, paritiesOption, stopsOption, addressesOption, firstOption, scanJsonOption });
    if (name == QLatin1String("watch"))
        parser.addOptions(WatchCommand::options());
    parser.clearPositionalArguments();
    parser.addPositionalArgument(name, QStringLiteral("The command."), name);
    if (*command->arguments)
        parser.addPositionalArgument(QString::fromLatin1(command->arguments),
                                     name == QLatin1String("set") ? QStringLiteral("Values to change.")
                                                                  : QStringLiteral("The backup file."));
    parser.setApplicationDescription(QString::fromLatin1(command->description));
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption))
        parser.showHelp(0);

    const QStringList operands = parser.positionalArguments().mid(1);
    if (!*command->arguments && !operands.isEmpty())
        return usageError(QStringLiteral("%1 takes no operand").arg(name));
    if ((name == QLatin1String("backup") || name == QLatin1String("diff") || name == QLatin1String("restore")
         || name == QLatin1String("clone"))
        && operands.size() != 1)
        return usageError(QStringLiteral("%1 takes one FILE").arg(name));

    MeterLink::Settings settings;
    const QString parity = parser.value(parityOption);
    int baud = 0;
    if (!intValue(parser.value(baudOption), 1, 115200, &baud) || !RegisterCodec::checkedBaudRateWord(baud))
        return usageError(
            QStringLiteral("--baud %1 is not one of 4800 9600 14400 19200 28800 38400 57600 115200")
                .arg(parser.value(baudOption)));
    settings.line.baudRate = baud;
    if (!MeterSchema::LineSettings::parityFromName(parity))
        return usageError(QStringLiteral("--parity %1 is not none, odd or even").arg(parity));
    settings.line.parity = *MeterSchema::LineSettings::parityFromName(parity);
    if (!intValue(parser.value(stopOption), 1, 2, &settings.line.stopBits))
        return usageError(QStringLiteral("--stop %1 is not 1 or 2").arg(parser.value(stopOption)));
    if (!intValue(parser.value(addressOption), RegisterCodec::FirstUnicastAddress,
                  RegisterCodec::LastUnicastAddress, &settings.serverAddress))
        return usageError(
            QStringLiteral("--address %1 is not a single server (1-247)").arg(parser.value(addressOption)));
    if (!intValue(parser.value(timeoutOption), 1, 600000, &settings.timeoutMs))
        return usageError(
            QStringLiteral("--timeout %1 is not a number of milliseconds").arg(parser.value(timeoutOption)));
    if (!intValue(parser.value(retriesOption), 0, 100, &settings.retries))
        return usageError(
            QStringLiteral("--retries %1 is not a count from 0 to 100").arg(parser.value(retriesOption)));
    if (parser.isSet(portOption) == parser.isSet(tcpOption))
        return usageError(QStringLiteral("give either --port NAME or --tcp HOST[:PORT]"));
    settings.portName = parser.value(portOption);
    if (parser.isSet(tcpOption)) {
        const QString gateway = parser.value(tcpOption);
        const int colon = gateway.lastIndexOf(QLatin1Char(':'));
        settings.tcpHost = colon < 0 ? gateway : gateway.left(colon);
        int port = 502;
        if (settings.tcpHost.isEmpty() || (colon >= 0 && !intValue(gateway.mid(colon + 1), 1, 65535, &port)))
            return usageError(QStringLiteral("--tcp %1 is not HOST or HOST:PORT").arg(gateway));
        settings.tcpPort = quint16(port);
    }

    QVector<MeterCommands::Change> changes;
    if (name == QLatin1String("set")) {
        QString problem;
        if (!MeterCommands::parseAssignments(operands, &changes, &problem))
            return usageError(problem);
    }

    QVector<int> addresses;
    if ((name == QLatin1String("clone") || name == QLatin1String("scan"))
        && !MeterCommands::parseAddresses(parser.value(addressesOption), &addresses))
        return usageError(QStringLiteral("--addresses %1 is not a list of addresses 1-247 such as 2,5,7-12")
                              .arg(parser.value(addressesOption)));
    if (name == QLatin1String("clone") && !parser.isSet(addressesOption))
        return usageError(QStringLiteral("clone needs --addresses LIST"));
    if (name == QLatin1String("clone") && parser.isSet(refusedLineOption))
        return usageError(QStringLiteral("clone never writes the address and line settings: "
                                         "every meter would get the same address"));

    QTextStream out(stdout);
    QTextStream err(stderr);
    MeterLink link(settings);
    MeterCommands commands(link, out, err);
    if (name == QLatin1String("clone"))
        return commands.clone(operands.first(), addresses,
                              { parser.isSet(dryRunOption), false, parser.isSet(factoryOption) });
    if (name == QLatin1String("scan")) {
        if (!settings.tcpHost.isEmpty())
            return usageError(QStringLiteral("scan goes through line settings: it needs --port"));
        MeterScan::Options options;
        options.addresses = addresses;
        options.first = parser.isSet(firstOption);
        options.json = parser.isSet(scanJsonOption);
        options.timeoutMs = parser.isSet(timeoutOption) ? settings.timeoutMs : 0;
        options.progress = isatty(fileno(stderr));
        QVector<int> bauds;
        for (const QString &text : parser.value(baudsOption).split(QLatin1Char(','))) {
            int rate = 0;
            if (text == QLatin1String("all"))
                bauds += MeterScan::baudRatesByUse();
            else if (intValue(text, 1, 115200, &rate) && RegisterCodec::checkedBaudRateWord(rate))
                bauds << rate;
            else
                return usageError(QStringLiteral("--bauds %1 is not a list of baud rates").arg(text));
        }
        QVector<MeterSchema::Parity> parities;
        for (const QString &text : parser.value(paritiesOption).split(QLatin1Char(','))) {
            if (text == QLatin1String("all"))
                parities
                    += { MeterSchema::Parity::None, MeterSchema::Parity::Even, MeterSchema::Parity::Odd };
            else if (MeterSchema::LineSettings::parityFromName(text))
                parities << *MeterSchema::LineSettings::parityFromName(text);
            else
                return usageError(QStringLiteral("--parities %1 is not none, even, odd or all").arg(text));
        }
        QVector<int> stops;
        for (const QString &text : parser.value(stopsOption).split(QLatin1Char(','))) {
            int stop = 0;
            if (text == QLatin1String("all"))
                stops += { 1, 2 };
            else if (intValue(text, 1, 2, &stop))
                stops << stop;
            else
                return usageError(QStringLiteral("--stops %1 is not 1, 2 or all").arg(text));
        }
        for (const int stop : stops) {
            for (const int baud : bauds) {
                for (const MeterSchema::Parity parity : parities)
                    options.settings.append({ baud, parity, stop });
            }
        }
        Interruption interruption;
        MeterScan scan(link, out, err);
        return scan.run(options, &interruption);
    }
    if (name == QLatin1String("watch")) {
        QString problem;
        const int code = WatchCommand::run(parser, link, out, err, &problem);
        return problem.isEmpty() ? code : usageError(problem);
    }
    if (name == QLatin1String("read"))
        return commands.read(parser.isSet(jsonOption));
    if (name == QLatin1String("backup"))
        return commands.backup(operands.first());
    if (name == QLatin1String("diff"))
        return commands.diff(operands.first());
    if (name == QLatin1String("restore"))
        return commands.restore(
            operands.first(),
            { parser.isSet(dryRunOption), parser.isSet(lineOption), parser.isSet(factoryOption) });
    return commands.set(changes);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int code = run();
    // Replies released with deleteLater() outside an event loop.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return code;
}
