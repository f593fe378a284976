#ifndef METERCONFIG_PORTSNAPSHOT_H
#define METERCONFIG_PORTSNAPSHOT_H

#include <QStringList>

// Where no device notifications are available, port arrival and removal are
// found by comparing two lists of port names taken some time apart.
namespace PortSnapshot {

struct Difference
{
    QStringList added; // in the order of the later list
    QStringList removed; // in the order of the earlier list
};

// Each name is reported at most once; a name listed twice counts as one port.
Difference diff(const QStringList &before, const QStringList &after);

} // namespace PortSnapshot

#endif // METERCONFIG_PORTSNAPSHOT_H
