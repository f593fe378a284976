#include "widget.h"
#include "ui_widget.h"

#include "portlist.h"

#include <QSerialPortInfo>

void Widget::on_pushButton_clicked() {}

void Widget::on_pushButton_2_clicked() {}

void Widget::onStateChanged(int state)
{
    Q_UNUSED(state)
}

void Widget::refreshPortList()
{
    ui->serialPortCombo->clear();
    QStringList listed;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports) {
        const QString name = info.portName();
        const int at = PortList::insertionIndex(listed, name);
        listed.insert(at, name);
        ui->serialPortCombo->insertItem(at, name);
    }
}

bool Widget::nativeEvent(const QByteArray &eventType, void *message, long *result)
{
    Q_UNUSED(eventType)
    Q_UNUSED(message)
    Q_UNUSED(result)
    return false;
}

void Widget::onPortArrived() {}

void Widget::onPortRemoved(const QString &portName)
{
    Q_UNUSED(portName)
}

void Widget::onModbusError() {}

bool Widget::isConnected() const
{
    return false;
}

void Widget::startPortWatch() {}
