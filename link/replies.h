#ifndef METERCONFIG_REPLIES_H
#define METERCONFIG_REPLIES_H

#include <QVector>

#include <QSerialPort>

class QModbusReply;
class QObject;

// The reply behind a finished() signal, if it carries a good result: its
// words go to *words and the caller releases it. An error reply is released
// here and gives nullptr, so that no control changes on a failed exchange.
QModbusReply *goodReply(QObject *sender, QVector<quint16> *words);

// Errors after which a serial port stays open but carries nothing any more
// (adapter unplugged, line gone), as opposed to a single failed exchange.
inline bool isPortLost(QSerialPort::SerialPortError error)
{
    return error == QSerialPort::ResourceError || error == QSerialPort::ReadError
        || error == QSerialPort::WriteError;
}

#endif // METERCONFIG_REPLIES_H
