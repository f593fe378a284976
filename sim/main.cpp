#include "addresslist.h"
#include "virtualinstrument.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>

#include <climits>
#include <csignal>
#include <memory>
#include <sys/signalfd.h>
#include <unistd.h>
#include <vector>

namespace {

struct Assignment
{
    int address = 0;
    int value = 0;
    int server = 0; // the instrument at this address on the line; 0: the first
};

// What the command line asks of the instrument.
struct Setup
{
    VirtualInstrument::Faults faults;
    int address = 1;
    int seed = 1;
    bool freeze = false;
    bool logRequests = false;
    bool ignoreWrites = false;
    QVector<Assignment> inputs;
    QVector<Assignment> holdings;
    QString device;
    qint32 baudRate = 115200;
    char parity = 'N';
    int stopBits = 1;
    QString linkPath;
    // On a pty: answer only clients at these settings; baud rate 0: any.
    qint32 lineBaudRate = 0;
    char lineParity = 'N';
    int lineStopBits = 1;
    QVector<int> mates;
    QVector<int> silent; // never answer, wherever on the line
    int tcpPort = 0;
};

bool parseInt(const QString &text, int minimum, int maximum, int *value)
{
    bool ok = false;
    const int parsed = text.toInt(&ok, 0);
    if (!ok || parsed < minimum || parsed > maximum)
        return false;
    *value = parsed;
    return true;
}

bool parseParity(const QString &text, char *parity)
{
    const QString name = text.toLower();
    if (name != QLatin1String("none") && name != QLatin1String("odd") && name != QLatin1String("even"))
        return false;
    *parity = name.at(0).toUpper().toLatin1();
    return true;
}

bool parseAssignment(const QString &text, int minimum, int maximum, QVector<Assignment> *assignments)
{
    Assignment assignment;
    const int equals = text.indexOf(QLatin1Char('='));
    if (equals <= 0 || !parseInt(text.left(equals), 0, 65535, &assignment.address)
        || !parseInt(text.mid(equals + 1), minimum, maximum, &assignment.value))
        return false;
    assignments->append(assignment);
    return true;
}

// "REG=VALUE" for the first instrument, "ADDRESS:REG=VALUE" for the one at
// that server address on the line.
bool parseInput(const QString &text, Setup *setup)
{
    const int colon = text.indexOf(QLatin1Char(':'));
    int server = 0;
    if ((colon >= 0 && !parseInt(text.left(colon), 1, 247, &server))
        || !parseAssignment(text.mid(colon + 1), -32768, 32767, &setup->inputs))
        return false;
    setup->inputs.last().server = server;
    return true;
}

bool parseLine(const QString &text, Setup *setup)
{
    const QStringList parts = text.split(QLatin1Char(','));
    return parts.size() == 3 && parseInt(parts.at(0), 1, INT_MAX, &setup->lineBaudRate)
        && parseParity(parts.at(1), &setup->lineParity) && parseInt(parts.at(2), 1, 2, &setup->lineStopBits);
}

// Address lists as meterctl takes them: 2,3 or 2-30.
bool parseMates(const QString &text, Setup *setup)
{
    return AddressList::parse(text, &setup->mates);
}

bool parseSilent(const QString &text, Setup *setup)
{
    return AddressList::parse(text, &setup->silent);
}

bool parseLate(const QString &text, Setup *setup)
{
    const QStringList parts = text.split(QLatin1Char(','));
    int request = 0;
    if (parts.size() != 2 || !parseInt(parts.at(0), 1, INT_MAX, &request)
        || !parseInt(parts.at(1), 1, 600000, &setup->faults.lateMs))
        return false;
    setup->faults.skip = request - 1;
    setup->faults.count = 1;
    return true;
}

// One command-line option and what its value (empty for a flag) does to
// the setup; false refuses the value with the option's message.
struct OptionDeclaration
{
    const char *name;
    const char *description;
    const char *valueName; // nullptr: a flag
    bool (*apply)(const QString &value, Setup *setup);
    const char *refusal; // %1: the value
};

const char InvalidFault[] = "invalid fault option";
const char InvalidLine[] = "invalid line settings";

// In the order of the help text.
const OptionDeclaration Options[] = {
    { "device", "Serve on serial <device> instead of a pseudo-terminal.", "device",
      [](const QString &v, Setup *s) { return s->device = v, true; }, "" },
    { "baud", "Baud rate on a serial device (default 115200).", "rate",
      [](const QString &v, Setup *s) { return parseInt(v, 1, INT_MAX, &s->baudRate); }, InvalidLine },
    { "parity", "Parity on a serial device: none, odd or even.", "parity",
      [](const QString &v, Setup *s) { return parseParity(v, &s->parity); }, InvalidLine },
    { "stop-bits", "Stop bits on a serial device: 1 or 2.", "count",
      [](const QString &v, Setup *s) { return parseInt(v, 1, 2, &s->stopBits); }, InvalidLine },
    { "link", "Make a symbolic link to the pseudo-terminal at <path>.", "path",
      [](const QString &v, Setup *s) { return s->linkPath = v, true; }, "" },
    { "address", "Server address, 1-247 (default 1).", "address",
      [](const QString &v, Setup *s) { return parseInt(v, 1, 247, &s->address); }, "invalid --address" },
    { "freeze", "Keep the measured values still.", nullptr,
      [](const QString &, Setup *s) { return s->freeze = true; }, "" },
    { "seed", "Seed of the measured-value drift.", "number",
      [](const QString &v, Setup *s) { return parseInt(v, 0, INT_MAX, &s->seed); }, "invalid --seed" },
    { "set-input",
      "Set input register <reg>=<value>, value in signed tenths, of the instrument at [address:] on "
      "the line (default the first). Repeatable.",
      "[address:]reg=value", parseInput, "invalid --set-input %1" },
    { "set-holding", "Set holding register <reg>=<value>. Repeatable.", "reg=value",
      [](const QString &v, Setup *s) { return parseAssignment(v, -32768, 65535, &s->holdings); },
      "invalid --set-holding %1" },
    { "log-requests", "Print every received request on standard output.", nullptr,
      [](const QString &, Setup *s) { return s->logRequests = true; }, "" },
    { "silent", "Fault: never answer.", nullptr,
      [](const QString &, Setup *s) { return s->faults.silent = true; }, "" },
    { "delay", "Fault: answer after <ms> milliseconds.", "ms",
      [](const QString &v, Setup *s) { return parseInt(v, 0, 600000, &s->faults.delayMs); }, InvalidFault },
    { "exception", "Fault: answer every request with exception <code>.", "code",
      [](const QString &v, Setup *s) {
          int code = 0;
          const bool ok = parseInt(v, 1, 255, &code);
          s->faults.exceptionCode = quint8(code);
          return ok;
      },
      InvalidFault },
    { "bad-crc", "Fault: send replies with a wrong CRC.", nullptr,
      [](const QString &, Setup *s) { return s->faults.corruptCrc = true; }, "" },
    { "truncate", "Fault: drop the last <n> bytes of every reply.", "n",
      [](const QString &v, Setup *s) { return parseInt(v, 0, 256, &s->faults.truncateBytes); },
      InvalidFault },
    { "reply-address", "Fault: answer as server <address>.", "address",
      [](const QString &v, Setup *s) { return parseInt(v, 0, 255, &s->faults.replyAddress); }, InvalidFault },
    { "garbage", "Fault: send <hex> bytes before every reply.", "hex",
      [](const QString &v, Setup *s) {
          s->faults.garbage = QByteArray::fromHex(v.toLatin1());
          return !s->faults.garbage.isEmpty();
      },
      "invalid --garbage" },
    { "split", "Fault: write every reply in <n> pieces.", "n",
      [](const QString &v, Setup *s) { return parseInt(v, 1, 256, &s->faults.splitParts); }, InvalidFault },
    { "split-gap", "Pause between reply pieces (default 10 ms).", "ms",
      [](const QString &v, Setup *s) { return parseInt(v, 0, 60000, &s->faults.splitGapMs); }, InvalidFault },
    { "fault-count", "Apply the faults to the next <n> requests only (default: all).", "n",
      [](const QString &v, Setup *s) { return parseInt(v, 1, INT_MAX, &s->faults.count); }, InvalidFault },
    { "tcp", "Also serve Modbus TCP on 127.0.0.1:<port>, as a gateway in front of the line would.", "port",
      [](const QString &v, Setup *s) { return parseInt(v, 1, 65535, &s->tcpPort); }, "invalid --tcp" },
    { "ignore-writes", "Fault: acknowledge writes but keep the registers unchanged.", nullptr,
      [](const QString &, Setup *s) { return s->ignoreWrites = true; }, "" },
    { "line", "On a pseudo-terminal, answer only clients at these line settings, e.g. 19200,even,1.",
      "rate,parity,stop", parseLine, "invalid --line" },
    { "more-addresses", "Further instruments on the same line at these server addresses, e.g. 2,3 or 2-30.",
      "list", parseMates, "invalid --more-addresses" },
    { "silent-addresses", "Fault: the instruments on the line at these addresses never answer.", "list",
      parseSilent, "invalid --silent-addresses" },
    { "withhold", "Fault: answer reads with <n> registers fewer than asked.", "n",
      [](const QString &v, Setup *s) { return parseInt(v, 0, 125, &s->faults.withheldRegisters); },
      InvalidFault },
    { "previous-reply", "Fault: answer with the reply that went out for the request before.", nullptr,
      [](const QString &, Setup *s) { return s->faults.previousReply = true; }, "" },
    { "late",
      "Fault: answer only the <k>-th request, <ms> milliseconds late; what arrives meanwhile "
      "is answered after it, in order.",
      "k,ms", parseLate, "invalid --late" },
};

// Every option given, applied in the order of the table.
bool readOptions(const QCommandLineParser &parser, Setup *setup, QString *refusal)
{
    for (const OptionDeclaration &declared : Options) {
        const QString name = QLatin1String(declared.name);
        const QStringList values = declared.valueName ? parser.values(name) : QStringList { QString() };
        if (!parser.isSet(name))
            continue;
        for (const QString &value : values) {
            if (!declared.apply(value, setup)) {
                *refusal = QString::fromLatin1(declared.refusal);
                if (refusal->contains(QLatin1String("%1")))
                    *refusal = refusal->arg(value);
                return false;
            }
        }
    }
    return true;
}

QString describe(const VirtualInstrument::Request &request)
{
    QStringList values;
    for (const quint16 value : request.values)
        values.append(QString::number(value));
    return QStringLiteral("request address=%1 function=%2 start=%3 quantity=%4 values=%5 raw=%6")
        .arg(request.serverAddress)
        .arg(request.functionCode)
        .arg(request.startAddress)
        .arg(request.quantity)
        .arg(values.join(QLatin1Char(',')), QString::fromLatin1(request.raw.toHex(' ')));
}

void configure(VirtualInstrument &instrument, const Setup &setup)
{
    instrument.setServerAddress(setup.address);
    instrument.setDriftSeed(quint32(setup.seed));
    instrument.setDriftEnabled(!setup.freeze);
    for (const Assignment &input : setup.inputs) {
        if (input.server == 0 || input.server == setup.address)
            instrument.setInput(input.address, qint16(input.value));
    }
    for (const Assignment &holding : setup.holdings)
        instrument.setHolding(holding.address, quint16(holding.value));
    VirtualInstrument::Faults faults = setup.faults;
    faults.silent = faults.silent || setup.silent.contains(setup.address);
    instrument.setFaults(faults);
    instrument.setIgnoreWrites(setup.ignoreWrites);
}

// Further instruments on the line, with the first one's line settings.
std::vector<std::unique_ptr<VirtualInstrument>> addMates(VirtualInstrument &instrument, const Setup &setup)
{
    std::vector<std::unique_ptr<VirtualInstrument>> mates;
    for (const int address : setup.mates) {
        mates.push_back(std::make_unique<VirtualInstrument>());
        VirtualInstrument *mate = mates.back().get();
        mate->setServerAddress(address);
        mate->setDriftEnabled(!setup.freeze);
        mate->setIgnoreWrites(setup.ignoreWrites);
        for (const int line : { InstrumentModel::BaudCodeRegister, InstrumentModel::ParityRegister,
                                InstrumentModel::StopBitsRegister })
            mate->setHolding(line, instrument.holding(line));
        for (const Assignment &input : setup.inputs) {
            if (input.server == address)
                mate->setInput(input.address, qint16(input.value));
        }
        VirtualInstrument::Faults silent;
        silent.silent = setup.silent.contains(address);
        mate->setFaults(silent);
        instrument.addToLine(mate);
    }
    return mates;
}

bool openPort(VirtualInstrument &instrument, const Setup &setup)
{
    const bool opened = setup.device.isEmpty()
        ? instrument.open(setup.linkPath)
        : instrument.openDevice(setup.device, setup.baudRate, setup.parity, setup.stopBits);
    if (opened && setup.lineBaudRate != 0)
        instrument.setLineSettings(setup.lineBaudRate, setup.lineParity, setup.lineStopBits);
    return opened && (setup.tcpPort == 0 || instrument.listenTcp(quint16(setup.tcpPort)));
}

// Runs until a termination signal, which arrives through a descriptor so
// that the port is closed and the link removed on the way out.
int serve(VirtualInstrument &instrument, const sigset_t &termination)
{
    const int signalFd = ::signalfd(-1, &termination, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signalFd < 0)
        return -1;
    QSocketNotifier signalNotifier(signalFd, QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, [signalFd] {
        signalfd_siginfo info;
        while (::read(signalFd, &info, sizeof(info)) > 0) { }
        QCoreApplication::quit();
    });
    const int result = QCoreApplication::exec();
    instrument.closePort();
    ::close(signalFd);
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    sigset_t termination;
    sigemptyset(&termination);
    sigaddset(&termination, SIGINT);
    sigaddset(&termination, SIGTERM);
    sigaddset(&termination, SIGHUP);
    sigprocmask(SIG_BLOCK, &termination, nullptr);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("metersim"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Virtual 22-channel measuring instrument: a Modbus RTU server on a new pseudo-terminal "
        "or on a serial device.\nThe first line on standard output is the port to open."));
    parser.addHelpOption();
    for (const OptionDeclaration &declared : Options) {
        parser.addOption(
            declared.valueName
                ? QCommandLineOption(QLatin1String(declared.name), QString::fromUtf8(declared.description),
                                     QLatin1String(declared.valueName))
                : QCommandLineOption(QLatin1String(declared.name), QString::fromUtf8(declared.description)));
    }
    parser.process(app);

    QTextStream out(stdout);
    QTextStream err(stderr);
    const auto fail = [&err](const QString &message) {
        err << "metersim: " << message << Qt::endl;
        return 2;
    };
    Setup setup;
    QString refusal;
    if (!readOptions(parser, &setup, &refusal))
        return fail(refusal);
    VirtualInstrument instrument;
    configure(instrument, setup);
    if (setup.logRequests) {
        QObject::connect(
            &instrument, &VirtualInstrument::requestReceived, &app,
            [&out](const VirtualInstrument::Request &request) { out << describe(request) << Qt::endl; });
    }
    if (!openPort(instrument, setup))
        return fail(instrument.errorString());
    const auto mates = addMates(instrument, setup);
    out << instrument.portPath() << Qt::endl;
    const int result = serve(instrument, termination);
    return result < 0 ? fail(QStringLiteral("signalfd failed")) : result;
}
