#ifndef METERCONFIG_WINDOWPROBE_H
#define METERCONFIG_WINDOWPROBE_H

// What a test sees of the window from outside: its poll timer and the trace
// messages it writes.

#include <QStringList>
#include <QTimer>
#include <QWidget>

// The window's one-second timer, the only one of its own with that interval.
inline QTimer *pollTimer(const QWidget *window)
{
    const auto timers = window->findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
    for (QTimer *timer : timers) {
        if (timer->interval() == 1000)
            return timer;
    }
    return nullptr;
}

// Collects the window's trace, debug-level messages of the default category,
// while it lives; everything else goes where it went before.
class DebugMessages
{
public:
    DebugMessages()
    {
        list().clear();
        previous() = qInstallMessageHandler(&DebugMessages::capture);
    }
    ~DebugMessages() { qInstallMessageHandler(previous()); }
    DebugMessages(const DebugMessages &) = delete;
    DebugMessages &operator=(const DebugMessages &) = delete;

    static QStringList &list()
    {
        static QStringList messages;
        return messages;
    }

private:
    static void capture(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        if (type == QtDebugMsg && qstrcmp(context.category, "default") == 0)
            list() << text;
        else if (previous())
            previous()(type, context, text);
    }
    static QtMessageHandler &previous()
    {
        static QtMessageHandler handler = nullptr;
        return handler;
    }
};

#endif // METERCONFIG_WINDOWPROBE_H
