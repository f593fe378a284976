#include "meterconfiguration.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QSet>

#include <cmath>

using namespace MeterSchema;
using namespace RegisterCodec;

QVector<quint16> MeterConfiguration::tableWords(int table) const
{
    const auto &words = tables[size_t(table)];
    return QVector<quint16>(words.begin(), words.end());
}

void MeterConfiguration::setTableWords(int table, const QVector<quint16> &words)
{
    for (int i = 0; i < ChannelTableWriteWords; ++i)
        tables[size_t(table)][size_t(i)] = wordAt(words, i);
}

namespace MeterFile {

namespace {

// A baud-rate word the list does not name is kept under its own key, so that
// a code can never be taken for a rate or the other way round.
const char BaudCodeKey[] = "baudCode";

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// A value as the person who wrote the file wrote it, for messages.
QString shown(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Double:
        return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QJsonValue::String:
        return quoted(value.toString());
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Array:
        return QStringLiteral("an array");
    default:
        return QStringLiteral("an object");
    }
}

// The decimal text of a JSON number that is a whole number, else empty text,
// which every checked encoding refuses.
QString integerText(const QJsonValue &value)
{
    if (!value.isDouble())
        return QString();
    const double number = value.toDouble();
    if (!std::isfinite(number) || number != std::trunc(number) || std::fabs(number) > 1e12)
        return QString();
    return QString::number(qint64(number));
}

QString numberText(const QJsonValue &value)
{
    return value.isDouble() ? QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest)
                            : QString();
}

// A string key of a list, or any 16-bit code the list does not name.
std::optional<quint16> namedOrCode(const QJsonValue &value, const QStringList &names)
{
    if (value.isString()) {
        const int index = names.indexOf(value.toString());
        return index >= 0 ? std::optional<quint16>(quint16(index)) : std::nullopt;
    }
    return checkedUnsignedIntegerWord(integerText(value));
}

QStringList parityNames()
{
    QStringList names;
    for (int code = 0; code < ParityCount; ++code)
        names << LineSettings::parityName(Parity(code));
    return names;
}

QString tableKey(int table)
{
    return QString::fromLatin1(channelTable(table).fileKey);
}

// The file lists a channel's tables in this order, the system words in the other.
constexpr Table FileTableOrder[] = { SensorType, RangeLow, RangeHigh, Correction };

// Collects the first problem; every later check becomes a no-op.
class Checker
{
public:
    bool failed() const { return !m_problem.isEmpty(); }
    QString problem() const { return m_problem; }
    void fail(const QString &problem)
    {
        if (!failed())
            m_problem = problem;
    }
    void onlyKeys(const QJsonObject &object, const QStringList &keys, const QString &where)
    {
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (!keys.contains(it.key()))
                fail(QStringLiteral("%1: unknown key %2").arg(where, quoted(it.key())));
        }
        for (const QString &key : keys) {
            if (!object.contains(key))
                fail(QStringLiteral("%1: %2 is missing").arg(where, quoted(key)));
        }
    }
    quint16 word(const QJsonObject &object, const QString &key, std::optional<quint16> word,
                 const QString &where, const QString &expected)
    {
        if (!word)
            fail(QStringLiteral("%1: %2 %3 is not %4")
                     .arg(where, quoted(key), shown(object.value(key)), expected));
        return word.value_or(0);
    }

private:
    QString m_problem;
};

QString lineAndColumn(const QByteArray &document, int offset)
{
    const QByteArray before = document.left(offset);
    const int line = before.count('\n') + 1;
    const int column = offset - (before.lastIndexOf('\n') + 1) + 1;
    return QStringLiteral("line %1, column %2").arg(line).arg(column);
}

void decodeSystem(const QJsonObject &system, MeterConfiguration *result, Checker &check)
{
    const QString where = QStringLiteral("\"system\"");
    QStringList keys;
    for (int word = 0; word < SystemWordCount; ++word)
        keys << systemKey(word);
    const bool byCode
        = system.contains(QLatin1String(BaudCodeKey)) && !system.contains(keys.at(BaudRateWord));
    if (byCode)
        keys[BaudRateWord] = QString::fromLatin1(BaudCodeKey);
    check.onlyKeys(system, keys, where);
    if (check.failed())
        return;
    const QString word16 = QStringLiteral("a whole number from 0 to 65535");
    for (const int index : { ChannelCountWord, InstrumentAddressWord, StopBitsWord, BaudErrorCountWord }) {
        const QString &key = keys.at(index);
        result->system[size_t(index)] = check.word(
            system, key, checkedUnsignedIntegerWord(integerText(system.value(key))), where, word16);
    }
    const QString &baudKey = keys.at(BaudRateWord);
    const QJsonValue baud = system.value(baudKey);
    result->system[BaudRateWord] = byCode
        ? check.word(system, baudKey, checkedUnsignedIntegerWord(integerText(baud)), where, word16)
        : check.word(system, baudKey, checkedBaudRateWord(integerText(baud).toLongLong()), where,
                     QStringLiteral("one of the rates %1").arg(LineSettings::baudRatesText()));
    const QString parityKey = keys.at(ParityWord);
    result->system[ParityWord] = check.word(
        system, parityKey, namedOrCode(system.value(parityKey), parityNames()), where,
        QStringLiteral("\"%1\" or a code from 0 to 65535").arg(parityNames().join(QStringLiteral("\", \""))));
}

