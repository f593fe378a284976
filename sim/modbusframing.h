#ifndef MODBUSFRAMING_H
#define MODBUSFRAMING_H

#include <QByteArray>
#include <QVector>

// Modbus RTU framing for the server side of a line without character timing.
//
// A pseudo-terminal delivers bytes in arbitrary chunks and never tells where
// one frame ends, so a request is recognised by its function code (which fixes
// its length, or says where to find the byte count) and confirmed by its CRC.
// A function code without such a rule cannot start a request.
// Bytes that cannot start a valid request are dropped one at a time until the
// stream lines up with a frame again.
namespace ModbusFraming {

enum FunctionCode : quint8 {
    ReadHoldingRegisters = 0x03,
    ReadInputRegisters = 0x04,
    WriteSingleRegister = 0x06,
    WriteMultipleRegisters = 0x10,
};

enum ExceptionCode : quint8 {
    IllegalFunction = 0x01,
    IllegalDataAddress = 0x02,
    IllegalDataValue = 0x03,
    ServerDeviceFailure = 0x04,
};

constexpr int BroadcastAddress = 0;
constexpr int MaxReadQuantity = 125;
constexpr int MaxWriteQuantity = 123;

// One request as it arrived, decoded as far as its function code allows.
struct Request
{
    quint8 serverAddress = 0;
    quint8 functionCode = 0;
    // Functions 03, 04 and 16: first register and quantity. Function 06:
    // the register and a quantity of 1.
    quint16 startAddress = 0;
    quint16 quantity = 0;
    // Function 16 only: the byte count field as sent.
    quint8 byteCount = 0;
    // Functions 06 and 16: the register values carried by the request.
    QVector<quint16> values;
    // The whole frame including its CRC.
    QByteArray raw;

    bool isBroadcast() const { return serverAddress == BroadcastAddress; }
    bool isWrite() const
    {
        return functionCode == WriteSingleRegister || functionCode == WriteMultipleRegisters;
    }
};

// The CRC-16 of Modbus RTU (polynomial 0xA001 reflected, initial 0xFFFF).
// On the wire the low byte goes first.
quint16 crc16(const QByteArray &data);

// Returns data with its CRC appended, low byte first.
QByteArray withCrc(const QByteArray &data);

// True when the last two bytes of frame are the CRC of the bytes before them.
bool hasValidCrc(const QByteArray &frame);

// Looks for the next request at the front of buffer. Bytes that cannot begin
// a request are removed from buffer (and counted in *discarded when given).
// When a complete request with a valid CRC is found it is removed from buffer,
// decoded into *request, and true is returned. Otherwise buffer keeps the
// possible start of a frame and false is returned: wait for more bytes.
bool takeRequest(QByteArray &buffer, Request *request, int *discarded = nullptr);

// Checks the parts of a request for function 03, 04, 06 or 16 that do not
// depend on the register map: quantity limits and the byte count. Returns 0
// when they are fine, else the exception code to answer with.
quint8 checkRequestShape(const Request &request);

// Reply to function 03 or 04 carrying values.
QByteArray readReply(quint8 serverAddress, quint8 functionCode, const QVector<quint16> &values);

// Reply to function 06: an echo of the register and its value.
QByteArray writeSingleReply(quint8 serverAddress, quint16 address, quint16 value);

// Reply to function 16: the start register and quantity.
QByteArray writeMultipleReply(quint8 serverAddress, quint16 startAddress, quint16 quantity);

// Exception reply: the function code with its high bit set, then the code.
QByteArray exceptionReply(quint8 serverAddress, quint8 functionCode, quint8 exceptionCode);

} // namespace ModbusFraming

#endif // MODBUSFRAMING_H
