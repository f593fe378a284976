#include "writechecks.h"

#include "registercodec.h"

#include <QCoreApplication>

using namespace RegisterCodec;

namespace WriteChecks {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("Widget", text);
}

} // namespace

ChannelTablesCheck checkChannelTables(const ChannelTableFields &fields)
{
    ChannelTablesCheck result;
    for (const MeterSchema::ChannelTable &table : MeterSchema::channelTables()) {
        const QStringList &texts = fields.texts.at(table.table);
        for (int i = 0; i < ChannelTableWriteWords; ++i) {
            const std::optional<quint16> word = i < texts.size() ? table.encode(texts.at(i)) : std::nullopt;
            if (word)
                result.words[table.table] << *word;
            else
                result.faults << FieldFault { table.table, i + 1 };
        }
    }
    if (!result.faults.isEmpty())
        result.words = {};
    return result;
}

QString describeFaults(const QVector<FieldFault> &faults, int shown)
{
    QStringList lines;
    for (int i = 0; i < faults.size() && i < shown; ++i)
        lines << tr("%1：通道%2")
                     .arg(MeterSchema::caption(MeterSchema::channelTable(faults.at(i).table)))
                     .arg(faults.at(i).channel);
    if (faults.size() > shown)
        lines << tr("……（共%1处）").arg(faults.size());
    return lines.join(QLatin1Char('\n'));
}

QString describeLimits()
{
    QStringList rules;
    for (const MeterSchema::ChannelTable &table : MeterSchema::channelTables())
        rules << tr("%1%2").arg(MeterSchema::caption(table), MeterSchema::expectedForOperator(table));
    return rules.join(tr("，")) + tr("。");
}

SystemWriteCheck checkSystemWrite(const QString &addressText, int baudIndex, int stopBitsIndex,
                                  int parityIndex, const std::optional<SystemWords> &read)
{
    SystemWriteCheck result;
    // Without a read the boxes show the form's defaults, not the instrument.
    if (!read) {
        result.refusal = tr("尚未从仪表读到系统参数，框中不是仪表的设置。请先读系统参数。");
        return result;
    }
    const std::optional<quint16> address
        = MeterSchema::systemWord(InstrumentAddressWord).fromText(addressText);
    const std::optional<quint16> baud = checkedChoiceWord(baudIndex, BaudRateChoices);
    const std::optional<quint16> stopBits = checkedChoiceWord(stopBitsIndex, StopBitChoices);
    const std::optional<quint16> parity = checkedChoiceWord(parityIndex, MeterSchema::ParityCount);
    if (!address)
        result.refusal
            = tr("仪表地址必须是 %1 到 %2 的十进制数。").arg(FirstUnicastAddress).arg(LastUnicastAddress);
    else if (!baud)
        result.refusal = tr("请选择仪表波特率。");
    else if (!stopBits)
        result.refusal = tr("请选择仪表停止位。");
    else if (!parity)
        result.refusal = tr("请选择仪表校验位。");
    if (!result.refusal.isEmpty())
        return result;

    result.words = { *address, *baud, stopBitsWord(stopBitsIndex), *parity };
    result.changesLink = result.words != *read;
    return result;
}

FactoryWrite checkFactoryWrite(const QString &text, qint32 shared)
{
    FactoryWrite result;
    // A value above a byte, read from the instrument, stays shown as it is.
    if (text == QString::number(shared))
        return result;
    const std::optional<quint16> word = MeterSchema::checkedFactoryWord(text);
    if (!word) {
        result.refusal = tr("“%1”不是 0 到 %2 的十进制数，没有写入仪表，仍为 %3。")
                             .arg(text)
                             .arg(MeterSchema::FactoryWordHighest)
                             .arg(shared);
        return result;
    }
    if (*word != shared)
        result.word = word;
    return result;
}

} // namespace WriteChecks