void decodeChannels(const QJsonArray &channels, MeterConfiguration *result, Checker &check)
{
    QStringList keys = { QStringLiteral("channel") };
    for (int table = 0; table < TableCount; ++table)
        keys << tableKey(table);
    QSet<int> seen;
    for (int i = 0; i < channels.size() && !check.failed(); ++i) {
        QString where = QStringLiteral("\"channels\" entry %1").arg(i + 1);
        if (!channels.at(i).isObject()) {
            check.fail(QStringLiteral("%1 is not an object").arg(where));
            break;
        }
        const QJsonObject entry = channels.at(i).toObject();
        check.onlyKeys(entry, keys, where);
        const int channel = integerText(entry.value(keys.first())).toInt();
        if (!check.failed() && (channel < 1 || channel > ChannelTableWriteWords))
            check.fail(QStringLiteral("%1: \"channel\" %2 is not a channel from 1 to 22")
                           .arg(where, shown(entry.value(keys.first()))));
        if (!check.failed() && seen.contains(channel))
            check.fail(QStringLiteral("%1: channel %2 appears twice").arg(where).arg(channel));
        if (check.failed())
            break;
        seen.insert(channel);
        where = QStringLiteral("channel %1").arg(channel);

        for (const ChannelTable &table : channelTables()) {
            const QJsonValue value = entry.value(tableKey(table.table));
            // Lossless: a sensor code the list does not name is kept as it is.
            const std::optional<quint16> word = table.table == SensorType
                ? namedOrCode(value, sensorTypeNames())
                : table.encode(table.decimals > 0 ? numberText(value) : integerText(value));
            const QString expected = table.table == SensorType
                ? QStringLiteral("a sensor type of the list (such as \"PT100\") or a code from 0 to 65535")
                : MeterSchema::expected(table);
            result->tables[size_t(table.table)][size_t(channel - 1)]
                = check.word(entry, tableKey(table.table), word, where, expected);
        }
    }
    for (int channel = 1; channel <= ChannelTableWriteWords && !check.failed(); ++channel) {
        if (!seen.contains(channel))
            check.fail(QStringLiteral("\"channels\": channel %1 is missing").arg(channel));
    }
}

} // namespace

QString systemKey(int word)
{
    return QString::fromLatin1(systemWord(word).fileKey);
}

QString systemValueText(int word, quint16 value)
{
    return systemWord(word).toText(value);
}

QByteArray encode(const MeterConfiguration &configuration, const QDateTime &savedUtc)
{
    const auto &system = configuration.system;
    QStringList systemFields;
    for (const int word : { ChannelCountWord, InstrumentAddressWord, BaudRateWord, ParityWord, StopBitsWord,
                            BaudErrorCountWord }) {
        const quint16 value = system[size_t(word)];
        QString key = systemKey(word);
        QString text = systemValueText(word, value);
        if (word == BaudRateWord && value >= BaudRateChoices) {
            key = QString::fromLatin1(BaudCodeKey);
            text = unsignedIntegerText(value);
        } else if (word == ParityWord && value < ParityCount) {
            text = quoted(text);
        }
        systemFields << QStringLiteral("%1: %2").arg(quoted(key), text);
    }

    QStringList channels;
    for (int channel = 0; channel < ChannelTableWriteWords; ++channel) {
        QString line = QStringLiteral("    { \"channel\": %1").arg(channel + 1);
        for (const Table table : FileTableOrder) {
            const quint16 word = configuration.tables[size_t(table)][size_t(channel)];
            QString text = channelTable(table).decode(word);
            if (table == SensorType && word < SensorTypeChoices)
                text = quoted(text);
            line += QStringLiteral(", %1: %2").arg(quoted(tableKey(table)), text);
        }
        channels << line + QStringLiteral(" }");
    }

    QString document;
    document += QStringLiteral("{\n  \"format\": \"%1\",\n  \"version\": %2,\n  \"saved\": \"%3\",\n")
                    .arg(QLatin1String(FormatName))
                    .arg(FormatVersion)
                    .arg(savedUtc.toUTC().toString(Qt::ISODate));
    document += QStringLiteral("  \"system\": { %1 },\n").arg(systemFields.join(QStringLiteral(", ")));
    document += QStringLiteral("  \"channels\": [\n%1\n  ]\n}\n").arg(channels.join(QStringLiteral(",\n")));
    return document.toUtf8();
}

