#include "replies.h"

#include <QModbusReply>

#ifdef Q_OS_UNIX
#include <poll.h>
#endif

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

bool isPortLost(const QSerialPort *port, QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::ResourceError)
        return true;
    if (error != QSerialPort::ReadError && error != QSerialPort::WriteError)
        return false;
#ifdef Q_OS_UNIX
    pollfd descriptor = { int(port->handle()), 0, 0 };
    return ::poll(&descriptor, 1, 0) > 0 && (descriptor.revents & (POLLHUP | POLLERR | POLLNVAL));
#else
    Q_UNUSED(port)
    return false;
#endif
}

void watchPortLoss(QSerialPort *port, QObject *context, const std::function<void()> &onLost)
{
    QObject::connect(port, &QSerialPort::errorOccurred, context,
                     [port, context, onLost](QSerialPort::SerialPortError error) {
                         if (error == QSerialPort::NoError)
                             return;
                         QMetaObject::invokeMethod(
                             context,
                             [port, onLost, error]() {
                                 if (port->isOpen() && isPortLost(port, error))
                                     onLost();
                             },
                             Qt::QueuedConnection);
                     });
}
