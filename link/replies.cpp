#include "replies.h"

#include <QModbusReply>

QModbusReply *goodReply(QObject *sender, QVector<quint16> *words)
{
    auto *reply = qobject_cast<QModbusReply *>(sender);
    if (!reply)
        return nullptr;
    if (reply->error() != QModbusDevice::NoError) {
        reply->deleteLater();
        return nullptr;
    }
    *words = reply->result().values();
    return reply;
}
