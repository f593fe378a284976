#ifndef METERCONFIG_OPENFAILURE_H
#define METERCONFIG_OPENFAILURE_H

#include <QSerialPort>
#include <QString>

// Why a serial port did not open, in the operator's terms. The port's own
// error code lumps a port held by another program together with one the user
// may not open at all; what the caller found out about the device file tells
// the two apart.
struct OpenFailure
{
    QSerialPort::SerialPortError error = QSerialPort::NoError;
    QString portName;
    // The device file is there.
    bool exists = true;
    // The user may read and write the device file.
    bool accessible = true;
    // The port's own error text, for the cases named by nothing above.
    QString errorString;
};

QString openFailureReason(const OpenFailure &failure);

#endif // METERCONFIG_OPENFAILURE_H
