#include "portwatcher.h"
#include "portsnapshot.h"

#include <QFileInfo>
#include <QSerialPortInfo>
#include <QSocketNotifier>
#include <QTimer>

#ifdef METERCONFIG_HAVE_UDEV
#include <libudev.h>
#endif

namespace {

constexpr int PollIntervalMs = 1000;

QStringList availablePortNames()
{
    QStringList names;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports)
        names.append(port.portName());
    return names;
}

} // namespace

PortWatcher::PortWatcher(QObject *parent)
    : QObject(parent)
{ }

PortWatcher::~PortWatcher()
{
#ifdef METERCONFIG_HAVE_UDEV
    // The notifier watches the monitor's socket and must go first.
    delete m_notifier;
    m_notifier = nullptr;
    if (m_monitor)
        udev_monitor_unref(m_monitor);
    if (m_udev)
        udev_unref(m_udev);
#endif
}

void PortWatcher::start()
{
    if (m_started)
        return;
    m_started = true;
    if (!startMonitor())
        startPolling();
}

bool PortWatcher::startMonitor()
{
#ifdef METERCONFIG_HAVE_UDEV
    // Without a running udev daemon a monitor can still be created, but it
    // never hears of a device; polling is the only thing that works then.
    if (!QFileInfo::exists(QStringLiteral("/run/udev/control")))
        return false;

    m_udev = udev_new();
    if (m_udev)
        m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
    if (!m_monitor || udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "tty", nullptr) < 0
        || udev_monitor_enable_receiving(m_monitor) < 0 || udev_monitor_get_fd(m_monitor) < 0) {
        if (m_monitor)
            udev_monitor_unref(m_monitor);
        if (m_udev)
            udev_unref(m_udev);
        m_monitor = nullptr;
        m_udev = nullptr;
        return false;
    }

    m_notifier = new QSocketNotifier(udev_monitor_get_fd(m_monitor), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &PortWatcher::readMonitor);
    return true;
#else
    return false;
#endif
}

void PortWatcher::readMonitor()
{
#ifdef METERCONFIG_HAVE_UDEV
    // The socket is non-blocking: take everything queued, then wait again.
    while (udev_device *device = udev_monitor_receive_device(m_monitor)) {
        const QString action = QString::fromLatin1(udev_device_get_action(device));
        if (action == QLatin1String("add")) {
            emit portArrived();
        } else if (action == QLatin1String("remove")) {
            const char *node = udev_device_get_devnode(device);
            const QString name = node ? QFileInfo(QString::fromLocal8Bit(node)).fileName()
                                      : QString::fromLocal8Bit(udev_device_get_sysname(device));
            emit portRemoved(name);
        }
        udev_device_unref(device);
    }
#endif
}

void PortWatcher::startPolling()
{
    m_knownPorts = availablePortNames();
    m_pollTimer = new QTimer(this);
    m_pollTimer->setInterval(PollIntervalMs);
    connect(m_pollTimer, &QTimer::timeout, this, &PortWatcher::pollPorts);
    m_pollTimer->start();
}

void PortWatcher::pollPorts()
{
    const QStringList current = availablePortNames();
    const PortSnapshot::Difference difference = PortSnapshot::diff(m_knownPorts, current);
    m_knownPorts = current;
    // Removals first, so that a connection on a vanished port is closed
    // before the list is rebuilt.
    for (const QString &name : difference.removed)
        emit portRemoved(name);
    for (int i = 0; i < difference.added.size(); ++i)
        emit portArrived();
}
