#include "widget.h"

#include "exchangequeue.h"
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

void Widget::sendWriteAndForget(const QModbusDataUnit &unit, int serverAddress,
                                const std::function<void(QModbusReply *)> &onFinished)
{
    m_exchanges->write(unit, serverAddress, [this, onFinished](QModbusReply *reply) {
        connect(reply, &QModbusReply::finished, this, [reply, onFinished]() {
            if (onFinished)
                onFinished(reply);
            reply->deleteLater();
        });
    });
}

void Widget::sendRead(const QModbusDataUnit &unit, int serverAddress, void (Widget::*handler)())
{
    m_exchanges->read(unit, serverAddress, [this, handler](QModbusReply *reply) {
        connect(reply, &QModbusReply::finished, this, handler);
    });
}
