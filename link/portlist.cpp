#include "portlist.h"

namespace PortList {

int insertionIndex(const QStringList &listed, const QString &name)
{
    for (int i = 0; i < listed.size(); ++i) {
        if (QString::compare(listed.at(i), name, Qt::CaseSensitive) > 0)
            return i;
    }
    return listed.size();
}

Ordered order(const QStringList &arrival)
{
    Ordered result;
    for (const QString &name : arrival) {
        const int at = insertionIndex(result.names, name);
        result.names.insert(at, name);
        if (result.current < 0)
            result.current = at;
        else if (at <= result.current)
            ++result.current;
    }
    return result;
}

} // namespace PortList
