// The device-change decoder reads a structure that the system fills in.
// Input: the notification kind (first byte), then the structure's bytes,
// which are all the decoder may read.

#include "devicechange.h"

#include <QtEndian>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

using namespace DeviceChange;

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const quintptr kinds[] = { DbtDeviceArrival, DbtDeviceRemoveComplete, 0x0007 };
    const quintptr wParam = kinds[data[0] % std::size(kinds)];
    const size_t length = size - 1;
    // A copy of exactly the given length, so that a read past it is caught.
    std::unique_ptr<uint8_t[]> structure(new uint8_t[length]);
    if (length > 0)
        std::memcpy(structure.get(), data + 1, length);

    const Event event = decode(WmDeviceChange, wParam, structure.get(), length);
    // Where the structure's own size is within the bytes, trusting it as the
    // system's structures are trusted gives the same.
    if (length >= 4 && qFromLittleEndian<quint32>(structure.get()) <= length) {
        const Event system = decode(WmDeviceChange, wParam, structure.get());
        require(system.kind == event.kind && system.portName == event.portName);
    }
    if (event.kind == Kind::None)
        return 0;
    require(wParam != 0x0007);
    // The name is the structure's UTF-16 text up to its NUL, within its bytes.
    require(length >= size_t(HeaderSize));
    require(size_t(PortNameOffset) + 2 * size_t(event.portName.size()) <= length);
    for (int i = 0; i < event.portName.size(); ++i) {
        const quint16 unit = qFromLittleEndian<quint16>(structure.get() + PortNameOffset + 2 * i);
        require(unit != 0 && unit == event.portName.at(i).unicode());
    }
    return 0;
}
