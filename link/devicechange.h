#ifndef METERCONFIG_DEVICECHANGE_H
#define METERCONFIG_DEVICECHANGE_H

#include <QString>

// Reads the serial-port arrival and removal notifications that Windows sends
// to every top-level window. The structures are decoded from their byte
// layout rather than through the system headers, so the same code builds and
// is tested everywhere.
namespace DeviceChange {

constexpr quint32 WmDeviceChange = 0x0219;
constexpr quintptr DbtDeviceArrival = 0x8000;
constexpr quintptr DbtDeviceRemoveComplete = 0x8004;
constexpr quint32 DbtDevTypPort = 3;

// DEV_BROADCAST_HDR: size, device type, reserved, each a 32-bit DWORD.
constexpr int HeaderSize = 12;
// DEV_BROADCAST_PORT_W keeps the UTF-16 port name right after the header.
constexpr int PortNameOffset = HeaderSize;
// Port names are short; a size beyond this is not trusted.
constexpr int MaxBroadcastSize = HeaderSize + 2 * 256;

enum class Kind { None, Arrival, Removal };

struct Event
{
    Kind kind = Kind::None;
    QString portName;
};

// message, wParam and lParam of the window message as Windows delivers them;
// lParam points to the broadcast structure or is null. Only the first length
// bytes at lParam are read, whatever the structure's own size field claims.
Event decode(quint32 message, quintptr wParam, const void *lParam, qsizetype length);

// The same for a structure as the system hands it over, whose size field is
// its length (within MaxBroadcastSize).
Event decode(quint32 message, quintptr wParam, const void *lParam);

} // namespace DeviceChange

#endif // METERCONFIG_DEVICECHANGE_H
