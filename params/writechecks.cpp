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

template<typename Field, typename Check>
void checkTable(Table table, const QVector<Field> &fields, Check check, ChannelTablesCheck *result)
{
    for (int i = 0; i < ChannelTableWriteWords; ++i) {
        const std::optional<quint16> word = i < fields.size() ? check(fields.at(i)) : std::nullopt;
        if (word)
            result->words[table] << *word;
        else
            result->faults << FieldFault { table, i + 1 };
    }
}

} // namespace

ChannelTablesCheck checkChannelTables(const ChannelTableFields &fields)
{
    ChannelTablesCheck result;
    checkTable(Correction, fields.corrections.toVector(), checkedSignedTenthsWord, &result);
    checkTable(RangeLow, fields.lows.toVector(), checkedSignedIntegerWord, &result);
    checkTable(RangeHigh, fields.highs.toVector(), checkedSignedIntegerWord, &result);
    checkTable(
        SensorType, fields.sensorIndexes,
        [](int index) { return checkedChoiceWord(index, SensorTypeChoices); }, &result);
    if (!result.faults.isEmpty())
        result.words = {};
    return result;
}

QString tableName(Table table)
{
    switch (table) {
    case Correction:
        return tr("测量值修正");
    case RangeLow:
        return tr("量程下限");
    case RangeHigh:
        return tr("量程上限");
    case SensorType:
    default:
        return tr("传感器类型");
    }
}

QString describeFaults(const QVector<FieldFault> &faults, int shown)
{
    QStringList lines;
    for (int i = 0; i < faults.size() && i < shown; ++i)
        lines << tr("%1：通道%2").arg(tableName(faults.at(i).table)).arg(faults.at(i).channel);
    if (faults.size() > shown)
        lines << tr("……（共%1处）").arg(faults.size());
    return lines.join(QLatin1Char('\n'));
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
    const int address = unicastAddress(addressText);
    const std::optional<quint16> baud = checkedChoiceWord(baudIndex, BaudRateChoices);
    const std::optional<quint16> stopBits = checkedChoiceWord(stopBitsIndex, StopBitChoices);
    const std::optional<quint16> parity = checkedChoiceWord(parityIndex, ParityChoices);
    if (address == 0)
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

    result.words = { quint16(address), *baud, stopBitsWord(stopBitsIndex), *parity };
    result.changesLink = result.words != *read;
    return result;
}

} // namespace WriteChecks
