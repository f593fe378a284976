#include "devicechange.h"

#include <QtEndian>

namespace DeviceChange {

namespace {

Kind kindOf(quint32 message, quintptr wParam, const void *lParam)
{
    if (message != WmDeviceChange || lParam == nullptr)
        return Kind::None;
    if (wParam == DbtDeviceArrival)
        return Kind::Arrival;
    if (wParam == DbtDeviceRemoveComplete)
        return Kind::Removal;
    return Kind::None;
}

} // namespace

Event decode(quint32 message, quintptr wParam, const void *lParam, qsizetype length)
{
    Event event;
    const Kind kind = kindOf(message, wParam, lParam);
    if (kind == Kind::None || length < HeaderSize)
        return event;

    // The structure need not be aligned for us; read it byte-wise.
    const auto *bytes = static_cast<const uchar *>(lParam);
    const quint32 size = qFromLittleEndian<quint32>(bytes);
    const quint32 deviceType = qFromLittleEndian<quint32>(bytes + 4);
    if (deviceType != DbtDevTypPort || size < quint32(HeaderSize))
        return event;

    // The name ends at its NUL or at the end of the structure, whichever
    // comes first; an implausible size only limits how far we look, and the
    // bytes we were given limit it further.
    const qint64 end = qMin(qMin(qint64(size), qint64(length)), qint64(MaxBroadcastSize));
    QString name;
    for (qint64 at = PortNameOffset; at + 2 <= end; at += 2) {
        const quint16 unit = qFromLittleEndian<quint16>(bytes + at);
        if (unit == 0)
            break;
        name.append(QChar(unit));
    }

    event.kind = kind;
    event.portName = name;
    return event;
}

Event decode(quint32 message, quintptr wParam, const void *lParam)
{
    // Every broadcast structure begins with the header, and its size field
    // is what the system says the structure spans.
    if (kindOf(message, wParam, lParam) == Kind::None)
        return Event();
    const quint32 size = qFromLittleEndian<quint32>(lParam);
    return decode(message, wParam, lParam, qsizetype(qMin(size, quint32(MaxBroadcastSize))));
}

} // namespace DeviceChange
