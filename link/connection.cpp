#include "ui_widget.h"
#include "widget.h"

#include "devicechange.h"
#include "meterschema.h"
#include "openfailure.h"
#include "portlist.h"
#include "portwatcher.h"
#include "replies.h"
#include "trends.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QModbusRtuSerialMaster>
#include <QSerialPort>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

bool Widget::isConnected() const
{
    return m_modbusDevice->state() == QModbusDevice::ConnectedState;
}

void Widget::on_pushButton_clicked()
{
    if (isConnected())
        return;
    if (openLink())
        enterConnectedMode();
    else
        showOpenFailure(m_modbusDevice->findChild<QSerialPort *>());
}

void Widget::showOpenFailure(const QSerialPort *port)
{
    OpenFailure failure;
    failure.portName = ui->serialPortCombo->currentText();
    if (port) {
        failure.error = port->error();
        failure.errorString = port->errorString();
    }
#ifndef Q_OS_WIN
    // The device file behind a name, found the way the serial port finds it.
    const QFileInfo device(failure.portName.startsWith(QLatin1Char('/'))
                               ? failure.portName
                               : QStringLiteral("/dev/") + failure.portName);
    failure.exists = device.exists();
    failure.accessible = device.isReadable() && device.isWritable();
#endif

    QMessageBox box;
    box.setWindowTitle(QStringLiteral("打开串口错误"));
    box.setText(QStringLiteral("打开失败，串口可能被占用."));
    box.setInformativeText(openFailureReason(failure));
    box.exec();
}

bool Widget::openLink()
{
    using MeterSchema::LineSettings;
    // The lists are the form's own and always have a current item.
    const LineSettings line
        = LineSettings::fromIndexes(ui->baudRateCombo->currentIndex(), ui->jiaoyanCombo->currentIndex(),
                                    ui->stopbitCombo->currentIndex())
              .value_or(LineSettings());
    m_modbusDevice->setConnectionParameter(QModbusDevice::SerialPortNameParameter,
                                           ui->serialPortCombo->currentText());
    m_modbusDevice->setConnectionParameter(QModbusDevice::SerialBaudRateParameter, line.baudRate);
    m_modbusDevice->setConnectionParameter(QModbusDevice::SerialDataBitsParameter, QSerialPort::Data8);
    m_modbusDevice->setConnectionParameter(QModbusDevice::SerialStopBitsParameter, line.serialStopBits());
    m_modbusDevice->setConnectionParameter(QModbusDevice::SerialParityParameter, line.serialParity());
    m_modbusDevice->setTimeout(LineSettings::DefaultTimeoutMs);
    m_modbusDevice->setNumberOfRetries(LineSettings::DefaultRetries);

    if (!m_modbusDevice->connectDevice())
        return false;
    // What an earlier connection read may no longer be the instrument's.
    m_systemRead.reset();
    watchLinkPort();
    m_trends->linkOpened(ui->serialPortCombo->currentText());
    return true;
}

void Widget::on_pushButton_2_clicked()
{
    enterIdleMode();
    m_trends->linkClosed();
    if (isConnected())
        m_modbusDevice->disconnectDevice();
}

void Widget::onStateChanged(int state)
{
    Q_UNUSED(state)
}

void Widget::refreshPortList()
{
    refreshPortList(m_portNames ? m_portNames() : systemPortNames());
}

void Widget::refreshPortList(const QStringList &names)
{
    const PortList::Ordered ordered = PortList::order(names);
    ui->serialPortCombo->clear();
    ui->serialPortCombo->addItems(ordered.names);
    ui->serialPortCombo->setCurrentIndex(ordered.current);
}

bool Widget::nativeEvent(const QByteArray &eventType, void *message, long *result)
{
    Q_UNUSED(eventType)
    Q_UNUSED(result)
#ifdef Q_OS_WIN
    const MSG *msg = static_cast<const MSG *>(message);
    const DeviceChange::Event event
        = DeviceChange::decode(msg->message, msg->wParam, reinterpret_cast<const void *>(msg->lParam));
    if (event.kind == DeviceChange::Kind::Arrival)
        onPortArrived();
    else if (event.kind == DeviceChange::Kind::Removal)
        onPortRemoved(event.portName);
#else
    Q_UNUSED(message)
#endif
    return false;
}

void Widget::onPortArrived()
{
    const QString selected = ui->serialPortCombo->currentText();
    refreshPortList();
    ui->serialPortCombo->setCurrentText(selected);
}

void Widget::onPortRemoved(const QString &portName)
{
    if (portName == ui->serialPortCombo->currentText())
        on_pushButton_2_clicked();
    onPortArrived();
}

void Widget::startPortWatch()
{
#ifndef Q_OS_WIN
    // Windows tells every top-level window about serial ports coming and
    // going; elsewhere we have to watch for them ourselves.
    auto *watcher = new PortWatcher(this);
    connect(watcher, &PortWatcher::portArrived, this, &Widget::onPortArrived);
    connect(watcher, &PortWatcher::portRemoved, this, &Widget::onPortRemoved);
    // What the list shows was scanned a moment ago; scanning again here
    // would only delay the window's first paint.
    QStringList listed;
    for (int i = 0; i < ui->serialPortCombo->count(); ++i)
        listed << ui->serialPortCombo->itemText(i);
    watcher->start(listed);
#endif
}

void Widget::watchPort(QSerialPort *port, void (Widget::*onLost)())
{
    watchPortLoss(port, this, [this, onLost] { (this->*onLost)(); });
}

void Widget::watchLinkPort()
{
    // The client owns its serial port; one that is gone (adapter unplugged,
    // line hung up) otherwise leaves it "connected" with a request queue that
    // never moves again. The client's own error reports say no more than the
    // port's, and a single failed read is no reason to close.
    auto *port = m_modbusDevice->findChild<QSerialPort *>();
    if (port && port != m_watchedLinkPort) {
        m_watchedLinkPort = port;
        watchPort(port, &Widget::dropBrokenLink);
    }
}

void Widget::dropBrokenLink()
{
    if (!isConnected())
        return;
    on_pushButton_2_clicked();
}
