// The register codec and the meter schema turn instrument words into field
// texts and typed or loaded texts back into words. Input: a big-endian word, a choice index (a
// signed byte), an item count, then the text as UTF-8.

#include "meterschema.h"
#include "registercodec.h"

#include <QString>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace RegisterCodec;

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

// A word shown in a field and then written back must be the word read.
void checkWordRoundTrips(quint16 word, int itemCount)
{
    require(checkedSignedTenthsWord(signedTenthsText(word)) == word);
    require(checkedSignedIntegerWord(signedIntegerText(word)) == word);
    require(checkedUnsignedIntegerWord(unsignedIntegerText(word)) == word);
    const int index = choiceIndex(word, itemCount);
    if (index >= 0)
        require(checkedChoiceWord(index, itemCount) == word);
    const int stopBits = stopBitsIndex(word);
    if (stopBits >= 0)
        require(stopBitsWord(stopBits) == word);
}

// Text the checked encodings accept comes back, once shown, as the same
// number to the precision the field has, and shows the same again.
void checkTextRoundTrips(const QString &text)
{
    if (const auto word = checkedSignedTenthsWord(text)) {
        require(*word == signedTenthsWord(text));
        const QString shown = signedTenthsText(*word);
        require(checkedSignedTenthsWord(shown) == word);
        // The instrument truncates to tenths.
        require(std::fabs(shown.toDouble() - text.toDouble()) < 0.1 + 1e-3);
    }
    if (const auto word = checkedSignedIntegerWord(text)) {
        require(signedIntegerText(*word) == QString::number(text.toInt()));
    }
    // Whatever the text, the unchecked conversion gives a word without
    // undefined behaviour, and an address is never a broadcast.
    signedTenthsWord(text);
    const int address = unicastAddress(text);
    require(address == 0 || (address >= FirstUnicastAddress && address <= LastUnicastAddress));
    // A system word taken from text is shown as text that gives it again.
    for (const MeterSchema::SystemWord &system : MeterSchema::systemWords()) {
        if (const auto word = system.fromText(text))
            require(MeterSchema::mayWrite(system, *word));
    }
    if (const auto word = MeterSchema::checkedFactoryWord(text))
        require(*word <= MeterSchema::FactoryWordHighest);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    const quint16 word = quint16((data[0] << 8) | data[1]);
    const int index = int(static_cast<int8_t>(data[2]));
    const int itemCount = data[3];
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data + 4), int(size - 4));

    checkWordRoundTrips(word, itemCount);
    // A choice written and read back selects the same item.
    if (const auto choice = checkedChoiceWord(index, itemCount))
        require(choiceIndex(*choice, itemCount) == index);
    checkTextRoundTrips(text);
    return 0;
}
