// The virtual instrument frames requests out of whatever arrives on its line.
// Input: a seed for the chunk lengths (first byte), then the line's bytes.

#include "modbusframing.h"

#include <QByteArray>
#include <QVector>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace ModbusFraming;

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

// A request taken must be a whole frame of its function, as it stood in the
// stream.
void checkRequest(const Request &request)
{
    const QByteArray &raw = request.raw;
    require(raw.size() >= 4 && hasValidCrc(raw));
    require(request.serverAddress == quint8(raw.at(0)) && request.serverAddress <= 247);
    require(request.functionCode == quint8(raw.at(1)));
    require(request.functionCode != 0 && request.functionCode < 0x80);
    switch (request.functionCode) {
    case ReadHoldingRegisters:
    case ReadInputRegisters:
    case WriteSingleRegister:
        require(raw.size() == 8);
        break;
    case WriteMultipleRegisters:
        require(raw.size() == 9 + request.byteCount);
        require(request.values.size() == request.byteCount / 2);
        break;
    default:
        require(request.values.isEmpty());
        break;
    }
    require(checkRequestShape(request) <= ServerDeviceFailure);
}

struct Taken
{
    QVector<QByteArray> frames;
    QByteArray rest;
};

// Feeds stream in chunks, checking that every byte taken out of the buffer is
// accounted for: dropped as garbage or part of the request returned.
Taken takeAll(const QByteArray &stream, quint8 seed)
{
    Taken taken;
    QByteArray buffer;
    int removed = 0;
    quint32 state = seed;
    for (int fed = 0; fed < stream.size();) {
        state = state * 1103515245u + 12345u;
        const int length = seed == 0 ? stream.size() : 1 + int((state >> 16) % 16);
        buffer += stream.mid(fed, length);
        fed = qMin(stream.size(), fed + length);
        Request request;
        int discarded = 0;
        while (takeRequest(buffer, &request, &discarded)) {
            require(discarded >= 0);
            removed += discarded;
            require(stream.mid(removed, request.raw.size()) == request.raw);
            removed += request.raw.size();
            checkRequest(request);
            taken.frames.append(request.raw);
        }
        removed += discarded;
        require(buffer == stream.mid(removed, fed - removed));
    }
    taken.rest = buffer;
    return taken;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray stream(reinterpret_cast<const char *>(data + 1), int(size - 1));
    // However the line chunks the bytes, the same requests come out.
    const Taken whole = takeAll(stream, 0);
    const Taken chunked = takeAll(stream, data[0]);
    require(whole.frames == chunked.frames);
    require(whole.rest == chunked.rest);
    return 0;
}
