#include "metercommands.h"

#include "addresslist.h"

#include <QFile>
#include <QSaveFile>

using namespace RegisterCodec;

namespace {

QString range(int start, int count)
{
    return count == 1 ? QString::number(start) : QStringLiteral("%1-%2").arg(start).arg(start + count - 1);
}

QVector<quint16> systemWords(const MeterConfiguration &configuration, int first, int count)
{
    QVector<quint16> words;
    for (int i = first; i < first + count; ++i)
        words << configuration.system[size_t(i)];
    return words;
}

} // namespace

MeterCommands::MeterCommands(MeterLink &link, QTextStream &out, QTextStream &err)
    : m_link(link)
    , m_out(out)
    , m_err(err)
{ }

void MeterCommands::fail(const QString &message)
{
    m_out.flush();
    m_err << "meterctl: " << message << Qt::endl;
}

bool MeterCommands::openLink()
{
    QString error;
    if (m_link.open(&error))
        return true;
    fail(error);
    return false;
}

bool MeterCommands::readConfiguration(MeterConfiguration *configuration)
{
    const MeterLink::Result system = m_link.readHolding(SystemBlockStart, SystemBlockWords);
    if (!system.ok) {
        fail(system.error);
        return false;
    }
    for (int i = 0; i < SystemBlockWords; ++i)
        configuration->system[size_t(i)] = system.words.at(i);
    // Whole tables, as the window reads them; the rows it lacks are dropped.
    for (int table = 0; table < MeterConfiguration::TableCount; ++table) {
        const MeterLink::Result words
            = m_link.readHolding(MeterConfiguration::tableStart(table), ChannelTableWords);
        if (!words.ok) {
            fail(words.error);
            return false;
        }
        configuration->setTableWords(table, words.words);
    }
    return true;
}

bool MeterCommands::loadFile(const QString &path, MeterConfiguration *configuration)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("%1: %2").arg(path, file.errorString()));
        return false;
    }
    QString problem;
    if (!MeterFile::decode(file.readAll(), configuration, &problem)) {
        fail(QStringLiteral("%1: %2").arg(path, problem));
        return false;
    }
    return true;
}

int MeterCommands::writeVerified(int start, const QVector<quint16> &words, const QString &what)
{
    const MeterLink::Result written = m_link.writeHolding(start, words);
    if (!written.ok) {
        fail(written.error);
        return NoLink;
    }
    const MeterLink::Result back = m_link.readHolding(start, words.size());
    if (!back.ok && start == SystemWriteStart) {
        // A meter may take a new address or line settings at once.
        fail(QStringLiteral("%1 (%2) written but not verified: %3; the meter may have taken the new settings")
                 .arg(range(start, words.size()), what, back.error));
        return Differs;
    }
    if (!back.ok) {
        fail(back.error);
        return NoLink;
    }
    if (back.words != words) {
        QStringList wrong;
        for (int i = 0; i < words.size(); ++i) {
            if (back.words.at(i) != words.at(i))
                wrong << QStringLiteral("%1 holds %2 instead of %3")
                             .arg(start + i)
                             .arg(back.words.at(i))
                             .arg(words.at(i));
        }
        fail(QStringLiteral("%1 (%2) not verified: %3")
                 .arg(range(start, words.size()), what, wrong.join(QStringLiteral(", "))));
        return Differs;
    }
    m_out << "wrote " << range(start, words.size()) << " (" << what << "), verified" << Qt::endl;
    return Done;
}

int MeterCommands::read(bool json)
{
    MeterConfiguration meter;
    if (!openLink() || !readConfiguration(&meter))
        return NoLink;
    if (json)
        m_out << QString::fromUtf8(MeterFile::encode(meter, QDateTime::currentDateTimeUtc()));
    else
        m_out << MeterFile::listing(meter);
    m_out.flush();
    return Done;
}

