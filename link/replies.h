#ifndef METERCONFIG_REPLIES_H
#define METERCONFIG_REPLIES_H

#include <QVector>

#include <QSerialPort>

#include <functional>

class QModbusReply;
class QObject;

// The reply behind a finished() signal, if it carries a good result: its
// words go to *words and the caller releases it. An error reply is released
// here and gives nullptr, so that no control changes on a failed exchange.
QModbusReply *goodReply(QObject *sender, QVector<quint16> *words);

// Whether a port that reported error is gone for good, open but carrying
// nothing any more: the resource went away (adapter unplugged), or the line
// is hung up. A failed read or write on a line that is still there is not.
bool isPortLost(const QSerialPort *port, QSerialPort::SerialPortError error);

// Calls onLost when the open port reports an error that isPortLost() judges
// a loss; only after the port's own signal has returned, as the port is
// still at work in it. Ends with context.
void watchPortLoss(QSerialPort *port, QObject *context, const std::function<void()> &onLost);

#endif // METERCONFIG_REPLIES_H
