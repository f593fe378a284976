#ifndef METERCONFIG_WRITECHECKS_H
#define METERCONFIG_WRITECHECKS_H

#include "meterschema.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <array>
#include <optional>

// What the two write buttons may send. A write the instrument cannot hold,
// or one built from fields the operator never filled, is refused as a whole:
// half a configuration, or one wrapped into a different number, is worse
// than none.
namespace WriteChecks {

// The controls' contents by table, entry i = channel i+1; a sensor type as
// the index of its box.
struct ChannelTableFields
{
    std::array<QStringList, MeterSchema::TableCount> texts;
    void addSensorIndex(int index) { texts[MeterSchema::SensorType] << QString::number(index); }
};

struct FieldFault
{
    MeterSchema::Table table;
    int channel; // 1-based
};

struct ChannelTablesCheck
{
    // Filled only when faults is empty.
    std::array<QVector<quint16>, MeterSchema::TableCount> words;
    // In the order the operator reads the tables: table by table, channel by channel.
    QVector<FieldFault> faults;
};

ChannelTablesCheck checkChannelTables(const ChannelTableFields &fields);
// The first few faults, one a line, for the operator; "…" when there are more.
QString describeFaults(const QVector<FieldFault> &faults, int shown = 5);
// What each table takes, one sentence for the operator.
QString describeLimits();

// The four system words as a successful read left them (397-400), or as
// they are about to be written.
using SystemWords = std::array<quint16, 4>;

struct SystemWriteCheck
{
    // Empty when the write may go out; otherwise why it may not.
    QString refusal;
    SystemWords words {};
    // The write moves the instrument to an address or line settings other
    // than the ones read: the tool reaches it only at the new ones after.
    bool changesLink = false;
};

// addressText and the three indexes are the fields of the system group;
// read is the block read in this connection, if any.
SystemWriteCheck checkSystemWrite(const QString &addressText, int baudIndex, int stopBitsIndex,
                                  int parityIndex, const std::optional<SystemWords> &read);

struct FactoryWrite
{
    // Empty when the field asks for nothing or for a write; otherwise why not.
    QString refusal;
    // The word to write, when there is one.
    std::optional<quint16> word;
};

// A factory dialog field's text against the shared value it edits: a write
// only for a decimal number the instrument's byte holds that differs from the
// shared value; the shared value's own text, untouched, asks for nothing.
FactoryWrite checkFactoryWrite(const QString &text, qint32 shared);

} // namespace WriteChecks

#endif // METERCONFIG_WRITECHECKS_H
