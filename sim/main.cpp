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

bool parseAssignment(const QString &text, int minimum, int maximum, Assignment *assignment)
{
    const int equals = text.indexOf(QLatin1Char('='));
    return equals > 0 && parseInt(text.left(equals), 0, 65535, &assignment->address)
        && parseInt(text.mid(equals + 1), minimum, maximum, &assignment->value);
}

// "REG=VALUE" for the first instrument, or "ADDRESS:REG=VALUE" for the one
// at that server address on the line.
bool parseInputAssignment(const QString &text, int *server, Assignment *assignment)
{
    const int colon = text.indexOf(QLatin1Char(':'));
    *server = 0;
    return (colon < 0 || parseInt(text.left(colon), 1, 247, server))
        && parseAssignment(text.mid(colon + 1), -32768, 32767, assignment);
}

// Further instruments on the line: their addresses, the silent ones among
// them, and input values given by address.
bool addMates(VirtualInstrument &instrument, const QString &more, const QString &silent,
              const QStringList &inputs, bool drift, bool ignoreWrites,
              std::vector<std::unique_ptr<VirtualInstrument>> *mates)
{
    QVector<int> addresses;
    QVector<int> silentAddresses;
    if ((!more.isEmpty() && !AddressList::parse(more, &addresses))
        || (!silent.isEmpty() && !AddressList::parse(silent, &silentAddresses)))
        return false;
    VirtualInstrument::Faults quiet;
    quiet.silent = true;
    for (const int address : qAsConst(addresses)) {
        mates->push_back(std::make_unique<VirtualInstrument>());
        VirtualInstrument *mate = mates->back().get();
        mate->setServerAddress(address);
        mate->setDriftEnabled(drift);
        mate->setIgnoreWrites(ignoreWrites);
        for (const int holding : { InstrumentModel::BaudCodeRegister, InstrumentModel::ParityRegister,
                                   InstrumentModel::StopBitsRegister })
            mate->setHolding(holding, instrument.holding(holding));
        if (silentAddresses.contains(address))
            mate->setFaults(quiet);
        instrument.addToLine(mate);
    }
    if (silentAddresses.contains(instrument.serverAddress()))
        instrument.setFaults(quiet);
    for (const QString &text : inputs) {
        int server = 0;
        Assignment assignment;
        parseInputAssignment(text, &server, &assignment);
        for (const auto &mate : *mates) {
            if (mate->serverAddress() == server)
                mate->setInput(assignment.address, qint16(assignment.value));
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

} // namespace

int main(int argc, char *argv[])
{
    // Termination signals arrive through a descriptor, so the event loop can
    // close the port and remove the link on the way out.
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
    const QCommandLineOption deviceOption(
        QStringLiteral("device"), QStringLiteral("Serve on serial <device> instead of a pseudo-terminal."),
        QStringLiteral("device"));
    const QCommandLineOption baudOption(QStringLiteral("baud"),
                                        QStringLiteral("Baud rate on a serial device (default 115200)."),
                                        QStringLiteral("rate"), QStringLiteral("115200"));
    const QCommandLineOption parityOption(QStringLiteral("parity"),
                                          QStringLiteral("Parity on a serial device: none, odd or even."),
                                          QStringLiteral("parity"), QStringLiteral("none"));
    const QCommandLineOption stopBitsOption(QStringLiteral("stop-bits"),
                                            QStringLiteral("Stop bits on a serial device: 1 or 2."),
                                            QStringLiteral("count"), QStringLiteral("1"));
    const QCommandLineOption linkOption(
        QStringLiteral("link"), QStringLiteral("Make a symbolic link to the pseudo-terminal at <path>."),
        QStringLiteral("path"));
    const QCommandLineOption addressOption(QStringLiteral("address"),
                                           QStringLiteral("Server address, 1-247 (default 1)."),
                                           QStringLiteral("address"), QStringLiteral("1"));
    const QCommandLineOption freezeOption(QStringLiteral("freeze"),
                                          QStringLiteral("Keep the measured values still."));
    const QCommandLineOption seedOption(QStringLiteral("seed"),
                                        QStringLiteral("Seed of the measured-value drift."),
                                        QStringLiteral("number"));
    const QCommandLineOption inputOption(
        QStringLiteral("set-input"),
        QStringLiteral("Set input register <reg>=<value>, value in signed tenths, of the instrument at "
                       "[address:] on the line (default the first). Repeatable."),
        QStringLiteral("reg=value"));
    const QCommandLineOption holdingOption(QStringLiteral("set-holding"),
                                           QStringLiteral("Set holding register <reg>=<value>. Repeatable."),
                                           QStringLiteral("reg=value"));
    const QCommandLineOption logOption(QStringLiteral("log-requests"),
                                       QStringLiteral("Print every received request on standard output."));
    const QCommandLineOption silentOption(QStringLiteral("silent"), QStringLiteral("Fault: never answer."));
    const QCommandLineOption delayOption(QStringLiteral("delay"),
                                         QStringLiteral("Fault: answer after <ms> milliseconds."),
                                         QStringLiteral("ms"));
    const QCommandLineOption exceptionOption(
        QStringLiteral("exception"), QStringLiteral("Fault: answer every request with exception <code>."),
        QStringLiteral("code"));
    const QCommandLineOption badCrcOption(QStringLiteral("bad-crc"),
                                          QStringLiteral("Fault: send replies with a wrong CRC."));
    const QCommandLineOption truncateOption(QStringLiteral("truncate"),
                                            QStringLiteral("Fault: drop the last <n> bytes of every reply."),
                                            QStringLiteral("n"));
    const QCommandLineOption replyAddressOption(QStringLiteral("reply-address"),
                                                QStringLiteral("Fault: answer as server <address>."),
                                                QStringLiteral("address"));
    const QCommandLineOption garbageOption(QStringLiteral("garbage"),
                                           QStringLiteral("Fault: send <hex> bytes before every reply."),
                                           QStringLiteral("hex"));
    const QCommandLineOption splitOption(QStringLiteral("split"),
                                         QStringLiteral("Fault: write every reply in <n> pieces."),
                                         QStringLiteral("n"));
    const QCommandLineOption splitGapOption(QStringLiteral("split-gap"),
                                            QStringLiteral("Pause between reply pieces (default 10 ms)."),
                                            QStringLiteral("ms"));
    const QCommandLineOption withholdOption(
        QStringLiteral("withhold"),
        QStringLiteral("Fault: answer reads with <n> registers fewer than asked."), QStringLiteral("n"));
    const QCommandLineOption previousReplyOption(
        QStringLiteral("previous-reply"),
        QStringLiteral("Fault: answer with the reply that went out for the request before."));
    const QCommandLineOption faultCountOption(
        QStringLiteral("fault-count"),
        QStringLiteral("Apply the faults to the next <n> requests only (default: all)."),
        QStringLiteral("n"));
    const QCommandLineOption tcpOption(
        QStringLiteral("tcp"),
        QStringLiteral("Also serve Modbus TCP on 127.0.0.1:<port>, as a gateway in front of the line would."),
        QStringLiteral("port"));
    const QCommandLineOption ignoreWritesOption(
        QStringLiteral("ignore-writes"),
        QStringLiteral("Fault: acknowledge writes but keep the registers unchanged."));
    parser.addOptions({ deviceOption,    baudOption,         parityOption,  stopBitsOption,  linkOption,
                        addressOption,   freezeOption,       seedOption,    inputOption,     holdingOption,
                        logOption,       silentOption,       delayOption,   exceptionOption, badCrcOption,
                        truncateOption,  replyAddressOption, garbageOption, splitOption,     splitGapOption,
                        faultCountOption });
    const QCommandLineOption lineOption(
        QStringLiteral("line"),
        QStringLiteral(
            "On a pseudo-terminal, answer only clients at these line settings, e.g. 19200,even,1."),
        QStringLiteral("rate,parity,stop"));
    const QCommandLineOption moreOption(
        QStringLiteral("more-addresses"),
        QStringLiteral("Further instruments on the same line at these server addresses, e.g. 2,3 or 2-30."),
        QStringLiteral("list"));
    const QCommandLineOption silentAddressesOption(
        QStringLiteral("silent-addresses"),
        QStringLiteral("Fault: the instruments on the line at these addresses never answer."),
        QStringLiteral("list"));
    parser.addOptions({ tcpOption, ignoreWritesOption, lineOption, moreOption, silentAddressesOption });
    parser.addOptions({ withholdOption, previousReplyOption });
    parser.process(app);

    QTextStream out(stdout);
    QTextStream err(stderr);
    const auto fail = [&err](const QString &message) {
        err << "metersim: " << message << Qt::endl;
        return 2;
    };
    const auto intOption = [&parser](const QCommandLineOption &option, int minimum, int maximum, int *value) {
        return !parser.isSet(option) || parseInt(parser.value(option), minimum, maximum, value);
    };

    VirtualInstrument instrument;
    VirtualInstrument::Faults faults;
    int address = 1;
    int exceptionCode = 0;
    int seed = 1;
    if (!intOption(addressOption, 1, 247, &address))
        return fail(QStringLiteral("invalid --address"));
    if (!intOption(seedOption, 0, INT_MAX, &seed))
        return fail(QStringLiteral("invalid --seed"));
    if (!intOption(delayOption, 0, 600000, &faults.delayMs)
        || !intOption(exceptionOption, 1, 255, &exceptionCode)
        || !intOption(truncateOption, 0, 256, &faults.truncateBytes)
        || !intOption(replyAddressOption, 0, 255, &faults.replyAddress)
        || !intOption(splitOption, 1, 256, &faults.splitParts)
        || !intOption(splitGapOption, 0, 60000, &faults.splitGapMs)
        || !intOption(faultCountOption, 1, INT_MAX, &faults.count)
        || !intOption(withholdOption, 0, 125, &faults.withheldRegisters))
        return fail(QStringLiteral("invalid fault option"));
    faults.silent = parser.isSet(silentOption);
    faults.corruptCrc = parser.isSet(badCrcOption);
    faults.previousReply = parser.isSet(previousReplyOption);
    faults.exceptionCode = quint8(exceptionCode);
    if (parser.isSet(garbageOption)) {
        faults.garbage = QByteArray::fromHex(parser.value(garbageOption).toLatin1());
        if (faults.garbage.isEmpty())
            return fail(QStringLiteral("invalid --garbage"));
    }

    instrument.setServerAddress(address);
    instrument.setDriftSeed(quint32(seed));
    instrument.setDriftEnabled(!parser.isSet(freezeOption));
    for (const QString &text : parser.values(inputOption)) {
        int server = 0;
        Assignment assignment;
        if (!parseInputAssignment(text, &server, &assignment))
            return fail(QStringLiteral("invalid --set-input %1").arg(text));
        if (server == 0 || server == address)
            instrument.setInput(assignment.address, qint16(assignment.value));
    }
    for (const QString &text : parser.values(holdingOption)) {
        Assignment assignment;
        if (!parseAssignment(text, -32768, 65535, &assignment))
            return fail(QStringLiteral("invalid --set-holding %1").arg(text));
        instrument.setHolding(assignment.address, quint16(assignment.value));
    }
    instrument.setFaults(faults);
    instrument.setIgnoreWrites(parser.isSet(ignoreWritesOption));

    if (parser.isSet(logOption)) {
        QObject::connect(
            &instrument, &VirtualInstrument::requestReceived, &app,
            [&out](const VirtualInstrument::Request &request) { out << describe(request) << Qt::endl; });
    }

    bool opened = false;
    if (parser.isSet(deviceOption)) {
        int baudRate = 0;
        int stopBits = 0;
        const QString parity = parser.value(parityOption).toLower();
        if (!intOption(baudOption, 1, INT_MAX, &baudRate) || !intOption(stopBitsOption, 1, 2, &stopBits)
            || (parity != QLatin1String("none") && parity != QLatin1String("odd")
                && parity != QLatin1String("even")))
            return fail(QStringLiteral("invalid line settings"));
        opened = instrument.openDevice(parser.value(deviceOption), baudRate,
                                       parity.at(0).toUpper().toLatin1(), stopBits);
    } else {
        opened = instrument.open(parser.value(linkOption));
    }
    if (!opened)
        return fail(instrument.errorString());
    if (parser.isSet(lineOption)) {
        const QStringList parts = parser.value(lineOption).toLower().split(QLatin1Char(','));
        int rate = 0;
        int stop = 0;
        if (parts.size() != 3 || !parseInt(parts.at(0), 1, INT_MAX, &rate)
            || !parseInt(parts.at(2), 1, 2, &stop)
            || !QStringList({ "none", "odd", "even" }).contains(parts.at(1)))
            return fail(QStringLiteral("invalid --line"));
        instrument.setLineSettings(rate, parts.at(1).at(0).toUpper().toLatin1(), stop);
    }
    std::vector<std::unique_ptr<VirtualInstrument>> mates;
    if (!addMates(instrument, parser.value(moreOption), parser.value(silentAddressesOption),
                  parser.values(inputOption), !parser.isSet(freezeOption), parser.isSet(ignoreWritesOption),
                  &mates))
        return fail(QStringLiteral("invalid --more-addresses or --silent-addresses"));
    int tcpPort = 0;
    if (!intOption(tcpOption, 1, 65535, &tcpPort))
        return fail(QStringLiteral("invalid --tcp"));
    if (tcpPort != 0 && !instrument.listenTcp(quint16(tcpPort)))
        return fail(instrument.errorString());
    out << instrument.portPath() << Qt::endl;

    const int signalFd = ::signalfd(-1, &termination, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signalFd < 0)
        return fail(QStringLiteral("signalfd failed"));
    QSocketNotifier signalNotifier(signalFd, QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [signalFd] {
        signalfd_siginfo info;
        while (::read(signalFd, &info, sizeof(info)) > 0) { }
        QCoreApplication::quit();
    });

    const int result = app.exec();
    instrument.closePort();
    ::close(signalFd);
    return result;
}
