#include "meterschema.h"

#include <QCoreApplication>
#include <QStringList>

using namespace RegisterCodec;

namespace MeterSchema {

namespace {

QString limitText(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

std::optional<quint16> addressFromText(const QString &text)
{
    const int address = unicastAddress(text);
    return address != 0 ? std::optional<quint16>(quint16(address)) : std::nullopt;
}

std::optional<quint16> baudCodeFromText(const QString &text)
{
    const std::optional<int> rate = LineSettings::baudRateFromText(text);
    return rate ? checkedBaudRateWord(*rate) : std::nullopt;
}

QString baudCodeText(quint16 word)
{
    return word < BaudRateChoices ? QString::number(BaudRates[word]) : QStringLiteral("code %1").arg(word);
}

std::optional<quint16> parityCodeFromText(const QString &text)
{
    const std::optional<Parity> parity = LineSettings::parityFromName(text);
    return parity ? std::optional<quint16>(quint16(*parity)) : std::nullopt;
}

QString parityCodeText(quint16 word)
{
    return word < ParityCount ? LineSettings::parityName(Parity(word)) : unsignedIntegerText(word);
}

std::optional<quint16> stopBitsFromText(const QString &text)
{
    const std::optional<int> stopBits = LineSettings::stopBitsFromText(text);
    return stopBits ? checkedStopBitsWord(*stopBits) : std::nullopt;
}

} // namespace

const std::array<ChannelTable, TableCount> &channelTables()
{
    static const std::array<ChannelTable, TableCount> tables = { {
        { Correction, CorrectionTableStart, "correction", "correction", "测量值修正", checkedSignedTenthsWord,
          signedTenthsText, SignedTenthsLowest, SignedTenthsHighest, 1 },
        { RangeLow, RangeLowTableStart, "rangeLow", "low", "量程下限", checkedSignedIntegerWord,
          signedIntegerText, SignedIntegerLowest, SignedIntegerHighest, 0 },
        { RangeHigh, RangeHighTableStart, "rangeHigh", "high", "量程上限", checkedSignedIntegerWord,
          signedIntegerText, SignedIntegerLowest, SignedIntegerHighest, 0 },
        { SensorType, SensorTypeTableStart, "sensor", "sensor", "传感器类型", checkedSensorTypeWord,
          sensorTypeText, 0, SensorTypeChoices - 1, 0 },
    } };
    return tables;
}

const ChannelTable &channelTable(int table)
{
    return channelTables().at(size_t(table));
}

QString caption(const ChannelTable &table)
{
    return QCoreApplication::translate("Widget", table.caption);
}

QString expected(const ChannelTable &table)
{
    if (table.table == SensorType)
        return QStringLiteral("a sensor type is one of %1, or its code %2-%3")
            .arg(sensorTypeNames().join(QLatin1Char(' ')))
            .arg(table.lowest)
            .arg(table.highest);
    return QStringLiteral("%1 from %2 to %3")
        .arg(table.decimals > 0 ? QStringLiteral("a number") : QStringLiteral("a whole number"),
             limitText(table.lowest, table.decimals), limitText(table.highest, table.decimals));
}

QString expectedForOperator(const ChannelTable &table)
{
    if (table.table == SensorType)
        return QCoreApplication::translate("Widget", "须从列表中选择");
    return QCoreApplication::translate("Widget", "须为 %1 到 %2 的%3")
        .arg(limitText(table.lowest, table.decimals), limitText(table.highest, table.decimals),
             table.decimals > 0 ? QCoreApplication::translate("Widget", "数")
                                : QCoreApplication::translate("Widget", "整数"));
}

QString sensorTypeText(quint16 word)
{
    return word < SensorTypeChoices ? sensorTypeNames().at(word) : QString::number(word);
}

const std::array<SystemWord, SystemWordCount> &systemWords()
{
    static const std::array<SystemWord, SystemWordCount> words = { {
        { ChannelCountRegister, "channelCount", "", Writer::Factory, checkedFactoryWord,
          unsignedIntegerText },
        { InstrumentAddressRegister, "address", "address", Writer::Operator, addressFromText,
          unsignedIntegerText },
        { BaudRateRegister, "baudRate", "baud", Writer::Operator, baudCodeFromText, baudCodeText },
        { StopBitsRegister, "stopBits", "stop", Writer::Operator, stopBitsFromText, unsignedIntegerText },
        { ParityRegister, "parity", "parity", Writer::Operator, parityCodeFromText, parityCodeText },
        { BaudErrorCountRegister, "baudErrorCount", "", Writer::Factory, checkedFactoryWord,
          unsignedIntegerText },
    } };
    return words;
}

const SystemWord &systemWord(int word)
{
    return systemWords().at(size_t(word));
}

bool mayWrite(const SystemWord &word, quint16 value)
{
    return word.writer != Writer::Nobody && word.fromText(word.toText(value)) == value;
}

QString expected(const SystemWord &word)
{
    switch (word.registerAddress) {
    case InstrumentAddressRegister:
        return QStringLiteral("an address is %1-%2").arg(FirstUnicastAddress).arg(LastUnicastAddress);
    case BaudRateRegister:
        return QStringLiteral("the baud rate is one of %1").arg(LineSettings::baudRatesText());
    case StopBitsRegister:
        return QStringLiteral("the stop bits are 1 or %1").arg(StopBitChoices);
    case ParityRegister:
        return QStringLiteral("the parity is %1, %2 or %3")
            .arg(LineSettings::parityName(Parity::None), LineSettings::parityName(Parity::Odd),
                 LineSettings::parityName(Parity::Even));
    default:
        return QStringLiteral("a whole number from 0 to %1").arg(FactoryWordHighest);
    }
}

std::optional<quint16> checkedFactoryWord(const QString &text)
{
    // Digits only: no sign, no blanks, nothing QString::toUInt would forgive.
    if (text.isEmpty())
        return std::nullopt;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    bool ok = false;
    const uint value = text.toUInt(&ok, 10);
    if (!ok || value > uint(FactoryWordHighest))
        return std::nullopt;
    return quint16(value);
}

const std::array<int, 8> &LineSettings::baudRates()
{
    return BaudRates;
}

QString LineSettings::baudRatesText()
{
    QStringList rates;
    for (const int rate : BaudRates)
        rates << QString::number(rate);
    return rates.join(QLatin1Char(' '));
}

QString LineSettings::parityName(Parity parity)
{
    switch (parity) {
    case Parity::Odd:
        return QStringLiteral("odd");
    case Parity::Even:
        return QStringLiteral("even");
    case Parity::None:
    default:
        return QStringLiteral("none");
    }
}

std::optional<Parity> LineSettings::parityFromName(const QString &name)
{
    for (const Parity parity : { Parity::None, Parity::Odd, Parity::Even }) {
        if (name == parityName(parity))
            return parity;
    }
    return std::nullopt;
}

std::optional<int> LineSettings::baudRateFromText(const QString &text)
{
    bool ok = false;
    const qint64 rate = text.toLongLong(&ok, 10);
    if (!ok || !checkedBaudRateWord(rate))
        return std::nullopt;
    return int(rate);
}

std::optional<int> LineSettings::stopBitsFromText(const QString &text)
{
    bool ok = false;
    const int stopBits = text.toInt(&ok, 10);
    if (!ok || !checkedStopBitsWord(stopBits))
        return std::nullopt;
    return stopBits;
}

std::optional<LineSettings> LineSettings::fromIndexes(int baudIndex, int parityIndex, int stopBitsIndex)
{
    const std::optional<quint16> baud = checkedChoiceWord(baudIndex, BaudRateChoices);
    const std::optional<quint16> parity = checkedChoiceWord(parityIndex, ParityCount);
    const std::optional<quint16> stopBits = checkedChoiceWord(stopBitsIndex, StopBitChoices);
    if (!baud || !parity || !stopBits)
        return std::nullopt;
    LineSettings settings;
    settings.baudRate = BaudRates[*baud];
    settings.parity = Parity(*parity);
    settings.stopBits = stopBitsWord(stopBitsIndex);
    return settings;
}

char LineSettings::parityLetter() const
{
    return parity == Parity::Odd ? 'O' : parity == Parity::Even ? 'E' : 'N';
}

QSerialPort::Parity LineSettings::serialParity() const
{
    return parity == Parity::Odd ? QSerialPort::OddParity
        : parity == Parity::Even ? QSerialPort::EvenParity
                                 : QSerialPort::NoParity;
}

QSerialPort::StopBits LineSettings::serialStopBits() const
{
    return stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop;
}

QString LineSettings::text() const
{
    return QStringLiteral("%1 %2 %3").arg(baudRate).arg(parityName(parity)).arg(stopBits);
}

} // namespace MeterSchema
