#include "consoletextdecoder.h"

#include <QTextCodec>
#include <QTextDecoder>

namespace {

// A console is not a file with a header: a byte-order mark is shown like any
// other character. Qt's UTF-8 decoder would otherwise drop one only where it
// takes it for the start of the stream, which after an invalid byte depends
// on where the chunks happen to end.
QTextDecoder *newDecoder(const QTextCodec *codec)
{
    return new QTextDecoder(codec ? codec : QTextCodec::codecForLocale(), QTextCodec::IgnoreHeader);
}

} // namespace

ConsoleTextDecoder::ConsoleTextDecoder(const QTextCodec *codec)
    : m_decoder(newDecoder(codec))
{ }

ConsoleTextDecoder::~ConsoleTextDecoder() = default;

QString ConsoleTextDecoder::decode(const QByteArray &chunk)
{
    // A NUL byte on the line carries no text, but what follows it is still
    // the instrument's output and must be shown. In the 8-bit
    // encodings a console can have, a zero byte never occurs inside a
    // multibyte character, so dropping them cannot split one.
    QByteArray bytes = chunk;
    bytes.replace('\0', QByteArray());
    // Qt's decoders take an empty input as the end of the stream and flush a
    // pending partial character as a replacement character.
    if (bytes.isEmpty())
        return QString();
    return m_decoder->toUnicode(bytes);
}
