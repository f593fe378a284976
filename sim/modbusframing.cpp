#include "modbusframing.h"

namespace ModbusFraming {

namespace {

constexpr int MaxServerAddress = 247;

enum class Probe { Invalid, Incomplete, Complete };

quint16 wordAt(const QByteArray &data, int index)
{
    return quint16((quint8(data.at(index)) << 8) | quint8(data.at(index + 1)));
}

void appendWord(QByteArray &data, quint16 word)
{
    data.append(char(word >> 8));
    data.append(char(word & 0xFF));
}

// How long a request with this function code is, when that can be told from
// the bytes available. Returns 0 while the length field has not arrived yet,
// -1 when the code has no length rule: such a byte cannot start a request.
// Searching every length for a matching CRC instead takes line noise for
// requests many times a second and costs a CRC over up to 256 bytes for every
// byte received.
int expectedLength(const char *frame, int available)
{
    const quint8 function = quint8(frame[1]);
    switch (function) {
    case 0x07: // read exception status
    case 0x0B: // get comm event counter
    case 0x0C: // get comm event log
    case 0x11: // report server id
        return 4;
    case 0x18: // read FIFO queue
        return 6;
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x05:
    case 0x06:
    case 0x08: // diagnostics
        return 8;
    case 0x16: // mask write register
        return 10;
    case 0x14: // read file record
    case 0x15: // write file record
        return available < 3 ? 0 : 5 + quint8(frame[2]);
    case 0x0F:
    case 0x10:
        return available < 7 ? 0 : 9 + quint8(frame[6]);
    case 0x17: // read/write multiple registers
        return available < 11 ? 0 : 13 + quint8(frame[10]);
    case 0x2B: // encapsulated interface: read device identification
        return available < 3 ? 0 : quint8(frame[2]) == 0x0E ? 7 : -1;
    default:
        return -1;
    }
}

Probe probeAt(const QByteArray &buffer, int offset, int *length)
{
    const int available = buffer.size() - offset;
    const char *frame = buffer.constData() + offset;
    if (available < 1)
        return Probe::Incomplete;
    if (quint8(frame[0]) > MaxServerAddress)
        return Probe::Invalid;
    if (available < 2)
        return Probe::Incomplete;
    const quint8 function = quint8(frame[1]);
    if (function == 0 || function >= 0x80)
        return Probe::Invalid;

    const int expected = expectedLength(frame, available);
    if (expected == 0)
        return Probe::Incomplete;
    if (expected < 0)
        return Probe::Invalid;
    if (available < expected)
        return Probe::Incomplete;
    if (!hasValidCrc(QByteArray::fromRawData(frame, expected)))
        return Probe::Invalid;
    *length = expected;
    return Probe::Complete;
}

Request decode(const QByteArray &frame)
{
    Request request;
    request.raw = frame;
    request.serverAddress = quint8(frame.at(0));
    request.functionCode = quint8(frame.at(1));
    switch (request.functionCode) {
    case ReadHoldingRegisters:
    case ReadInputRegisters:
        request.startAddress = wordAt(frame, 2);
        request.quantity = wordAt(frame, 4);
        break;
    case WriteSingleRegister:
        request.startAddress = wordAt(frame, 2);
        request.quantity = 1;
        request.values.append(wordAt(frame, 4));
        break;
    case WriteMultipleRegisters: {
        request.startAddress = wordAt(frame, 2);
        request.quantity = wordAt(frame, 4);
        request.byteCount = quint8(frame.at(6));
        const int words = request.byteCount / 2;
        request.values.reserve(words);
        for (int i = 0; i < words; ++i)
            request.values.append(wordAt(frame, 7 + 2 * i));
        break;
    }
    default:
        break;
    }
    return request;
}

} // namespace

quint16 crc16(const QByteArray &data)
{
    quint16 crc = 0xFFFF;
    for (const char byte : data) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

QByteArray withCrc(const QByteArray &data)
{
    const quint16 crc = crc16(data);
    QByteArray frame = data;
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

bool hasValidCrc(const QByteArray &frame)
{
    if (frame.size() < 3)
        return false;
    const int body = frame.size() - 2;
    const quint16 received = quint16(quint8(frame.at(body)) | (quint8(frame.at(body + 1)) << 8));
    return crc16(QByteArray::fromRawData(frame.constData(), body)) == received;
}

bool takeRequest(QByteArray &buffer, Request *request, int *discarded)
{
    int offset = 0;
    for (; offset < buffer.size(); ++offset) {
        int length = 0;
        const Probe probe = probeAt(buffer, offset, &length);
        if (probe == Probe::Invalid)
            continue;
        if (probe == Probe::Complete) {
            *request = decode(buffer.mid(offset, length));
            buffer.remove(0, offset + length);
            if (discarded)
                *discarded = offset;
            return true;
        }
        break;
    }
    // Everything before the first possible frame start is garbage.
    buffer.remove(0, offset);
    if (discarded)
        *discarded = offset;
    return false;
}

quint8 checkRequestShape(const Request &request)
{
    switch (request.functionCode) {
    case ReadHoldingRegisters:
    case ReadInputRegisters:
        if (request.quantity < 1 || request.quantity > MaxReadQuantity)
            return IllegalDataValue;
        return 0;
    case WriteSingleRegister:
        return 0;
    case WriteMultipleRegisters:
        if (request.quantity < 1 || request.quantity > MaxWriteQuantity
            || request.byteCount != 2 * request.quantity)
            return IllegalDataValue;
        return 0;
    default:
        return IllegalFunction;
    }
}

QByteArray readReply(quint8 serverAddress, quint8 functionCode, const QVector<quint16> &values)
{
    QByteArray pdu;
    pdu.append(char(serverAddress));
    pdu.append(char(functionCode));
    pdu.append(char(values.size() * 2));
    for (const quint16 value : values)
        appendWord(pdu, value);
    return withCrc(pdu);
}

namespace {

// Both write replies echo two words of the request.
QByteArray echoReply(quint8 serverAddress, quint8 functionCode, quint16 first, quint16 second)
{
    QByteArray pdu;
    pdu.append(char(serverAddress));
    pdu.append(char(functionCode));
    appendWord(pdu, first);
    appendWord(pdu, second);
    return withCrc(pdu);
}

} // namespace

QByteArray writeSingleReply(quint8 serverAddress, quint16 address, quint16 value)
{
    return echoReply(serverAddress, WriteSingleRegister, address, value);
}

QByteArray writeMultipleReply(quint8 serverAddress, quint16 startAddress, quint16 quantity)
{
    return echoReply(serverAddress, WriteMultipleRegisters, startAddress, quantity);
}

QByteArray exceptionReply(quint8 serverAddress, quint8 functionCode, quint8 exceptionCode)
{
    QByteArray pdu;
    pdu.append(char(serverAddress));
    pdu.append(char(functionCode | 0x80));
    pdu.append(char(exceptionCode));
    return withCrc(pdu);
}

} // namespace ModbusFraming