int MeterCommands::backup(const QString &path)
{
    MeterConfiguration meter;
    if (!openLink() || !readConfiguration(&meter))
        return NoLink;
    // A temporary file renamed over the old one: an interrupted backup
    // leaves the previous file as it was.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)
        || file.write(MeterFile::encode(meter, QDateTime::currentDateTimeUtc())) < 0 || !file.commit()) {
        fail(QStringLiteral("%1: %2").arg(path, file.errorString()));
        return BadFile;
    }
    m_out << "saved " << path << Qt::endl;
    return Done;
}

int MeterCommands::diff(const QString &path)
{
    MeterConfiguration file;
    if (!loadFile(path, &file))
        return BadFile;
    MeterConfiguration meter;
    if (!openLink() || !readConfiguration(&meter))
        return NoLink;
    const QStringList lines = MeterFile::differences(file, meter);
    for (const QString &line : lines)
        m_out << line << '\n';
    m_out.flush();
    return lines.isEmpty() ? Done : Differs;
}

int MeterCommands::restore(const QString &path, const RestoreOptions &options)
{
    MeterConfiguration file;
    if (!loadFile(path, &file))
        return BadFile;
    const auto &system = file.system;
    if (options.withLineSettings) {
        const int address = system[InstrumentAddressWord];
        QString problem;
        if (address < FirstUnicastAddress || address > LastUnicastAddress)
            problem = QStringLiteral("\"address\" %1 is not a single server (1-247)").arg(address);
        else if (system[BaudRateWord] >= BaudRateChoices)
            problem = QStringLiteral("baud-rate code %1 names no rate").arg(system[BaudRateWord]);
        else if (!checkedStopBitsWord(system[StopBitsWord]))
            problem = QStringLiteral("\"stopBits\" %1 is neither 1 nor 2").arg(system[StopBitsWord]);
        else if (system[ParityWord] >= ParityChoices)
            problem = QStringLiteral("parity code %1 names no parity").arg(system[ParityWord]);
        if (!problem.isEmpty()) {
            fail(QStringLiteral("%1: \"system\": %2; the line settings are not restored from it")
                     .arg(path, problem));
            return BadFile;
        }
    }
    if (options.withFactory) {
        for (const int word : { ChannelCountWord, BaudErrorCountWord }) {
            if (system[size_t(word)] > 0xFF) {
                fail(QStringLiteral("%1: \"system\": \"%2\" %3 does not fit the byte the meter keeps it in")
                         .arg(path, MeterFile::systemKey(word))
                         .arg(system[size_t(word)]));
                return BadFile;
            }
        }
    }

    MeterConfiguration meter;
    if (!openLink() || !readConfiguration(&meter))
        return NoLink;

    struct Write
    {
        int start;
        QVector<quint16> words;
        QString what;
    };
    QVector<Write> writes;
    for (int table = 0; table < MeterConfiguration::TableCount; ++table) {
        if (file.tables[size_t(table)] != meter.tables[size_t(table)])
            writes.append({ MeterConfiguration::tableStart(table), file.tableWords(table),
                            MeterConfiguration::tableKey(table) + QStringLiteral(" table") });
    }
    // The factory words one by one, as the factory dialog writes them.
    if (options.withFactory) {
        for (const int word : { ChannelCountWord, BaudErrorCountWord }) {
            if (file.system[size_t(word)] != meter.system[size_t(word)])
                writes.append(
                    { SystemBlockStart + word, systemWords(file, word, 1), MeterFile::systemKey(word) });
        }
    }
    // Last: once the address or line settings change, the meter may stop
    // answering at the ones this link uses.
    const QVector<quint16> line = systemWords(file, InstrumentAddressWord, SystemWriteWords);
    const bool lineDiffers = line != systemWords(meter, InstrumentAddressWord, SystemWriteWords);
    if (options.withLineSettings && lineDiffers)
        writes.append({ SystemWriteStart, line, QStringLiteral("address and line settings") });

    for (const QString &difference : MeterFile::differences(file, meter))
        m_out << difference << '\n';
    if (!options.withLineSettings && lineDiffers)
        m_out << "address and line settings left as they are (--with-line-settings writes them)\n";
    const bool factoryDiffers = file.system[ChannelCountWord] != meter.system[ChannelCountWord]
        || file.system[BaudErrorCountWord] != meter.system[BaudErrorCountWord];
    if (!options.withFactory && factoryDiffers)
        m_out << "channel count and baud error count left as they are (--with-factory writes them)\n";

    if (options.dryRun) {
        for (const Write &write : writes)
            m_out << "would write " << range(write.start, write.words.size()) << " (" << write.what << ")\n";
        m_out << (writes.isEmpty() ? "dry run: nothing to write" : "dry run: nothing written") << Qt::endl;
        return Done;
    }
    m_written = 0;
    for (const Write &write : writes) {
        const int result = writeVerified(write.start, write.words, write.what);
        if (result != Done)
            return result;
        ++m_written;
    }
    if (writes.isEmpty())
        m_out << "the meter already holds " << path << "; nothing written" << Qt::endl;
    return Done;
}

