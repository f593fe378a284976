#include "portsnapshot.h"

#include <QSet>

namespace PortSnapshot {

namespace {

QStringList missingFrom(const QStringList &names, const QSet<QString> &others)
{
    QStringList missing;
    QSet<QString> seen;
    for (const QString &name : names) {
        if (others.contains(name) || seen.contains(name))
            continue;
        seen.insert(name);
        missing.append(name);
    }
    return missing;
}

} // namespace

Difference diff(const QStringList &before, const QStringList &after)
{
    const QSet<QString> beforeSet(before.cbegin(), before.cend());
    const QSet<QString> afterSet(after.cbegin(), after.cend());
    return { missingFrom(after, beforeSet), missingFrom(before, afterSet) };
}

} // namespace PortSnapshot
