#include "metercommands.h"

#include "addresslist.h"

#include <QFile>
#include <QSaveFile>

using namespace MeterSchema;
using namespace RegisterCodec;

namespace {

QString range(int start, int count)
{
    return count == 1 ? QString::number(start) : QStringLiteral("%1-%2").arg(start).arg(start + count - 1);
}

// What one KEY=VALUE of "set" changes; known is false for a KEY that names nothing.
struct Assignment
{
    bool known = false;
    QString problem;
    QVector<MeterCommands::Change> changes;
};

// KEY.N=VALUE, N a channel or "all", for the table whose set key is KEY.
Assignment parseTableAssignment(const QString &key, const QString &value)
{
    Assignment result;
    const int dot = key.indexOf(QLatin1Char('.'));
    for (const ChannelTable &table : channelTables()) {
        if (dot <= 0 || key.left(dot) != QLatin1String(table.setKey))
            continue;
        result.known = true;
        const QString which = key.mid(dot + 1);
        bool one = false;
        const int channel = which.toInt(&one, 10);
        const std::optional<quint16> word = table.encode(value);
        if (which != QLatin1String("all") && (!one || channel < 1 || channel > ChannelTableWriteWords))
            result.problem = QStringLiteral("the channel must be 1-%1 or all").arg(ChannelTableWriteWords);
        else if (!word)
            result.problem = expected(table);
        else if (one)
            result.changes.append({ table.start + channel - 1, *word });
        else
            for (int c = 0; c < ChannelTableWriteWords; ++c)
                result.changes.append({ table.start + c, *word });
        break;
    }
    return result;
}

// KEY=VALUE for a system word the operator may write.
Assignment parseSystemAssignment(const QString &key, const QString &value)
{
    Assignment result;
    for (const SystemWord &word : systemWords()) {
        if (word.writer != Writer::Operator || key != QLatin1String(word.setKey))
            continue;
        result.known = true;
        if (const std::optional<quint16> w = word.fromText(value))
            result.changes.append({ word.registerAddress, *w });
        else
            result.problem = expected(word);
        break;
    }
    return result;
}

QString assignmentKeys()
{
    QStringList tables;
    for (const ChannelTable &table : channelTables())
        tables << QStringLiteral("%1.N").arg(QLatin1String(table.setKey));
    QStringList keys = { tables.join(QLatin1Char(' '))
                         + QStringLiteral(" (N = 1-%1 or all)").arg(ChannelTableWriteWords) };
    for (const SystemWord &word : systemWords()) {
        if (word.writer == Writer::Operator)
            keys << QLatin1String(word.setKey);
    }
    return keys.join(QStringLiteral(", "));
}

QVector<quint16> blockWords(const MeterConfiguration &configuration, int first, int count)
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
    for (const ChannelTable &table : channelTables()) {
        const MeterLink::Result words = m_link.readHolding(table.start, ChannelTableWords);
        if (!words.ok) {
            fail(words.error);
            return false;
        }
        configuration->setTableWords(table.table, words.words);
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
    for (int w = 0; w < SystemWordCount; ++w) {
        const SystemWord &word = systemWord(w);
        const bool restored = (word.writer == Writer::Operator && options.withLineSettings)
            || (word.writer == Writer::Factory && options.withFactory);
        const quint16 value = file.system[size_t(w)];
        if (restored && !mayWrite(word, value)) {
            fail(QStringLiteral("%1: \"system\": \"%2\" %3 cannot be restored: %4")
                     .arg(path, QLatin1String(word.fileKey), word.toText(value), expected(word)));
            return BadFile;
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
    for (const ChannelTable &table : channelTables()) {
        if (file.tables[size_t(table.table)] != meter.tables[size_t(table.table)])
            writes.append({ table.start, file.tableWords(table.table),
                            QLatin1String(table.fileKey) + QStringLiteral(" table") });
    }
    // The factory words one by one, as the factory dialog writes them.
    bool factoryDiffers = false;
    for (int w = 0; w < SystemWordCount; ++w) {
        const SystemWord &word = systemWord(w);
        if (word.writer != Writer::Factory || file.system[size_t(w)] == meter.system[size_t(w)])
            continue;
        factoryDiffers = true;
        if (options.withFactory)
            writes.append({ word.registerAddress, blockWords(file, w, 1), QLatin1String(word.fileKey) });
    }
    // Last: once the address or line settings change, the meter may stop
    // answering at the ones this link uses.
    const QVector<quint16> line = blockWords(file, InstrumentAddressWord, SystemWriteWords);
    const bool lineDiffers = line != blockWords(meter, InstrumentAddressWord, SystemWriteWords);
    if (options.withLineSettings && lineDiffers)
        writes.append({ SystemWriteStart, line, QStringLiteral("address and line settings") });

    for (const QString &difference : MeterFile::differences(file, meter))
        m_out << difference << '\n';
    if (!options.withLineSettings && lineDiffers)
        m_out << "address and line settings left as they are (--with-line-settings writes them)\n";
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
    changes->clear();
    for (const QString &pair : pairs) {
        const int equals = pair.indexOf(QLatin1Char('='));
        Assignment assignment;
        if (equals > 0) {
            assignment = parseTableAssignment(pair.left(equals), pair.mid(equals + 1));
            if (!assignment.known)
                assignment = parseSystemAssignment(pair.left(equals), pair.mid(equals + 1));
        }
        if (equals <= 0)
            assignment.problem = QStringLiteral("not KEY=VALUE");
        else if (!assignment.known)
            assignment.problem = QStringLiteral("unknown key; the keys are %1").arg(assignmentKeys());
        if (!assignment.problem.isEmpty()) {
            *problem = QStringLiteral("%1: %2").arg(pair, assignment.problem);
            return false;
        }
        *changes += assignment.changes;
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
    for (const ChannelTable &table : channelTables())
        blocks.append({ table.start, ChannelTableWords, table.start, ChannelTableWriteWords,
                        QLatin1String(table.fileKey) + QStringLiteral(" table") });
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
