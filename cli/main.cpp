#include "interruption.h"
#include "metercommands.h"
#include "meterscan.h"
#include "watchcommand.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLoggingCategory>

#include <climits>
#include <cstdio>
#include <optional>
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

// What each command does, for its --help.
const char ReadDescription[]
    = "Reads the system block and channels 1-22 of the four channel tables and shows them as a table;\n"
      "with --json, as the same document that backup writes.";

const char BackupDescription[]
    = "Reads what read reads and writes it to FILE as JSON (see docs/backup-format.md). FILE is\n"
      "replaced atomically, so an interrupted backup never leaves half a file.";

const char DiffDescription[]
    = "Compares FILE with the meter: one line per difference (channel, table, file value, meter\n"
      "value). Exit 0 when equal, 3 when not.";

const char RestoreDescription[]
    = "Checks all of FILE first, reads the meter, writes only the channel tables that differ (one\n"
      "function-16 write of 22 words each) and reads each back to verify it. The address and line\n"
      "settings (397-400) are written only with --with-line-settings, and then last; the channel\n"
      "count and baud error count (396, 401) only with --with-factory.";

const char SetDescription[]
    = "Changes single values. Keys: sensor.N (a sensor type such as PT100, or its code), low.N,\n"
      "high.N (range limits, -32768..32767), correction.N (-3276.8..3276.7), N = 1-22 or all;\n"
      "address (1-247), baud (4800 ... 115200), parity (none, odd, even), stop (1, 2). All pairs\n"
      "are checked before anything is sent; each touched table is read, changed, written back\n"
      "whole and verified.";

const char ScanDescription[]
    = "Probes each line setting and address with one system-block read (function 03, 396, 6 words;\n"
      "never a write, never address 0) and prints one line per meter found: its address, the line\n"
      "settings it answered at, its channel count and the settings stored in it. Default: the 8 baud\n"
      "rates x none/even/odd parity at 1 stop bit, most common first, addresses 1-247. Each probe\n"
      "waits as long as the 17-byte reply takes at that baud rate plus 3.5 characters (at least\n"
      "1.75 ms) plus 20 ms (--timeout overrides), with no retries. Progress goes to stderr when it is\n"
      "a terminal; Ctrl-C stops at once and prints what was found. Exit 0 when a meter was found.";

const char WatchDescription[]
    = "Polls the 22 measured values (function 04, 0, 22 words) every interval, never more than one\n"
      "request outstanding, one row per poll: local ISO 8601 time, channels 1-22 (empty at or above\n"
      "the meter's channel count), and the reason when a poll got no good reply. It keeps going\n"
      "through timeouts and reopens a vanished port every 3 s. --out appends to FILE and flushes\n"
      "each row. With --addresses, every meter of the list is polled in turn each interval and each\n"
      "row carries its address; a meter that failed --offline-after polls in a row is offline and\n"
      "tried once every --offline-retry seconds. --mqtt publishes each row on PREFIX/BUS/ADDRESS/values\n"
      "(QoS 1), retained online/offline on PREFIX/BUS/ADDRESS/status and running/stopped on\n"
      "PREFIX/BUS/status; a broker that is away never holds up the polling. On exit (count, Ctrl-C,\n"
      "SIGTERM) the link figures, in total and per meter, go to stderr.";

const char CloneDescription[]
    = "Restores FILE onto each address of --addresses in turn (e.g. 2,5,7-12), with the same checks\n"
      "as restore, and prints a summary: verified, differed and fixed, not verified, no answer.\n"
      "The address and line settings are never written (every meter would get the same address).\n"
      "Exit 0 only when every meter is verified, 3 when one is not, 2 when one did not answer.";

// An option as the parser is told it; no value name makes it a flag.
struct OptionDeclaration
{
    QString name;
    QString description;
    QString valueName;
    QString defaultValue;

    QCommandLineOption option() const
    {
        return QCommandLineOption(name, description, valueName, defaultValue);
    }
};

// What a command runs with: the parsed command line, its operands and the
// link settings, all checked already.
struct Invocation
{
    const QCommandLineParser &parser;
    QStringList operands;
    MeterLink::Settings settings;
};

struct Command
{
    const char *name;
    const char *arguments; // "", "FILE" or "KEY=VALUE..."
    const char *description;
    QVector<OptionDeclaration> options; // its own, after the link's
    int (*run)(const Invocation &call);
};

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

QString baudRateList()
{
    QStringList rates;
    for (const int rate : MeterSchema::LineSettings::baudRates())
        rates << QString::number(rate);
    return rates.join(QLatin1Char(' '));
}

