#ifndef METERCTL_METERCONFIGURATION_H
#define METERCTL_METERCONFIGURATION_H

#include "meterschema.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

#include <array>

// Everything of one meter's configuration that the window shows: the system
// block (396-401) and channels 1-22 of the four channel tables, as the words
// the meter holds. Words are kept as they are, named or not, so that a
// configuration read, saved and loaded again is the same words.
struct MeterConfiguration
{
    // Indexed by MeterSchema::Table, in the order the window writes them.
    static constexpr int TableCount = MeterSchema::TableCount;

    std::array<quint16, RegisterCodec::SystemBlockWords> system {};
    std::array<std::array<quint16, RegisterCodec::ChannelTableWriteWords>, TableCount> tables {};

    QVector<quint16> tableWords(int table) const;
    void setTableWords(int table, const QVector<quint16> &words);

    bool operator==(const MeterConfiguration &other) const
    {
        return system == other.system && tables == other.tables;
    }
    bool operator!=(const MeterConfiguration &other) const { return !(*this == other); }
};

namespace MeterFile {

constexpr char FormatName[] = "meterconfig-backup";
constexpr int FormatVersion = 1;

// A system word's key name and the text of its value (a baud rate, a parity
// name, a number; a code outside its list as the code itself).
QString systemKey(int word);
QString systemValueText(int word, quint16 value);

// The backup document: UTF-8 JSON, one line per channel, keys in a fixed
// order so that a person can edit it and compare two of them.
QByteArray encode(const MeterConfiguration &configuration, const QDateTime &savedUtc);

// Reads a backup document, checking all of it. On the first problem returns
// false and says what and where in *problem; *configuration is then unchanged.
bool decode(const QByteArray &document, MeterConfiguration *configuration, QString *problem);

// One line per word that differs, channels first by channel then table,
// then the system words: "channel 5 sensor: file PT100, meter K".
QStringList differences(const MeterConfiguration &file, const MeterConfiguration &meter);

// The configuration as a table a person reads at a glance.
QString listing(const MeterConfiguration &configuration);

} // namespace MeterFile

#endif // METERCTL_METERCONFIGURATION_H