bool decode(const QByteArray &document, MeterConfiguration *configuration, QString *problem)
{
    QJsonParseError error;
    const QJsonDocument json = QJsonDocument::fromJson(document, &error);
    if (error.error != QJsonParseError::NoError) {
        *problem = QStringLiteral("not JSON: %1 at %2")
                       .arg(error.errorString(), lineAndColumn(document, error.offset));
        return false;
    }
    if (!json.isObject()) {
        *problem = QStringLiteral("not a meterconfig backup: the document is not a JSON object");
        return false;
    }
    const QJsonObject root = json.object();
    Checker check;
    if (root.value(QStringLiteral("format")) != QLatin1String(FormatName))
        check.fail(QStringLiteral("not a meterconfig backup: \"format\" is %1, not \"%2\"")
                       .arg(shown(root.value(QStringLiteral("format"))), QLatin1String(FormatName)));
    else if (root.value(QStringLiteral("version")) != FormatVersion)
        check.fail(QStringLiteral("\"version\" %1 is not supported; this meterctl reads version %2")
                       .arg(shown(root.value(QStringLiteral("version"))))
                       .arg(FormatVersion));
    check.onlyKeys(root,
                   { QStringLiteral("format"), QStringLiteral("version"), QStringLiteral("saved"),
                     QStringLiteral("system"), QStringLiteral("channels") },
                   QStringLiteral("the document"));
    if (!check.failed() && !root.value(QStringLiteral("system")).isObject())
        check.fail(QStringLiteral("\"system\" is not an object"));
    if (!check.failed() && !root.value(QStringLiteral("channels")).isArray())
        check.fail(QStringLiteral("\"channels\" is not an array"));

    MeterConfiguration result;
    if (!check.failed())
        decodeSystem(root.value(QStringLiteral("system")).toObject(), &result, check);
    if (!check.failed())
        decodeChannels(root.value(QStringLiteral("channels")).toArray(), &result, check);
    if (check.failed()) {
        *problem = check.problem();
        return false;
    }
    *configuration = result;
    return true;
}

QStringList differences(const MeterConfiguration &file, const MeterConfiguration &meter)
{
    QStringList lines;
    for (int channel = 0; channel < ChannelTableWriteWords; ++channel) {
        for (const Table table : FileTableOrder) {
            const quint16 a = file.tables[size_t(table)][size_t(channel)];
            const quint16 b = meter.tables[size_t(table)][size_t(channel)];
            if (a != b)
                lines << QStringLiteral("channel %1 %2: file %3, meter %4")
                             .arg(channel + 1)
                             .arg(tableKey(table), channelTable(table).decode(a),
                                  channelTable(table).decode(b));
        }
    }
    for (int word = 0; word < SystemBlockWords; ++word) {
        const quint16 a = file.system[size_t(word)];
        const quint16 b = meter.system[size_t(word)];
        if (a != b)
            lines << QStringLiteral("system %1: file %2, meter %3")
                         .arg(systemKey(word), systemValueText(word, a), systemValueText(word, b));
    }
    return lines;
}

QString listing(const MeterConfiguration &configuration)
{
    const auto shown = [&configuration](int word) {
        return systemValueText(word, configuration.system[size_t(word)]);
    };
    QString text;
    text += QStringLiteral("channel count %1, address %2, baud rate %3, parity %4, stop bits %5, "
                           "baud error count %6\n\n")
                .arg(shown(ChannelCountWord), shown(InstrumentAddressWord), shown(BaudRateWord),
                     shown(ParityWord), shown(StopBitsWord), shown(BaudErrorCountWord));
    text += QStringLiteral("channel  sensor   range low  range high  correction\n");
    for (int channel = 0; channel < ChannelTableWriteWords; ++channel) {
        const auto cell = [&](Table table) {
            return channelTable(table).decode(configuration.tables[size_t(table)][size_t(channel)]);
        };
        text += QStringLiteral("%1  %2 %3 %4 %5\n")
                    .arg(channel + 1, 7)
                    .arg(cell(SensorType), -8)
                    .arg(cell(RangeLow), 9)
                    .arg(cell(RangeHigh), 11)
                    .arg(cell(Correction), 11);
    }
    return text;
}

} // namespace MeterFile
