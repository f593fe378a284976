#include "addresslist.h"

#include "registercodec.h"

#include <QStringList>

namespace AddressList {

bool parse(const QString &text, QVector<int> *addresses)
{
    addresses->clear();
    for (const QString &part : text.split(QLatin1Char(','))) {
        const QStringList ends = part.split(QLatin1Char('-'));
        bool ok = ends.size() <= 2;
        const int first = ends.first().toInt(&ok, 10);
        int last = first;
        if (ok && ends.size() == 2)
            last = ends.last().toInt(&ok, 10);
        if (!ok || ends.size() > 2 || first < RegisterCodec::FirstUnicastAddress
            || last > RegisterCodec::LastUnicastAddress || first > last)
            return false;
        for (int address = first; address <= last; ++address) {
            if (!addresses->contains(address))
                addresses->append(address);
        }
    }
    return !addresses->isEmpty();
}

} // namespace AddressList
