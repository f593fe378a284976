#include "valuerows.h"

#include "registercodec.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace ValueRows {

QString timeText(const QDateTime &time)
{
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QStringList cells(const QVector<quint16> &words, int channelCount)
{
    QStringList result;
    for (int c = 0; c < RegisterCodec::MeasuredValueCount; ++c)
        result << (c < words.size() && c < channelCount ? RegisterCodec::signedTenthsText(words.at(c))
                                                        : QString());
    return result;
}

QString csvHeader(bool withAddress)
{
    QString header = QStringLiteral("time");
    if (withAddress)
        header += QStringLiteral(",address");
    for (int c = 1; c <= RegisterCodec::MeasuredValueCount; ++c)
        header += QStringLiteral(",ch") + QString::number(c);
    return header + QStringLiteral(",error");
}

QString csvRow(const QDateTime &time, int address, const QVector<quint16> &words, int channelCount,
               const QString &error)
{
    QString quoted = error;
    if (quoted.contains(QLatin1Char(',')) || quoted.contains(QLatin1Char('"'))
        || quoted.contains(QLatin1Char('\n')))
        quoted
            = QLatin1Char('"') + quoted.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
    QString row = timeText(time);
    if (address > 0)
        row += QLatin1Char(',') + QString::number(address);
    return row + QLatin1Char(',') + cells(words, channelCount).join(QLatin1Char(',')) + QLatin1Char(',')
        + quoted;
}

namespace {

QJsonArray valueArray(const QVector<quint16> &words, int channelCount)
{
    QJsonArray values;
    for (const QString &cell : cells(words, channelCount))
        values.append(cell.isEmpty() ? QJsonValue() : QJsonValue(cell.toDouble()));
    return values;
}

// Tag values escape commas, blanks and equals signs; string fields quotes
// and backslashes.
QString escaped(QString text, const QString &special)
{
    QString result;
    for (const QChar c : text) {
        if (special.contains(c))
            result += QLatin1Char('\\');
        result += c == QLatin1Char('\n') ? QLatin1Char(' ') : c;
    }
    return result;
}

} // namespace

QString jsonlRow(const QDateTime &time, int address, const QVector<quint16> &words, int channelCount,
                 const QString &error)
{
    QJsonObject object { { "time", timeText(time) }, { "values", valueArray(words, channelCount) } };
    if (address > 0)
        object.insert(QStringLiteral("address"), address);
    if (!error.isEmpty())
        object.insert(QStringLiteral("error"), error);
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString tableRow(const QDateTime &time, int address, const QVector<quint16> &words, int channelCount,
                 const QString &error)
{
    // Seconds to milliseconds; the offset is the same on every row.
    QString row = timeText(time).left(23);
    if (address > 0)
        row += QLatin1Char(' ') + QString::number(address).rightJustified(3);
    for (const QString &cell : cells(words, channelCount))
        row += QLatin1Char(' ') + cell.rightJustified(7);
    if (!error.isEmpty())
        row += QStringLiteral("  ") + error;
    return row;
}

QString busName(const QString &portName, const QString &tcpHost, quint16 tcpPort)
{
    if (!tcpHost.isEmpty())
        return tcpHost + QLatin1Char('_') + QString::number(tcpPort);
    const int slash = qMax(portName.lastIndexOf(QLatin1Char('/')), portName.lastIndexOf(QLatin1Char('\\')));
    return portName.mid(slash + 1);
}

QString influxLine(const QDateTime &time, const QString &bus, int address, const QVector<quint16> &words,
                   int channelCount, const QString &error)
{
    QStringList fields;
    const QStringList values = cells(words, channelCount);
    for (int c = 0; c < values.size(); ++c) {
        if (!values.at(c).isEmpty())
            fields << QStringLiteral("ch%1=%2").arg(c + 1).arg(values.at(c));
    }
    if (fields.isEmpty())
        fields << QStringLiteral("error=\"%1\"")
                      .arg(escaped(error.isEmpty() ? QStringLiteral("no channels") : error,
                                   QStringLiteral("\"\\")));
    return QStringLiteral("meter,bus=") + escaped(bus, QStringLiteral(", =")) + QStringLiteral(",address=")
        + QString::number(address) + QLatin1Char(' ') + fields.join(QLatin1Char(',')) + QLatin1Char(' ')
        + QString::number(time.toMSecsSinceEpoch() * 1000000);
}

QByteArray message(const QDateTime &time, int address, const QVector<quint16> &words, int channelCount,
                   const QString &error)
{
    const QJsonObject object { { "time", timeText(time) },
                               { "address", address },
                               { "values", valueArray(words, channelCount) },
                               { "error", error.isEmpty() ? QJsonValue() : QJsonValue(error) } };
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace ValueRows
