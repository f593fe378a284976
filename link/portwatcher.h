#ifndef METERCONFIG_PORTWATCHER_H
#define METERCONFIG_PORTWATCHER_H

#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

class QFileSystemWatcher;
class QTimer;

// The names of the serial ports the system lists now, as QSerialPortInfo::portName() gives them.
QStringList systemPortNames();

// Reports serial ports coming and going on systems without Windows device
// messages. It listens to udev where the build and the system have it;
// otherwise it watches the device folder and lists the ports again only when
// something there changes, and where even that cannot be watched it lists
// them once a second.
class PortWatcher : public QObject
{
    Q_OBJECT

public:
    using PortLister = std::function<QStringList()>;
    enum class Mode { Stopped, Udev, Folder, Polling };

    // The system's ports, from udev or /dev.
    explicit PortWatcher(QObject *parent = nullptr);
    // The ports that lister gives, listed again when deviceFolder changes.
    PortWatcher(const QString &deviceFolder, PortLister lister, QObject *parent = nullptr);
    ~PortWatcher() override;

    // listed: the ports known now, against which the first change is found.
    void start(const QStringList &listed);
    Mode mode() const { return m_mode; }

signals:
    void portArrived();
    // portName as QSerialPortInfo::portName() gives it, e.g. "ttyUSB0".
    void portRemoved(const QString &portName);

private:
    struct UdevMonitor;

    PortWatcher(const QString &deviceFolder, PortLister lister, bool useUdev, QObject *parent);

    bool startMonitor();
    void readMonitor();
    bool startFolderWatch();
    void startPolling();
    void comparePorts();

    Mode m_mode = Mode::Stopped;
    bool m_useUdev;
    QString m_deviceFolder;
    PortLister m_lister;
    QStringList m_knownPorts;
    std::unique_ptr<UdevMonitor> m_udev;
    QFileSystemWatcher *m_folderWatcher = nullptr;
    // Coalesces the burst of changes one device makes in the folder.
    QTimer *m_settleTimer = nullptr;
    QTimer *m_pollTimer = nullptr;
};

#endif // METERCONFIG_PORTWATCHER_H