bool MeterCommands::parseAssignments(const QStringList &pairs, QVector<Change> *changes, QString *problem)
{
    static const QStringList tableKeys = { QStringLiteral("correction"), QStringLiteral("low"),
                                           QStringLiteral("high"), QStringLiteral("sensor") };
    static const QStringList parities
        = { QStringLiteral("none"), QStringLiteral("odd"), QStringLiteral("even") };
    changes->clear();
    for (const QString &pair : pairs) {
        const int equals = pair.indexOf(QLatin1Char('='));
        const QString key = pair.left(equals);
        const QString value = pair.mid(equals + 1);
        const auto bad = [&](const QString &why) {
            *problem = QStringLiteral("%1: %2").arg(pair, why);
            return false;
        };
        if (equals <= 0)
            return bad(QStringLiteral("not KEY=VALUE"));

        const int dot = key.indexOf(QLatin1Char('.'));
        const int table = tableKeys.indexOf(key.left(dot));
        if (dot > 0 && table >= 0) {
            const QString which = key.mid(dot + 1);
            bool ok = false;
            const int channel = which.toInt(&ok, 10);
            if (which != QLatin1String("all") && (!ok || channel < 1 || channel > ChannelTableWriteWords))
                return bad(QStringLiteral("the channel must be 1-22 or all"));
            std::optional<quint16> word;
            QString expected;
            switch (table) {
            case MeterConfiguration::Correction:
                word = checkedSignedTenthsWord(value);
                expected = QStringLiteral("a correction is a number from -3276.8 to 3276.7");
                break;
            case MeterConfiguration::SensorType:
                word = checkedSensorTypeWord(value);
                expected = QStringLiteral("a sensor type is one of %1, or its code 0-32")
                               .arg(sensorTypeNames().join(QLatin1Char(' ')));
                break;
            default:
                word = checkedSignedIntegerWord(value);
                expected = QStringLiteral("a range limit is a whole number from -32768 to 32767");
                break;
            }
            if (!word)
                return bad(expected);
            const int first = ok ? channel : 1;
            const int last = ok ? channel : ChannelTableWriteWords;
            for (int c = first; c <= last; ++c)
                changes->append({ MeterConfiguration::tableStart(table) + c - 1, *word });
            continue;
        }

        std::optional<quint16> word;
        int address = 0;
        if (key == QLatin1String("address")) {
            address = InstrumentAddressRegister;
            word = checkedUnsignedIntegerWord(value);
            if (!word || *word < FirstUnicastAddress || *word > LastUnicastAddress)
                return bad(QStringLiteral("an address is 1-247"));
        } else if (key == QLatin1String("baud")) {
            address = BaudRateRegister;
            bool ok = false;
            const qint64 rate = value.toLongLong(&ok, 10);
            word = ok ? checkedBaudRateWord(rate) : std::nullopt;
            if (!word)
                return bad(
                    QStringLiteral("the baud rate is one of 4800 9600 14400 19200 28800 38400 57600 115200"));
        } else if (key == QLatin1String("parity")) {
            address = ParityRegister;
            word = checkedChoiceWord(parities.indexOf(value), ParityChoices);
            if (!word)
                return bad(QStringLiteral("the parity is none, odd or even"));
        } else if (key == QLatin1String("stop")) {
            address = StopBitsRegister;
            bool ok = false;
            const int stop = value.toInt(&ok, 10);
            word = ok ? checkedStopBitsWord(stop) : std::nullopt;
            if (!word)
                return bad(QStringLiteral("the stop bits are 1 or 2"));
        } else {
            return bad(QStringLiteral("unknown key; the keys are sensor.N low.N high.N correction.N "
                                      "(N = 1-22 or all), address, baud, parity, stop"));
        }
        changes->append({ address, *word });
    }
    if (changes->isEmpty()) {
        *problem = QStringLiteral("nothing to set");
        return false;
    }
    return true;
}

