#include "devicechange.h"

#include <QtEndian>

namespace DeviceChange {

Event decode(quint32 message, quintptr wParam, const void *lParam)
{
    Event event;
    if (message != WmDeviceChange || lParam == nullptr)
        return event;

    Kind kind = Kind::None;
    if (wParam == DbtDeviceArrival)
        kind = Kind::Arrival;
    else if (wParam == DbtDeviceRemoveComplete)
        kind = Kind::Removal;
    else
        return event;

    // The structure need not be aligned for us; read it byte-wise.
    const auto *bytes = static_cast<const uchar *>(lParam);
    const quint32 size = qFromLittleEndian<quint32>(bytes);
    const quint32 deviceType = qFromLittleEndian<quint32>(bytes + 4);
    if (deviceType != DbtDevTypPort || size < quint32(HeaderSize))
        return event;

    // The name ends at its NUL or at the end of the structure, whichever
    // comes first; an implausible size only limits how far we look.
    const quint32 end = qMin(size, quint32(MaxBroadcastSize));
    QString name;
    for (quint32 at = PortNameOffset; at + 2 <= end; at += 2) {
        const quint16 unit = qFromLittleEndian<quint16>(bytes + at);
        if (unit == 0)
            break;
        name.append(QChar(unit));
    }

    event.kind = kind;
    event.portName = name;
    return event;
}

} // namespace DeviceChange
