#ifndef METERCONFIG_PORTWATCHER_H
#define METERCONFIG_PORTWATCHER_H

#include <QObject>
#include <QStringList>

class QSocketNotifier;
class QTimer;
struct udev;
struct udev_monitor;

// Reports serial ports coming and going on systems without Windows device
// messages. It listens to udev where the build and the system have it, and
// otherwise compares the list of ports once a second.
class PortWatcher : public QObject
{
    Q_OBJECT

public:
    explicit PortWatcher(QObject *parent = nullptr);
    ~PortWatcher() override;

    void start();

signals:
    void portArrived();
    // portName as QSerialPortInfo::portName() gives it, e.g. "ttyUSB0".
    void portRemoved(const QString &portName);

private:
    bool startMonitor();
    void readMonitor();
    void startPolling();
    void pollPorts();

    bool m_started = false;
    // Only set when a udev monitor is running.
    struct udev *m_udev = nullptr;
    struct udev_monitor *m_monitor = nullptr;
    QSocketNotifier *m_notifier = nullptr;
    // Only set when polling.
    QTimer *m_pollTimer = nullptr;
    QStringList m_knownPorts;
};

#endif // METERCONFIG_PORTWATCHER_H