QVector<OptionDeclaration> linkOptions()
{
    const MeterSchema::LineSettings line;
    const QString baud = QString::number(line.baudRate);
    const QString timeout = QString::number(MeterSchema::LineSettings::DefaultTimeoutMs);
    const QString retries = QString::number(MeterSchema::LineSettings::DefaultRetries);
    const QString parity = MeterSchema::LineSettings::parityName(line.parity);
    const QString stop = QString::number(line.stopBits);
    return {
        { "port", "Serial device (or pty path) of the line.", "name", {} },
        { "baud", QStringLiteral("Baud rate: %1 (default %2).").arg(baudRateList(), baud), "rate", baud },
        { "parity", QStringLiteral("Parity: none, odd or even (default %1).").arg(parity), "parity", parity },
        { "stop", QStringLiteral("Stop bits: 1 or 2 (default %1).").arg(stop), "bits", stop },
        { "tcp",
          "Modbus TCP gateway instead of a serial line (default port 502); the address is the unit id.",
          "host[:port]",
          {} },
        { "address", "The meter's server address, 1-247 (default 1); every request goes to it.", "n", "1" },
        { "timeout", QStringLiteral("Milliseconds to wait for each answer (default %1).").arg(timeout), "ms",
          timeout },
        { "retries",
          QStringLiteral("Times a request is repeated without an answer (default %1).").arg(retries), "n",
          retries },
    };
}

bool readGateway(const QString &gateway, MeterLink::Settings *settings, QString *problem)
{
    const int colon = gateway.lastIndexOf(QLatin1Char(':'));
    settings->tcpHost = colon < 0 ? gateway : gateway.left(colon);
    int port = 502;
    if (settings->tcpHost.isEmpty() || (colon >= 0 && !intValue(gateway.mid(colon + 1), 1, 65535, &port))) {
        *problem = QStringLiteral("--tcp %1 is not HOST or HOST:PORT").arg(gateway);
        return false;
    }
    settings->tcpPort = quint16(port);
    return true;
}

bool readLinkSettings(const QCommandLineParser &parser, MeterLink::Settings *settings, QString *problem)
{
    const QString baud = parser.value(QStringLiteral("baud"));
    const QString parity = parser.value(QStringLiteral("parity"));
    const QString stop = parser.value(QStringLiteral("stop"));
    const QString address = parser.value(QStringLiteral("address"));
    const QString timeout = parser.value(QStringLiteral("timeout"));
    const QString retries = parser.value(QStringLiteral("retries"));
    const std::optional<int> rate = MeterSchema::LineSettings::baudRateFromText(baud);
    const std::optional<MeterSchema::Parity> parityCode = MeterSchema::LineSettings::parityFromName(parity);
    const std::optional<int> stopBits = MeterSchema::LineSettings::stopBitsFromText(stop);
    if (!rate)
        *problem = QStringLiteral("--baud %1 is not one of %2").arg(baud, baudRateList());
    else if (!parityCode)
        *problem = QStringLiteral("--parity %1 is not none, odd or even").arg(parity);
    else if (!stopBits)
        *problem = QStringLiteral("--stop %1 is not 1 or 2").arg(stop);
    else if (!intValue(address, RegisterCodec::FirstUnicastAddress, RegisterCodec::LastUnicastAddress,
                       &settings->serverAddress))
        *problem = QStringLiteral("--address %1 is not a single server (1-247)").arg(address);
    else if (!intValue(timeout, 1, 600000, &settings->timeoutMs))
        *problem = QStringLiteral("--timeout %1 is not a number of milliseconds").arg(timeout);
    else if (!intValue(retries, 0, 100, &settings->retries))
        *problem = QStringLiteral("--retries %1 is not a count from 0 to 100").arg(retries);
    else if (parser.isSet(QStringLiteral("port")) == parser.isSet(QStringLiteral("tcp")))
        *problem = QStringLiteral("give either --port NAME or --tcp HOST[:PORT]");
    if (!problem->isEmpty())
        return false;
    settings->line = { *rate, *parityCode, *stopBits };
    settings->portName = parser.value(QStringLiteral("port"));
    return !parser.isSet(QStringLiteral("tcp"))
        || readGateway(parser.value(QStringLiteral("tcp")), settings, problem);
}

// The streams and the link one command runs with.
struct Session
{
    explicit Session(const MeterLink::Settings &settings)
        : link(settings)
        , commands(link, out, err)
    { }

    QTextStream out { stdout };
    QTextStream err { stderr };
    MeterLink link;
    MeterCommands commands;
};

MeterCommands::RestoreOptions restoreOptions(const QCommandLineParser &parser)
{
    return { parser.isSet(QStringLiteral("dry-run")), false, parser.isSet(QStringLiteral("with-factory")) };
}

int runRead(const Invocation &call)
{
    return Session(call.settings).commands.read(call.parser.isSet(QStringLiteral("json")));
}

int runBackup(const Invocation &call)
{
    return Session(call.settings).commands.backup(call.operands.first());
}

