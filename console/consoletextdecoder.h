#ifndef METERCONFIG_CONSOLETEXTDECODER_H
#define METERCONFIG_CONSOLETEXTDECODER_H

#include <QByteArray>
#include <QString>

#include <memory>

class QTextCodec;
class QTextDecoder;

// Turns the raw bytes the instrument prints on its console into text. The
// serial port hands them over in arbitrary chunks, so a character whose bytes
// straddle two chunks is held back until it is complete.
//
// However a byte stream is split into chunks, the text of all chunks together
// is the text of the whole stream decoded at once. Only malformed input (bytes
// the encoding cannot decode) may differ, and only in how many replacement
// characters (U+FFFD) stand for it, since where a chunk ends inside a broken
// sequence can change where the decoder resynchronises.
class ConsoleTextDecoder
{
public:
    // Without a codec the local 8-bit encoding is used, as the instrument's
    // console output is meant for the operator's own system.
    explicit ConsoleTextDecoder(const QTextCodec *codec = nullptr);
    ~ConsoleTextDecoder();

    QString decode(const QByteArray &chunk);

private:
    Q_DISABLE_COPY(ConsoleTextDecoder)

    std::unique_ptr<QTextDecoder> m_decoder;
};

#endif // METERCONFIG_CONSOLETEXTDECODER_H
