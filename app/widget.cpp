#include "widget.h"
#include "ui_widget.h"

#include "consoletextdecoder.h"
#include "exchangequeue.h"
#include "formroom.h"
#include "meterschema.h"
#include "portwatcher.h"
#include "registercodec.h"
#include "trends.h"
#include "wholetext.h"

#include <QComboBox>
#include <QDebug>
#include <QLineEdit>
#include <QModbusReply>
#include <QModbusRtuSerialMaster>
#include <QSerialPort>
#include <QTimer>

#include <future>

qint32 g_chnum = 0;
qint32 g_boteErr = 0;

namespace {

template<typename T>
QVector<T *> channelControls(const QWidget *window, const QString &firstName, const QString &pattern)
{
    QVector<T *> controls;
    controls.reserve(22);
    for (int channel = 1; channel <= 22; ++channel) {
        const QString name = channel == 1 && !firstName.isEmpty() ? firstName : pattern.arg(channel);
        controls.append(window->findChild<T *>(name));
    }
    return controls;
}

} // namespace

Widget::Widget(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::Widget)
    , m_timer(nullptr)
    , m_clickCount(0)
    , m_serialPort(nullptr)
    , m_modbusDevice(nullptr)
{
    // Listing the ports mostly waits on the system; that wait is spent
    // building the form, and the list is filled at its usual step.
    auto ports = std::async(std::launch::async, systemPortNames);

    ui->setupUi(this);

    // The form builds the measured-value grid inside a fixed-size container;
    // giving the grid to the group box lets it follow the window's width.
    ui->groupBox_3->setLayout(ui->gridLayout_3);

    m_serialPort = new QSerialPort;
    watchConsolePort();

    // The form's caption starts with a blank; the console logic compares the
    // caption exactly, so the bare text must be in place before any of it runs.
    ui->debugBt->setText(QStringLiteral("开始调试"));
    ui->tabWidget->setCurrentIndex(0);

    refreshPortList(ports.get());

    m_timer = new QTimer(this);
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &Widget::timeOut1S);

    m_modbusDevice = new QModbusRtuSerialMaster(this);
    connect(m_modbusDevice, &QModbusDevice::stateChanged, this, &Widget::onStateChanged);
    m_exchanges = new ExchangeQueue(m_modbusDevice, this);

    enterIdleMode();

    m_valueEdits
        = channelControls<QLineEdit>(this, QStringLiteral("ch1LineE"), QStringLiteral("ch%1LineEdit"));
    m_scEdits = channelControls<QLineEdit>(this, QString(), QStringLiteral("m_sc%1"));
    m_pslEdits = channelControls<QLineEdit>(this, QString(), QStringLiteral("m_psl%1"));
    m_pshEdits = channelControls<QLineEdit>(this, QString(), QStringLiteral("m_psh%1"));
    m_snCombos = channelControls<QComboBox>(this, QString(), QStringLiteral("m_sn%1"));

    ui->baudRateCombo->setCurrentText(QString::number(MeterSchema::LineSettings().baudRate));

    // Room for the widest numbers (the most negative word) at any display
    // scale and font resolution.
    const QString widestTenths = RegisterCodec::signedTenthsText(0x8000);
    const QString widestInteger = RegisterCodec::signedIntegerText(0x8000);
    FormRoom::reserveNumberRoom(m_valueEdits, widestTenths);
    FormRoom::reserveNumberRoom(m_scEdits, widestTenths);
    FormRoom::reserveNumberRoom(m_pslEdits, widestInteger);
    FormRoom::reserveNumberRoom(m_pshEdits, widestInteger);
    FormRoom::keepPortBoxWidth(ui->serialPortCombo);
    FormRoom::giveRoomFirst(ui->horizontalLayout_3, ui->groupBox_3);

    m_wholeText = new WholeTextFitter(this);
    m_wholeText->watchTogether(m_valueEdits);
    for (const QVector<QLineEdit *> *fields : { &m_scEdits, &m_pslEdits, &m_pshEdits }) {
        for (QLineEdit *field : *fields)
            m_wholeText->watch(field);
    }
    watchFieldFaults();
    m_trends = new Trends(this, m_valueEdits, ui->gridLayout_3);
    connect(ui->sendLineEdit, &QLineEdit::returnPressed, this, &Widget::on_sendBt_clicked);

    startPortWatch();
}

Widget::~Widget()
{
    // The client closes while the base class destroys it and finishes every
    // pending reply as it does; none of that may reach a half-destroyed window.
    delete m_exchanges;
    m_exchanges = nullptr;
    m_modbusDevice->disconnect(this);
    const auto replies = m_modbusDevice->findChildren<QModbusReply *>();
    for (QModbusReply *reply : replies)
        reply->disconnect(this);
    if (m_watchedLinkPort)
        m_watchedLinkPort->disconnect(this);
    m_serialPort->disconnect(this);

    delete ui;
    delete m_serialPort;
    delete m_consoleDecoder;
}

void Widget::enterIdleMode()
{
    qDebug() << "8";

    setLineSettingsEnabled(true);

    ui->debugBt->setEnabled(false);
    ui->pushButton->setEnabled(true);
    ui->pushButton_2->setEnabled(false);
    ui->pushButton_3->setEnabled(false);

    m_timer->stop();

    if (ui->debugBt->text() == QStringLiteral("停止调试")) {
        ui->debugBt->setText(QStringLiteral("开始调试"));
        m_serialPort->close();
    }
    showFreshness();
}

void Widget::enterConnectedMode()
{
    setLineSettingsEnabled(false);

    ui->debugBt->setEnabled(true);
    ui->pushButton->setEnabled(false);
    ui->pushButton_2->setEnabled(true);
    ui->pushButton_3->setEnabled(true);

    m_timer->start(1000);
    m_answeredSinceConnect = false;
    showFreshness();

    on_readBt_clicked();
}

void Widget::setLineSettingsEnabled(bool enabled)
{
    ui->serialPortCombo->setEnabled(enabled);
    ui->baudRateCombo->setEnabled(enabled);
    ui->jiaoyanCombo->setEnabled(enabled);
    ui->stopbitCombo->setEnabled(enabled);
}

void Widget::stop_debug()
{
    enterIdleMode();
    // Opening the console closed the Modbus link. Without it the connected
    // layout would poll nothing while looking as if it did.
    if (isConnected() || openLink())
        enterConnectedMode();
    else
        showOpenFailure(m_modbusDevice->findChild<QSerialPort *>());
}
