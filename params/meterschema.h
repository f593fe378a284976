#ifndef METERCONFIG_METERSCHEMA_H
#define METERCONFIG_METERSCHEMA_H

#include "registercodec.h"

#include <QSerialPort>
#include <QString>

#include <array>
#include <optional>

// The rules of the instrument's registers that the window and meterctl share:
// where each channel table and system word lives, what it is called on the
// form and in a backup file, what may be written to it and by whom, and the
// line settings a link may use. Nothing else spells them out again.
namespace MeterSchema {

// The four channel tables, in the order the window writes them.
enum Table { Correction, RangeLow, RangeHigh, SensorType };
constexpr int TableCount = 4;

struct ChannelTable
{
    Table table;
    int start; // register of channel 1; the table has room for 24 channels
    const char *fileKey; // key of a backup file's channel entry
    const char *setKey; // KEY of meterctl's KEY.N=VALUE
    const char *caption; // the window's page caption, UTF-8
    // A value as typed (a sensor type by its name or code) -> the word, only
    // when the instrument can hold that value.
    std::optional<quint16> (*encode)(const QString &text);
    // A word -> the text the window and the listings show.
    QString (*decode)(quint16 word);
    // The values it takes (the sensor type: a code of its list).
    double lowest;
    double highest;
    int decimals;
};

const std::array<ChannelTable, TableCount> &channelTables();
const ChannelTable &channelTable(int table);
// The page caption, as the window shows it.
QString caption(const ChannelTable &table);
// What a table takes, as meterctl tells it: "a number from -3276.8 to 3276.7".
QString expected(const ChannelTable &table);
// The same, as the window tells it after the caption: "须为 -3276.8 到 3276.7 的数".
QString expectedForOperator(const ChannelTable &table);
// A sensor type's name, or its code where the list names none.
QString sensorTypeText(quint16 word);

// Who may change a system word: the operator with the system group's write
// (and meterctl's restore --with-line-settings and set), the factory dialog
// (and restore --with-factory), or nobody.
enum class Writer { Nobody, Operator, Factory };

struct SystemWord
{
    int registerAddress;
    const char *fileKey; // key of a backup file's "system" object
    const char *setKey; // KEY of meterctl's KEY=VALUE; empty where set does not write it
    Writer writer;
    // A value as typed (a rate, a parity name, a count) -> the word, only when
    // the instrument may be given it.
    std::optional<quint16> (*fromText)(const QString &text);
    // A word -> the text the files and listings show; a code outside its
    // list as the number itself (the baud rate as "code N").
    QString (*toText)(quint16 word);
};

constexpr int SystemWordCount = RegisterCodec::SystemBlockWords;
// Entry k is register 396 + k.
const std::array<SystemWord, SystemWordCount> &systemWords();
const SystemWord &systemWord(int word);
// The word may be written as it stands: fromText takes what toText makes of it.
bool mayWrite(const SystemWord &word, quint16 value);
// What fromText takes, as meterctl tells it: "an address is 1-247".
QString expected(const SystemWord &word);

// The channel count and the error count are bytes in the instrument.
constexpr int FactoryWordHighest = 0xFF;
// The factory dialog's text for one of them: a decimal number 0-255, nothing else.
std::optional<quint16> checkedFactoryWord(const QString &text);

// The parity code the instrument stores (398) and the index of the form's lists.
enum class Parity { None = 0, Odd = 1, Even = 2 };
constexpr int ParityCount = 3;

// One way to run a serial line, and the client settings that go with it.
struct LineSettings
{
    int baudRate = 115200;
    Parity parity = Parity::None;
    int stopBits = 1;

    static constexpr int DefaultTimeoutMs = 500;
    static constexpr int DefaultRetries = 2;

    // The rates the instrument knows; the index is its code and the form's index.
    static const std::array<int, 8> &baudRates();
    // "4800 9600 ... 115200", for messages.
    static QString baudRatesText();
    // meterctl's spellings: "none", "odd", "even".
    static QString parityName(Parity parity);
    static std::optional<Parity> parityFromName(const QString &name);
    // "4800" ... "115200": a rate of the list.
    static std::optional<int> baudRateFromText(const QString &text);
    // "1" or "2".
    static std::optional<int> stopBitsFromText(const QString &text);
    // The form's baud-rate, parity and stop-bit lists' indexes.
    static std::optional<LineSettings> fromIndexes(int baudIndex, int parityIndex, int stopBitsIndex);

    // 'N', 'O' or 'E', as in "8N1".
    char parityLetter() const;
    QSerialPort::Parity serialParity() const;
    QSerialPort::StopBits serialStopBits() const;
    // "19200 odd 1".
    QString text() const;

    bool operator==(const LineSettings &other) const
    {
        return baudRate == other.baudRate && parity == other.parity && stopBits == other.stopBits;
    }
    bool operator!=(const LineSettings &other) const { return !(*this == other); }
};

} // namespace MeterSchema

#endif // METERCONFIG_METERSCHEMA_H
