#ifndef METERCONFIG_CONSOLEBACKLOG_H
#define METERCONFIG_CONSOLEBACKLOG_H

#include <QQueue>
#include <QString>

// Text received on the console and not yet in the view. A line can deliver
// far more than the view is able to take in; the view keeps only its newest
// scrollback anyway, so text that would be pushed out of it before it could
// ever be seen is dropped as it arrives, the oldest first, and what was
// dropped is counted so that the view can mark the gap.
class ConsoleBacklog
{
public:
    // The view's scrollback: like a terminal, the console view keeps this
    // many characters of the newest output (several minutes of a line
    // running flat out at 115200 baud). Waiting text is held to a quarter of
    // it, so that the view still shows the mark of a gap with the text after
    // it, and what is shown lags what arrives by a fraction of a second.
    static constexpr int ScrollbackChars = 2000000;

    explicit ConsoleBacklog(int capacity = ScrollbackChars / 4);

    void append(const QString &text);

    struct Piece
    {
        qint64 droppedBefore = 0; // characters lost between the last piece and this one
        QString text;
    };
    // Takes the oldest text, at most maxChars of it. A UTF-16 surrogate pair
    // stays whole, so a piece may be one shorter.
    Piece take(int maxChars);

    bool isEmpty() const { return m_size == 0 && m_dropped == 0; }
    int size() const { return m_size; }
    void clear();

private:
    void dropFront(int count);

    int m_capacity;
    int m_size = 0;
    int m_headOffset = 0; // characters of the first chunk already taken or dropped
    qint64 m_dropped = 0;
    QQueue<QString> m_chunks;
};

#endif // METERCONFIG_CONSOLEBACKLOG_H
