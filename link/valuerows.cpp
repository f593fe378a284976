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

QString jsonlRow(const QDateTime &time, int address, const QVector<quint16> &words, int channelCount,
                 const QString &error)
{
    QJsonArray values;
    for (const QString &cell : cells(words, channelCount))
        values.append(cell.isEmpty() ? QJsonValue() : QJsonValue(cell.toDouble()));
    QJsonObject object { { "time", timeText(time) }, { "values", values } };
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

} // namespace ValueRows
