#ifndef METERCONFIG_REGISTERCODEC_H
#define METERCONFIG_REGISTERCODEC_H

#include <QString>
#include <QStringList>
#include <QVector>

#include <array>
#include <optional>

// The instrument's register map and the conversions between its 16-bit
// register words and the texts and combo-box indexes of the main window.
namespace RegisterCodec {

// Requests that must reach the instrument whatever its configured address
// (poll, system block, single-register writes) go to this server.
constexpr int FixedServerAddress = 1;

// Unicast Modbus server addresses; 0 is broadcast, 248-255 are reserved.
constexpr int FirstUnicastAddress = 1;
constexpr int LastUnicastAddress = 247;

// Rows of the main window; every channel table has room for more.
constexpr int ChannelRows = 22;

// Input registers 0-21: measured values, signed tenths, word k = channel k+1.
constexpr int MeasuredValueStart = 0;
constexpr int MeasuredValueCount = ChannelRows;

// The four channel tables lie back to back in the holding registers. They
// are read in full but only the rows the window has are written back.
constexpr int ChannelTableWords = 24;
constexpr int ChannelTableWriteWords = ChannelRows;
constexpr int CorrectionTableStart = 300; // signed tenths
constexpr int RangeLowTableStart = 324; // signed integer
constexpr int RangeHighTableStart = 348; // signed integer
constexpr int SensorTypeTableStart = 372; // index code into the sensor-type list

// System block, holding registers 396-401.
constexpr int SystemBlockStart = 396;
constexpr int SystemBlockWords = 6;
constexpr int ChannelCountRegister = 396;
constexpr int InstrumentAddressRegister = 397;
constexpr int BaudRateRegister = 398;
constexpr int StopBitsRegister = 399;
constexpr int ParityRegister = 400;
constexpr int BaudErrorCountRegister = 401;

// Word offsets within a system block reply.
constexpr int ChannelCountWord = ChannelCountRegister - SystemBlockStart;
constexpr int InstrumentAddressWord = InstrumentAddressRegister - SystemBlockStart;
constexpr int BaudRateWord = BaudRateRegister - SystemBlockStart;
constexpr int StopBitsWord = StopBitsRegister - SystemBlockStart;
constexpr int ParityWord = ParityRegister - SystemBlockStart;
constexpr int BaudErrorCountWord = BaudErrorCountRegister - SystemBlockStart;

// The operator may change only the address and line settings; the channel
// count and the error count belong to the factory dialog.
constexpr int SystemWriteStart = InstrumentAddressRegister;
constexpr int SystemWriteWords = 4;

// Writing this value here switches the instrument's line to its text console.
constexpr int DebugCommandRegister = 10000;
constexpr quint16 DebugCommandValue = 1;

// The values the signed encodings hold.
constexpr double SignedTenthsLowest = -3276.8;
constexpr double SignedTenthsHighest = 3276.7;
constexpr int SignedIntegerLowest = -32768;
constexpr int SignedIntegerHighest = 32767;

// Choice lists whose item index is the code the instrument stores.
constexpr std::array<int, 8> BaudRates = { 4800, 9600, 14400, 19200, 28800, 38400, 57600, 115200 };
constexpr int BaudRateChoices = int(BaudRates.size());
constexpr int StopBitChoices = 2;
constexpr int SensorTypeChoices = 33;

// The sensor-type list: item i names code i. The window's sensor boxes hold
// exactly these items; the command-line tool and its files use the same texts.
const QStringList &sensorTypeNames();

// A reply may carry fewer words than asked for; the missing ones count as 0.
quint16 wordAt(const QVector<quint16> &words, int index);

// Reply word -> the value it stands for, and the text shown in a field.
float signedTenths(quint16 word);
QString signedTenthsText(quint16 word);
QString signedIntegerText(quint16 word);
QString unsignedIntegerText(quint16 word);

// Reply word -> combo-box index; -1 (no current item) for a code outside a
// list of itemCount entries.
int choiceIndex(quint16 code, int itemCount);
// The instrument stores the stop-bit count itself (1 or 2), not an index.
int stopBitsIndex(quint16 word);

// A correction's text -> word as the instrument expects it (tenths, rounded
// to single precision, then truncated); text that does not parse gives 0.
quint16 signedTenthsWord(const QString &text);
// The stop-bit box's index -> the count the instrument stores.
quint16 stopBitsWord(int currentIndex);

// What an operator or a file asks to write, checked first: a word only when
// the instrument can hold that value, never a wrapped or defaulted one.
// A correction: a finite decimal number from -3276.8 to 3276.7.
std::optional<quint16> checkedSignedTenthsWord(const QString &text);
// A range limit: an integer from -32768 to 32767.
std::optional<quint16> checkedSignedIntegerWord(const QString &text);
// A choice: an index into a list of itemCount entries.
std::optional<quint16> checkedChoiceWord(int currentIndex, int itemCount);
// A raw register word: an integer from 0 to 65535.
std::optional<quint16> checkedUnsignedIntegerWord(const QString &text);
// A sensor type by its text in the list (exact, case-sensitive) or by its
// code as a decimal number within the list.
std::optional<quint16> checkedSensorTypeWord(const QString &text);
// The baud-rate code of a rate of the list, e.g. 19200 -> 3.
std::optional<quint16> checkedBaudRateWord(qint64 baudRate);
// The stop-bit word (the count itself) of 1 or 2 stop bits.
std::optional<quint16> checkedStopBitsWord(qint64 stopBits);

// The server address typed in the address field, as the channel-table and
// debug requests use it, but only if it names a single server (1-247), else 0,
// so that a slip in the field can never turn a request into a broadcast.
int unicastAddress(const QString &text);

} // namespace RegisterCodec

#endif // METERCONFIG_REGISTERCODEC_H
