#include "widget.h"

#include "registercodec.h"

#include <QModbusDataUnit>
#include <QModbusReply>
#include <QModbusRtuSerialMaster>

void Widget::write_slot(int addr, int dat)
{
    if (!isConnected())
        return;

    QModbusDataUnit unit(QModbusDataUnit::HoldingRegisters, addr, 1);
    unit.setValue(0, quint16(dat & 0xFFFF));
    sendWriteAndForget(unit, RegisterCodec::FixedServerAddress);
}

void Widget::sendWriteAndForget(const QModbusDataUnit &unit, int serverAddress)
{
    QModbusReply *reply = m_modbusDevice->sendWriteRequest(unit, serverAddress);
    if (!reply)
        return;
    if (reply->isFinished()) {
        reply->deleteLater();
        return;
    }
    connect(reply, &QModbusReply::finished, this, [reply]() { reply->deleteLater(); });
}

QModbusReply *Widget::sendRead(const QModbusDataUnit &unit, int serverAddress, void (Widget::*handler)())
{
    QModbusReply *reply = m_modbusDevice->sendReadRequest(unit, serverAddress);
    if (!reply)
        return nullptr;
    if (reply->isFinished()) {
        delete reply;
        return nullptr;
    }
    connect(reply, &QModbusReply::finished, this, handler);
    return reply;
}
