#include "portwatcher.h"
#include "portsnapshot.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSerialPortInfo>
#include <QSocketNotifier>
#include <QTimer>

#ifdef METERCONFIG_HAVE_UDEV
#include <libudev.h>
#endif

namespace {

constexpr int PollIntervalMs = 1000;
// A new adapter adds several nodes to the folder within a few milliseconds.
constexpr int SettleMs = 100;

} // namespace

QStringList systemPortNames()
{
    QStringList names;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports)
        names.append(port.portName());
    return names;
}

#ifdef METERCONFIG_HAVE_UDEV
// Everything udev hands out, released in one place and in the order it needs.
struct PortWatcher::UdevMonitor
{
    ~UdevMonitor()
    {
        // The notifier watches the monitor's socket and must go first.
        delete notifier;
        if (monitor)
            udev_monitor_unref(monitor);
        if (context)
            udev_unref(context);
    }
    struct udev *context = nullptr;
    struct udev_monitor *monitor = nullptr;
    QSocketNotifier *notifier = nullptr;
};
#else
struct PortWatcher::UdevMonitor
{
};
#endif

PortWatcher::PortWatcher(QObject *parent)
    : PortWatcher(QStringLiteral("/dev"), systemPortNames, true, parent)
{ }

PortWatcher::PortWatcher(const QString &deviceFolder, PortLister lister, QObject *parent)
    : PortWatcher(deviceFolder, std::move(lister), false, parent)
{ }

PortWatcher::PortWatcher(const QString &deviceFolder, PortLister lister, bool useUdev, QObject *parent)
    : QObject(parent)
    , m_useUdev(useUdev)
    , m_deviceFolder(deviceFolder)
    , m_lister(std::move(lister))
{ }

PortWatcher::~PortWatcher() = default;

void PortWatcher::start(const QStringList &listed)
{
    if (m_mode != Mode::Stopped)
        return;
    m_knownPorts = listed;
    if (m_useUdev && startMonitor())
        m_mode = Mode::Udev;
    else if (startFolderWatch())
        m_mode = Mode::Folder;
    else
        startPolling();
}

bool PortWatcher::startMonitor()
{
#ifdef METERCONFIG_HAVE_UDEV
    // Without a running udev daemon a monitor can still be created, but it
    // never hears of a device.
    if (!QFileInfo::exists(QStringLiteral("/run/udev/control")))
        return false;

    auto udev = std::make_unique<UdevMonitor>();
    udev->context = udev_new();
    if (udev->context)
        udev->monitor = udev_monitor_new_from_netlink(udev->context, "udev");
    if (!udev->monitor || udev_monitor_filter_add_match_subsystem_devtype(udev->monitor, "tty", nullptr) < 0
        || udev_monitor_enable_receiving(udev->monitor) < 0 || udev_monitor_get_fd(udev->monitor) < 0)
        return false;

    udev->notifier = new QSocketNotifier(udev_monitor_get_fd(udev->monitor), QSocketNotifier::Read, this);
    connect(udev->notifier, &QSocketNotifier::activated, this, &PortWatcher::readMonitor);
    m_udev = std::move(udev);
    return true;
#else
    return false;
#endif
}

void PortWatcher::readMonitor()
{
#ifdef METERCONFIG_HAVE_UDEV
    // The socket is non-blocking: take everything queued, then wait again.
    while (udev_device *device = udev_monitor_receive_device(m_udev->monitor)) {
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

bool PortWatcher::startFolderWatch()
{
    // The kernel creates and removes the device nodes itself, udev or not.
    auto *watcher = new QFileSystemWatcher(this);
    if (!watcher->addPath(m_deviceFolder)) {
        delete watcher;
        return false;
    }
    m_folderWatcher = watcher;
    m_settleTimer = new QTimer(this);
    m_settleTimer->setSingleShot(true);
    m_settleTimer->setInterval(SettleMs);
    connect(m_settleTimer, &QTimer::timeout, this, &PortWatcher::comparePorts);
    connect(m_folderWatcher, &QFileSystemWatcher::directoryChanged, m_settleTimer,
            QOverload<>::of(&QTimer::start));
    return true;
}

void PortWatcher::startPolling()
{
    m_mode = Mode::Polling;
    m_pollTimer = new QTimer(this);
    m_pollTimer->setInterval(PollIntervalMs);
    connect(m_pollTimer, &QTimer::timeout, this, &PortWatcher::comparePorts);
    m_pollTimer->start();
}

void PortWatcher::comparePorts()
{
    const QStringList current = m_lister();
    const PortSnapshot::Difference difference = PortSnapshot::diff(m_knownPorts, current);
    m_knownPorts = current;
    // Removals first, so that a connection on a vanished port is closed
    // before the list is rebuilt.
    for (const QString &name : difference.removed)
        emit portRemoved(name);
    for (int i = 0; i < difference.added.size(); ++i)
        emit portArrived();
}