int MeterCommands::set(const QVector<Change> &changes)
{
    if (!openLink())
        return NoLink;
    struct Block
    {
        int start;
        int readCount;
        int writeStart;
        int writeCount;
        QString what;
    };
    QVector<Block> blocks;
    for (int table = 0; table < MeterConfiguration::TableCount; ++table) {
        const int start = MeterConfiguration::tableStart(table);
        blocks.append({ start, ChannelTableWords, start, ChannelTableWriteWords,
                        MeterConfiguration::tableKey(table) + QStringLiteral(" table") });
    }
    // The address and line settings last, as in restore.
    blocks.append({ SystemBlockStart, SystemBlockWords, SystemWriteStart, SystemWriteWords,
                    QStringLiteral("address and line settings") });

    for (const Block &block : blocks) {
        const int writeEnd = block.writeStart + block.writeCount;
        bool touched = false;
        for (const Change &change : changes)
            touched = touched || (change.address >= block.writeStart && change.address < writeEnd);
        if (!touched)
            continue;
        const MeterLink::Result current = m_link.readHolding(block.start, block.readCount);
        if (!current.ok) {
            fail(current.error);
            return NoLink;
        }
        QVector<quint16> words = current.words.mid(block.writeStart - block.start, block.writeCount);
        const QVector<quint16> before = words;
        for (const Change &change : changes) {
            if (change.address >= block.writeStart && change.address < writeEnd)
                words[change.address - block.writeStart] = change.word;
        }
        if (words == before) {
            m_out << range(block.writeStart, block.writeCount) << " (" << block.what << ") already holds that"
                  << Qt::endl;
            continue;
        }
        const int result = writeVerified(block.writeStart, words, block.what);
        if (result != Done)
            return result;
    }
    return Done;
}

bool MeterCommands::parseAddresses(const QString &text, QVector<int> *addresses)
{
    return AddressList::parse(text, addresses);
}

int MeterCommands::clone(const QString &path, const QVector<int> &addresses, const RestoreOptions &options)
{
    MeterConfiguration file;
    if (!loadFile(path, &file))
        return BadFile;
    QStringList summary;
    int worst = Done;
    for (const int address : addresses) {
        m_out << "== address " << address << Qt::endl;
        m_link.close();
        m_link.setServerAddress(address);
        m_written = 0;
        const int result = restore(path, options);
        QString outcome;
        if (result == Done && options.dryRun)
            outcome = QStringLiteral("dry run");
        else if (result == Done)
            outcome = m_written ? QStringLiteral("differed and fixed") : QStringLiteral("verified");
        else if (result == Differs)
            outcome = QStringLiteral("not verified");
        else
            outcome = QStringLiteral("no answer");
        summary << QStringLiteral("%1  %2").arg(address, 7).arg(outcome);
        if (result == Differs || (result == NoLink && worst == Done))
            worst = result;
    }
    m_out << "\naddress  result\n" << summary.join(QLatin1Char('\n')) << Qt::endl;
    return worst;
}