int runDiff(const Invocation &call)
{
    return Session(call.settings).commands.diff(call.operands.first());
}

int runRestore(const Invocation &call)
{
    MeterCommands::RestoreOptions options = restoreOptions(call.parser);
    options.withLineSettings = call.parser.isSet(QStringLiteral("with-line-settings"));
    return Session(call.settings).commands.restore(call.operands.first(), options);
}

int runSet(const Invocation &call)
{
    QVector<MeterCommands::Change> changes;
    QString problem;
    if (!MeterCommands::parseAssignments(call.operands, &changes, &problem))
        return usageError(problem);
    return Session(call.settings).commands.set(changes);
}

bool readAddresses(const QCommandLineParser &parser, QVector<int> *addresses, QString *problem)
{
    const QString text = parser.value(QStringLiteral("addresses"));
    if (MeterCommands::parseAddresses(text, addresses))
        return true;
    *problem = QStringLiteral("--addresses %1 is not a list of addresses 1-247 such as 2,5,7-12").arg(text);
    return false;
}

int runClone(const Invocation &call)
{
    QVector<int> addresses;
    QString problem;
    if (!readAddresses(call.parser, &addresses, &problem))
        return usageError(problem);
    if (!call.parser.isSet(QStringLiteral("addresses")))
        return usageError(QStringLiteral("clone needs --addresses LIST"));
    if (call.parser.isSet(QStringLiteral("with-line-settings")))
        return usageError(QStringLiteral("clone never writes the address and line settings: "
                                         "every meter would get the same address"));
    return Session(call.settings)
        .commands.clone(call.operands.first(), addresses, restoreOptions(call.parser));
}

// A comma-separated list, "all" standing for allValues; false with the
// first item that names nothing.
template<typename T, typename Read>
bool readList(const QString &text, const QVector<T> &allValues, Read read, QVector<T> *values, QString *bad)
{
    for (const QString &item : text.split(QLatin1Char(','))) {
        const std::optional<T> value = read(item);
        if (item == QLatin1String("all")) {
            *values += allValues;
        } else if (value) {
            *values << *value;
        } else {
            *bad = item;
            return false;
        }
    }
    return true;
}

bool readScanSettings(const QCommandLineParser &parser, QVector<MeterScan::LineSetting> *settings,
                      QString *problem)
{
    using MeterSchema::LineSettings;
    using MeterSchema::Parity;
    QVector<int> bauds;
    QVector<Parity> parities;
    QVector<int> stops;
    QString bad;
    if (!readList(parser.value(QStringLiteral("bauds")), MeterScan::baudRatesByUse(),
                  LineSettings::baudRateFromText, &bauds, &bad))
        *problem = QStringLiteral("--bauds %1 is not a list of baud rates").arg(bad);
    else if (!readList(parser.value(QStringLiteral("parities")), { Parity::None, Parity::Even, Parity::Odd },
                       LineSettings::parityFromName, &parities, &bad))
        *problem = QStringLiteral("--parities %1 is not none, even, odd or all").arg(bad);
    else if (!readList(parser.value(QStringLiteral("stops")), { 1, 2 }, LineSettings::stopBitsFromText,
                       &stops, &bad))
        *problem = QStringLiteral("--stops %1 is not 1, 2 or all").arg(bad);
    for (const int stop : stops) {
        for (const int baud : bauds) {
            for (const Parity parity : parities)
                settings->append({ baud, parity, stop });
        }
    }
    return problem->isEmpty();
}

int runScan(const Invocation &call)
{
    MeterScan::Options options;
    QString problem;
    if (!readAddresses(call.parser, &options.addresses, &problem))
        return usageError(problem);
    if (!call.settings.tcpHost.isEmpty())
        return usageError(QStringLiteral("scan goes through line settings: it needs --port"));
    if (!readScanSettings(call.parser, &options.settings, &problem))
        return usageError(problem);
    options.first = call.parser.isSet(QStringLiteral("first"));
    options.json = call.parser.isSet(QStringLiteral("json"));
    options.timeoutMs = call.parser.isSet(QStringLiteral("timeout")) ? call.settings.timeoutMs : 0;
    options.progress = isatty(fileno(stderr));
    Session session(call.settings);
    Interruption interruption;
    MeterScan scan(session.link, session.out, session.err);
    return scan.run(options, &interruption);
}

int runWatch(const Invocation &call)
{
    Session session(call.settings);
    QString problem;
    const int code = WatchCommand::run(call.parser, session.link, session.out, session.err, &problem);
    return problem.isEmpty() ? code : usageError(problem);
}

