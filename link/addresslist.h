#ifndef METERCONFIG_ADDRESSLIST_H
#define METERCONFIG_ADDRESSLIST_H

#include <QString>
#include <QVector>

// Lists of server addresses as people type them: 2,5,7-12. Each address
// once, in the order given.
namespace AddressList {

// False for anything but unicast addresses 1-247 and ascending ranges.
bool parse(const QString &text, QVector<int> *addresses);

} // namespace AddressList

#endif // METERCONFIG_ADDRESSLIST_H
