#ifndef METERCONFIG_VALUEROWS_H
#define METERCONFIG_VALUEROWS_H

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

// The rows in which the measured values leave the program: the log of
// meterctl watch and the window's recording write the same ones. Each
// function returns one line without its line end. An address of 0 means a
// single meter and no address column; empty words mean a poll without a
// good reply, whose reason is the error; words at or above the channel count
// (negative: not yet known) are left out.
namespace ValueRows {

// Local time with its offset and milliseconds, e.g. 2026-03-01T14:05:09.123+01:00.
QString timeText(const QDateTime &time);

// The 22 cells in signed tenths, empty where there is no value.
QStringList cells(const QVector<quint16> &words, int channelCount);

QString csvHeader(bool withAddress);
QString csvRow(const QDateTime &time, int address, const QVector<quint16> &words, int channelCount,
               const QString &error);

QString jsonlRow(const QDateTime &time, int address, const QVector<quint16> &words, int channelCount,
                 const QString &error);

QString tableRow(const QDateTime &time, int address, const QVector<quint16> &words, int channelCount,
                 const QString &error);

// The name of a line for tags and topics: the port's base name (ttyUSB0,
// COM3) or HOST_PORT of a gateway.
QString busName(const QString &portName, const QString &tcpHost, quint16 tcpPort);

// InfluxDB line protocol: measurement meter, tags bus and address, the
// values as float fields ch1..chN or a string field error, nanoseconds.
QString influxLine(const QDateTime &time, const QString &bus, int address, const QVector<quint16> &words,
                   int channelCount, const QString &error);

// One JSON object per poll for a message broker: time, address, all 22
// values (null where there is none) and error (null after a good reply).
QByteArray message(const QDateTime &time, int address, const QVector<quint16> &words, int channelCount,
                   const QString &error);

} // namespace ValueRows

#endif // METERCONFIG_VALUEROWS_H
