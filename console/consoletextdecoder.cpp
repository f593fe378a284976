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
    return new QTextDecoder(codec, QTextCodec::IgnoreHeader);
}

// GB18030's characters beyond U+FFFF are the four-byte sequences 90 30 81 30
// to E3 32 9A 35, numbered in order from U+10000. Qt built without ICU (as it
// is for Windows) keeps only the low 16 bits of them, so these are counted out
// here and every other sequence goes to Qt's decoder whole.
constexpr int Gb18030Mib = 114;

bool inRange(char byte, uchar low, uchar high)
{
    return uchar(byte) >= low && uchar(byte) <= high;
}

// The length of the sequence that starts at `at`, or 0 when the bytes end
// before it does.
int gb18030Length(const QByteArray &bytes, int at)
{
    if (!inRange(bytes[at], 0x81, 0xFE))
        return 1;
    if (at + 1 >= bytes.size())
        return 0;
    if (!inRange(bytes[at + 1], 0x30, 0x39))
        return 2;
    return at + 3 < bytes.size() ? 4 : 0;
}

// The character beyond U+FFFF a four-byte sequence stands for, or 0.
char32_t gb18030Supplementary(const char *b)
{
    if (!inRange(b[0], 0x90, 0xE3) || !inRange(b[2], 0x81, 0xFE) || !inRange(b[3], 0x30, 0x39))
        return 0;
    const char32_t linear = ((uchar(b[0]) - 0x90u) * 10 + (uchar(b[1]) - 0x30u)) * 1260
        + (uchar(b[2]) - 0x81u) * 10 + (uchar(b[3]) - 0x30u);
    return linear <= 0x10FFFF - 0x10000 ? 0x10000 + linear : 0;
}

} // namespace

ConsoleTextDecoder::ConsoleTextDecoder(const QTextCodec *codec)
    : m_gb18030((codec ? codec : QTextCodec::codecForLocale())->mibEnum() == Gb18030Mib)
    , m_decoder(newDecoder(codec ? codec : QTextCodec::codecForLocale()))
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
    if (m_gb18030)
        return decodeGb18030(m_held + bytes);
    return m_decoder->toUnicode(bytes);
}

QString ConsoleTextDecoder::decodeGb18030(const QByteArray &bytes)
{
    QString text;
    int run = 0; // where the bytes not yet handed to Qt begin
    int at = 0;
    auto flush = [&](int end) {
        if (end > run)
            text += m_decoder->toUnicode(bytes.constData() + run, end - run);
    };
    while (at < bytes.size()) {
        const int length = gb18030Length(bytes, at);
        if (length == 0)
            break;
        const char32_t beyond = length == 4 ? gb18030Supplementary(bytes.constData() + at) : 0;
        if (beyond != 0) {
            flush(at);
            text += QString::fromUcs4(&beyond, 1);
            run = at + length;
        }
        at += length;
    }
    flush(at);
    m_held = bytes.mid(at);
    return text;
}
