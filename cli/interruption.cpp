#include "interruption.h"

#include <QSocketNotifier>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>
#endif

#ifdef Q_OS_WIN
#include <QMetaObject>
#include <QMutex>
#include <QMutexLocker>
#include <windows.h>

namespace {

// The console's handler is called on a thread of the system's own and takes
// no argument, so the object it reaches has to be kept where it finds it.
QMutex handlerLock;
Interruption *handlerTarget = nullptr;

// Set once the command has printed what it has. After a close, log-off or
// shut-down event the system ends the process as soon as the handler returns
// (or after five seconds), so the handler waits for this first.
HANDLE woundUp()
{
    static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}

BOOL WINAPI onConsoleControl(DWORD type)
{
    {
        QMutexLocker locker(&handlerLock);
        if (!handlerTarget)
            return FALSE;
        QMetaObject::invokeMethod(handlerTarget, "request", Qt::QueuedConnection);
    }
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT)
        WaitForSingleObject(woundUp(), 4500);
    return TRUE;
}

} // namespace
#endif

Interruption::Interruption(QObject *parent)
    : QObject(parent)
{
#ifdef Q_OS_LINUX
    // Blocked signals wait in a descriptor instead of running a handler.
    sigset_t stopping;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGINT);
    sigaddset(&stopping, SIGTERM);
    sigprocmask(SIG_BLOCK, &stopping, nullptr);
    m_fd = ::signalfd(-1, &stopping, SFD_NONBLOCK | SFD_CLOEXEC);
    if (m_fd < 0)
        return;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        signalfd_siginfo info;
        while (::read(m_fd, &info, sizeof(info)) > 0) { }
        request();
    });
#elif defined(Q_OS_WIN)
    woundUp();
    QMutexLocker locker(&handlerLock);
    handlerTarget = this;
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
#endif
}

Interruption::~Interruption()
{
#ifdef Q_OS_LINUX
    if (m_fd >= 0)
        ::close(m_fd);
#elif defined(Q_OS_WIN)
    {
        QMutexLocker locker(&handlerLock);
        handlerTarget = nullptr;
    }
    SetConsoleCtrlHandler(onConsoleControl, FALSE);
    if (m_requested)
        SetEvent(woundUp());
#endif
}

void Interruption::request()
{
    m_requested = true;
    emit requested();
}
