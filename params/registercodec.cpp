#include "registercodec.h"

#include <cmath>
#include <limits>

namespace RegisterCodec {

namespace {

// Low 16 bits, so negative numbers go out in two's complement.
quint16 lowWord(qint64 value)
{
    return quint16(quint64(value) & 0xFFFFu);
}

} // namespace

quint16 wordAt(const QVector<quint16> &words, int index)
{
    return index >= 0 && index < words.size() ? words.at(index) : quint16(0);
}

float signedTenths(quint16 word)
{
    // Single precision on purpose: the value must round to one decimal the
    // same way whether it comes from the poll, a table or a plot.
    return float(qint16(word)) / 10.0f;
}

QString signedTenthsText(quint16 word)
{
    return QString::number(double(signedTenths(word)), 'f', 1);
}

QString signedIntegerText(quint16 word)
{
    return QString::number(qint16(word), 10);
}

QString unsignedIntegerText(quint16 word)
{
    return QString::number(uint(word), 10);
}

int choiceIndex(quint16 code, int itemCount)
{
    return int(code) < itemCount ? int(code) : -1;
}

int stopBitsIndex(quint16 word)
{
    return word >= 1 && word <= StopBitChoices ? int(word) - 1 : -1;
}

quint16 signedTenthsWord(const QString &text)
{
    const double product = text.toDouble() * 10.0;
    if (std::isnan(product))
        return 0;

    // Converting a floating-point value that an integer (or a float) cannot
    // hold is undefined, so anything beyond 32 bits is pinned to the nearest
    // 16-bit extreme before it gets near a conversion.
    constexpr double Limit = 2147483648.0; // 2^31
    if (!(std::fabs(product) < Limit))
        return product > 0 ? lowWord(std::numeric_limits<qint16>::max())
                           : lowWord(std::numeric_limits<qint16>::min());

    // The instrument expects the product rounded to single precision and then
    // truncated; rounding can carry a value just below 2^31 up to it.
    const float rounded = float(product);
    if (!(rounded < float(Limit) && rounded >= -float(Limit)))
        return rounded > 0 ? lowWord(std::numeric_limits<qint16>::max())
                           : lowWord(std::numeric_limits<qint16>::min());
    return lowWord(qint32(rounded));
}

quint16 stopBitsWord(int currentIndex)
{
    return lowWord(qint64(currentIndex) + 1);
}

std::optional<quint16> checkedSignedTenthsWord(const QString &text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < SignedTenthsLowest || value > SignedTenthsHighest)
        return std::nullopt;
    return signedTenthsWord(text);
}

std::optional<quint16> checkedSignedIntegerWord(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok || value < SignedIntegerLowest || value > SignedIntegerHighest)
        return std::nullopt;
    return lowWord(value);
}

std::optional<quint16> checkedChoiceWord(int currentIndex, int itemCount)
{
    if (currentIndex < 0 || currentIndex >= itemCount)
        return std::nullopt;
    return lowWord(currentIndex);
}

std::optional<quint16> checkedUnsignedIntegerWord(const QString &text)
{
    bool ok = false;
    const uint value = text.toUInt(&ok, 10);
    if (!ok || value > std::numeric_limits<quint16>::max())
        return std::nullopt;
    return quint16(value);
}

const QStringList &sensorTypeNames()
{
    static const QStringList names = {
        QStringLiteral("K"),      QStringLiteral("E"),      QStringLiteral("N"),
        QStringLiteral("J"),      QStringLiteral("WR3-25"), QStringLiteral("T"),
        QStringLiteral("B"),      QStringLiteral("R"),      QStringLiteral("S"),
        QStringLiteral("NC1"),    QStringLiteral("NC2"),    QStringLiteral("NC3"),
        QStringLiteral("0-20MA"), QStringLiteral("4-20MA"), QStringLiteral("WR5_26"),
        QStringLiteral("F2"),     QStringLiteral("0-50mv"), QStringLiteral("0-100mv"),
        QStringLiteral("0-75mv"), QStringLiteral("NC4"),    QStringLiteral("CU50"),
        QStringLiteral("PT100"),  QStringLiteral("CU100"),  QStringLiteral("NC5"),
        QStringLiteral("NC6"),    QStringLiteral("NC7"),    QStringLiteral("NC8"),
        QStringLiteral("0-400R"), QStringLiteral("NC9"),    QStringLiteral("NC10"),
        QStringLiteral("NC11"),   QStringLiteral("1-5V"),   QStringLiteral("0-5V"),
    };
    static_assert(SensorTypeChoices == 33, "the sensor-type list and its count go together");
    return names;
}

std::optional<quint16> checkedSensorTypeWord(const QString &text)
{
    const int index = sensorTypeNames().indexOf(text);
    if (index >= 0)
        return quint16(index);
    bool ok = false;
    const int code = text.toInt(&ok, 10);
    return ok ? checkedChoiceWord(code, SensorTypeChoices) : std::nullopt;
}

std::optional<quint16> checkedBaudRateWord(qint64 baudRate)
{
    for (int code = 0; code < BaudRateChoices; ++code) {
        if (BaudRates[size_t(code)] == baudRate)
            return quint16(code);
    }
    return std::nullopt;
}

std::optional<quint16> checkedStopBitsWord(qint64 stopBits)
{
    if (stopBits < 1 || stopBits > StopBitChoices)
        return std::nullopt;
    return quint16(stopBits);
}

int unicastAddress(const QString &text)
{
    bool ok = false;
    const uint address = text.toUInt(&ok, 10);
    if (!ok || address < uint(FirstUnicastAddress) || address > uint(LastUnicastAddress))
        return 0;
    return int(address);
}

} // namespace RegisterCodec
