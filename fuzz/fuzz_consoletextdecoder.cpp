// The console decoder gets the instrument's bytes in whatever chunks the
// serial port hands over; what it shows must not depend on them. Input: the
// encoding (first byte), a seed for the chunk lengths (second byte), then the
// byte stream.

#include "consoletextdecoder.h"

#include <QList>
#include <QString>
#include <QTextCodec>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

const char *const Encodings[] = { "UTF-8", "GBK", "GB18030", "Big5" };

QString decodeInChunks(const QTextCodec *codec, const QByteArray &stream, quint8 seed)
{
    ConsoleTextDecoder decoder(codec);
    QString text;
    // Chunks of 0 to 7 bytes; a seed of 0 hands the bytes over one at a time.
    quint32 state = seed;
    for (int at = 0; at < stream.size();) {
        int length = 1;
        if (seed != 0) {
            state = state * 1103515245u + 12345u;
            length = int((state >> 16) % 8);
        }
        text += decoder.decode(stream.mid(at, length));
        at += length;
    }
    return text;
}

QString withoutReplacements(QString text)
{
    return text.remove(QChar::ReplacementCharacter);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const QTextCodec *codec = QTextCodec::codecForName(Encodings[data[0] % std::size(Encodings)]);
    if (!codec)
        return 0;
    const QByteArray stream(reinterpret_cast<const char *>(data + 2), int(size - 2));

    ConsoleTextDecoder whole(codec);
    const QString expected = whole.decode(stream);
    const QString chunked = decodeInChunks(codec, stream, data[1]);
    // Malformed input (the whole stream shows a replacement character) may be
    // replaced differently where a chunk boundary falls inside it; everything
    // else must be the same to the character.
    if (expected.contains(QChar::ReplacementCharacter)) {
        if (withoutReplacements(expected) != withoutReplacements(chunked))
            std::abort();
    } else if (expected != chunked) {
        std::abort();
    }
    return 0;
}
