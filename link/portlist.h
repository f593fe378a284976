#ifndef METERCONFIG_PORTLIST_H
#define METERCONFIG_PORTLIST_H

#include <QStringList>

namespace PortList {

// Where a port name goes in a list kept in ascending order: before the first
// entry that compares greater (case-sensitive, by UTF-16 code units), so equal
// names keep the order in which they arrived.
int insertionIndex(const QStringList &listed, const QString &name);

struct Ordered
{
    QStringList names;
    int current = -1; // where the first name to arrive ends up; -1 for none
};

// The list as it stands after inserting every name in arrival order, and
// which entry a combo box that was filled this way leaves current.
Ordered order(const QStringList &arrival);

} // namespace PortList

#endif // METERCONFIG_PORTLIST_H
