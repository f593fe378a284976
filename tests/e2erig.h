#ifndef METERCONFIG_E2ERIG_H
#define METERCONFIG_E2ERIG_H

// The real window and the real Modbus client against the virtual instrument
// on a pseudo-terminal, all on one event loop.

#include "virtualinstrument.h"
#include "widget.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QModbusRtuSerialMaster>
#include <QPushButton>
#include <QTest>
#include <QTimer>

class E2ERig
{
public:
    using Request = VirtualInstrument::Request;

    E2ERig()
    {
        instrument.setDriftEnabled(false);
        window = new Widget;
    }
    ~E2ERig() { delete window; }

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

    // Presses "启动" and waits for the system read that connecting sends.
    bool connectLink()
    {
        QTest::mouseClick(find<QPushButton>("pushButton"), Qt::LeftButton);
        if (client()->state() != QModbusDevice::ConnectedState)
            return false;
        return waitForRequests(1);
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

    QTimer *pollTimer() const
    {
        const auto timers = window->findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
        for (QTimer *timer : timers) {
            if (timer->interval() == 1000)
                return timer;
        }
        return nullptr;
    }

    template<typename T> T *find(const QString &name) const { return window->findChild<T *>(name); }

    QString text(const QString &lineEdit) const { return find<QLineEdit>(lineEdit)->text(); }

    bool isIdle() const
    {
        return find<QPushButton>("pushButton")->isEnabled() && !find<QPushButton>("pushButton_2")->isEnabled()
            && !pollTimer()->isActive();
    }

    VirtualInstrument instrument;
    Widget *window = nullptr;
};

// Closes every message box that opens, counting them, so that a modal exec()
// cannot hang a test. A box that offers the answer button gets that; any
// other is closed with OK, which a Yes/No question takes as No.
class MessageBoxCatcher : public QObject
{
public:
    explicit MessageBoxCatcher(QObject *parent = nullptr)
        : QObject(parent)
    {
        connect(&m_timer, &QTimer::timeout, this, [this]() {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            titles << box->windowTitle();
            texts << box->text();
            informativeTexts << box->informativeText();
            parented << (box->parent() != nullptr);
            if (QAbstractButton *button = box->button(answer))
                button->click();
            else
                box->done(QMessageBox::Ok);
        });
        m_timer.start(20);
    }

    QStringList titles;
    QStringList texts;
    QStringList informativeTexts;
    QList<bool> parented;
    QMessageBox::StandardButton answer = QMessageBox::Ok;

private:
    QTimer m_timer;
};

#endif // METERCONFIG_E2ERIG_H
