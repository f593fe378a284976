#ifndef METERCONFIG_E2ERIG_H
#define METERCONFIG_E2ERIG_H

// The real window and the real Modbus client against the virtual instrument
// on a pseudo-terminal, all on one event loop.

#include "virtualinstrument.h"
#include "widget.h"
#include "windowprobe.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QModbusReply>
#include <QModbusRtuSerialMaster>
#include <QPushButton>
#include <QTest>
#include <QTextCodec>
#include <QTimer>

// Modbus function codes as the instrument's request log shows them.
constexpr quint8 ReadHolding = 0x03;
constexpr quint8 ReadInput = 0x04;
constexpr quint8 WriteSingle = 0x06;
constexpr quint8 WriteMultiple = 0x10;

class E2ERig
{
public:
    using Request = VirtualInstrument::Request;

    E2ERig()
    {
        g_chnum = 0;
        g_boteErr = 0;
        instrument.setDriftEnabled(false);
        window = new Widget;
    }
    ~E2ERig()
    {
        delete window;
        QTextCodec::setCodecForLocale(nullptr);
    }

    // Opens the instrument's pty and selects it in the port list, which on
    // Linux does not list pseudo-terminals by itself.
    bool openInstrument()
    {
        if (!instrument.open())
            return false;
        selectPort(instrument.portPath());
        return true;
    }

    void selectPort(const QString &path)
    {
        auto *ports = find<QComboBox>("serialPortCombo");
        if (ports->findText(path) < 0)
            ports->addItem(path);
        ports->setCurrentText(path);
    }

    // Presses "启动" and waits for the system read that connecting sends, and
    // for the window to have taken its reply in: the client then holds none.
    bool connectLink()
    {
        QTest::mouseClick(find<QPushButton>("pushButton"), Qt::LeftButton);
        if (client()->state() != QModbusDevice::ConnectedState || !waitForRequests(1))
            return false;
        return QTest::qWaitFor([this]() { return client()->findChildren<QModbusReply *>().isEmpty(); }, 2000);
    }

    // Connects, lets the system read set the address field, and stops the poll
    // so that only what the test sends reaches the instrument afterwards.
    bool connectQuietly()
    {
        if (!connectLink() || !QTest::qWaitFor([]() { return g_chnum != 0; }, 3000))
            return false;
        pollTimer()->stop();
        settle();
        instrument.clearRequests();
        return true;
    }

    bool waitForRequests(int count, int timeoutMs = 3000)
    {
        QElapsedTimer clock;
        clock.start();
        while (instrument.requests().size() < count && clock.elapsed() < timeoutMs)
            QTest::qWait(10);
        return instrument.requests().size() >= count;
    }

    // Lets the client finish whatever it is doing, the replies included.
    void settle(int ms = 150) { QTest::qWait(ms); }

    QVector<Request> requestsWith(quint8 function) const
    {
        QVector<Request> matching;
        for (const Request &r : instrument.requests()) {
            if (r.functionCode == function)
                matching << r;
        }
        return matching;
    }

    void tick() { QMetaObject::invokeMethod(window, "timeOut1S"); }

    QModbusRtuSerialMaster *client() const { return window->findChild<QModbusRtuSerialMaster *>(); }

    QTimer *pollTimer() const { return ::pollTimer(window); }

    template<typename T> T *find(const QString &name) const { return window->findChild<T *>(name); }

    QString text(const QString &lineEdit) const { return find<QLineEdit>(lineEdit)->text(); }

    bool isIdle() const
    {
        return find<QPushButton>("pushButton")->isEnabled() && !find<QPushButton>("pushButton_2")->isEnabled()
            && !pollTimer()->isActive();
    }

    DebugMessages messages;
    VirtualInstrument instrument;
    Widget *window = nullptr;
};

// Every end-to-end test function starts with a window of its own and the
// instrument's line open and selected.
class E2ETestCase : public QObject
{
    Q_OBJECT

protected slots:
    void init()
    {
        m_rig = new E2ERig;
        QVERIFY(m_rig->openInstrument());
    }
    void cleanup()
    {
        delete m_rig;
        m_rig = nullptr;
    }

protected:
    E2ERig *m_rig = nullptr;
};

#endif // METERCONFIG_E2ERIG_H
