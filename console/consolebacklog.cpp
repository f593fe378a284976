#include "consolebacklog.h"

ConsoleBacklog::ConsoleBacklog(int capacity)
    : m_capacity(qMax(1, capacity))
{ }

void ConsoleBacklog::append(const QString &text)
{
    if (text.isEmpty())
        return;
    m_chunks.enqueue(text);
    m_size += text.size();
    if (m_size > m_capacity)
        dropFront(m_size - m_capacity);
}

void ConsoleBacklog::dropFront(int count)
{
    m_dropped += count;
    m_size -= count;
    while (count > 0) {
        const int left = m_chunks.head().size() - m_headOffset;
        if (count < left) {
            m_headOffset += count;
            break;
        }
        count -= left;
        m_chunks.dequeue();
        m_headOffset = 0;
    }
}

ConsoleBacklog::Piece ConsoleBacklog::take(int maxChars)
{
    Piece piece;
    piece.droppedBefore = m_dropped;
    m_dropped = 0;
    int wanted = qMin(qMax(1, maxChars), m_size);
    piece.text.reserve(wanted + 1);
    while (piece.text.size() < wanted) {
        const QString &head = m_chunks.head();
        int n = qMin(wanted - piece.text.size(), head.size() - m_headOffset);
        const bool last = piece.text.size() + n == wanted;
        // A high surrogate at the end goes with its partner: into the next
        // piece, or into this one when it would otherwise stay empty.
        if (last && wanted < m_size && head.at(m_headOffset + n - 1).isHighSurrogate()) {
            if (piece.text.size() + n > 1)
                wanted = piece.text.size() + --n;
            else
                wanted = 2;
        }
        piece.text += QStringView(head).mid(m_headOffset, n);
        m_headOffset += n;
        if (m_headOffset == head.size()) {
            m_chunks.dequeue();
            m_headOffset = 0;
        }
    }
    m_size -= piece.text.size();
    return piece;
}

void ConsoleBacklog::clear()
{
    m_chunks.clear();
    m_size = 0;
    m_headOffset = 0;
    m_dropped = 0;
}
