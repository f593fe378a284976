#ifndef METERCTL_INTERRUPTION_H
#define METERCTL_INTERRUPTION_H

#include <QObject>

class QSocketNotifier;

// SIGINT and SIGTERM, or on Windows Ctrl-C, Ctrl-Break and the console
// closing, as a Qt signal, for the commands that run until they are stopped:
// the event loop closes the port and prints what it has. Must be made before
// any thread starts; other commands keep the default behaviour (the process
// ends). One at a time.
class Interruption : public QObject
{
    Q_OBJECT

public:
    explicit Interruption(QObject *parent = nullptr);
    ~Interruption() override;
    bool isRequested() const { return m_requested; }

signals:
    void requested();

private:
    Q_INVOKABLE void request();

    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    bool m_requested = false;
};

#endif // METERCTL_INTERRUPTION_H