const QVector<Command> &commands()
{
    const OptionDeclaration dryRun = { "dry-run", "Print what would be written; send no write.", {}, {} };
    const OptionDeclaration factory
        = { "with-factory", "Also write the channel count and baud error count (396, 401).", {}, {} };
    const OptionDeclaration addresses
        = { "addresses", "Addresses, e.g. 1-247 or 2,5,7-12.", "list", "1-247" };
    static const QVector<Command> table = {
        { "read",
          "",
          ReadDescription,
          { { "json", "Print the backup document instead of the table.", {}, {} } },
          runRead },
        { "backup", "FILE", BackupDescription, {}, runBackup },
        { "diff", "FILE", DiffDescription, {}, runDiff },
        { "restore",
          "FILE",
          RestoreDescription,
          { dryRun,
            { "with-line-settings", "Also write the address and line settings (397-400), last.", {}, {} },
            factory },
          runRestore },
        { "set", "KEY=VALUE...", SetDescription, {}, runSet },
        { "scan",
          "",
          ScanDescription,
          { { "bauds", "Baud rates to try, e.g. 9600,19200, or all (default).", "list", "all" },
            { "parities", "Parities to try, e.g. none,even, or all (default).", "list", "all" },
            { "stops", "Stop bits to try: 1, 2 or all (default 1).", "list", "1" },
            addresses,
            { "first", "Stop at the first meter found.", {}, {} },
            { "json", "Print the meters found as a JSON array.", {}, {} } },
          runScan },
        { "watch",
          "",
          WatchDescription,
          { { "interval", "Seconds between polls (default 1).", "seconds", "1" },
            { "count", "Stop after N rows, or N intervals with --addresses (default: until stopped).", "n",
              "0" },
            { "format",
              "table (default on a terminal), csv (default otherwise), jsonl or influx.",
              "format",
              {} },
            { "out", "Append the rows to FILE, flushing each one.", "file", {} },
            { "addresses", "Poll these meters in turn every interval, e.g. 1-20,33.", "list", {} },
            { "offline-after", "With --addresses: offline after N failed polls in a row (default 3).", "n",
              "3" },
            { "offline-retry", "Try an offline meter once every S seconds (default 30).", "seconds", "30" },
            { "mqtt",
              "Publish to mqtt://[USER@]HOST[:PORT] or mqtts://... (password: METERCTL_MQTT_PASSWORD).",
              "url",
              {} },
            { "mqtt-topic", "Topic prefix (default meterconfig).", "prefix", "meterconfig" },
            { "mqtt-cafile", "CA certificate of an mqtts:// broker (default: the system's).", "file", {} } },
          runWatch },
        { "clone",
          "FILE",
          CloneDescription,
          { addresses,
            dryRun,
            factory,
            { "with-line-settings",
              "Refused: every meter would get the same address and line settings.",
              {},
              {} } },
          runClone },
    };
    return table;
}

const Command *findCommand(const QString &name)
{
    for (const Command &command : commands()) {
        if (name == QLatin1String(command.name))
            return &command;
    }
    return nullptr;
}

// "read, backup, ... or clone."
QString commandList()
{
    QStringList names;
    for (const Command &command : commands())
        names << QString::fromLatin1(command.name);
    const QString last = names.takeLast();
    return names.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last + QLatin1Char('.');
}

bool checkOperands(const Command &command, const QStringList &operands, QString *problem)
{
    const QString name = QString::fromLatin1(command.name);
    if (!*command.arguments && !operands.isEmpty())
        *problem = QStringLiteral("%1 takes no operand").arg(name);
    else if (qstrcmp(command.arguments, "FILE") == 0 && operands.size() != 1)
        *problem = QStringLiteral("%1 takes one FILE").arg(name);
    return problem->isEmpty();
}

// The second pass knows the command's own options and operands too.
void describeCommand(QCommandLineParser &parser, const Command &command)
{
    for (const OptionDeclaration &declared : command.options)
        parser.addOption(declared.option());
    const QString name = QString::fromLatin1(command.name);
    parser.clearPositionalArguments();
    parser.addPositionalArgument(name, QStringLiteral("The command."), name);
    if (*command.arguments)
        parser.addPositionalArgument(QString::fromLatin1(command.arguments),
                                     qstrcmp(command.name, "set") == 0 ? QStringLiteral("Values to change.")
                                                                       : QStringLiteral("The backup file."));
    parser.setApplicationDescription(QString::fromLatin1(command.description));
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
    for (const OptionDeclaration &declared : linkOptions())
        parser.addOption(declared.option());
    parser.addPositionalArgument(QStringLiteral("command"), commandList(), QStringLiteral("COMMAND"));

    // A first pass finds the command.
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
    describeCommand(parser, *command);
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption))
        parser.showHelp(0);

    Invocation call { parser, parser.positionalArguments().mid(1), {} };
    QString problem;
    if (!checkOperands(*command, call.operands, &problem)
        || !readLinkSettings(parser, &call.settings, &problem))
        return usageError(problem);
    return command->run(call);
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
