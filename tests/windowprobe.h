#ifndef METERCONFIG_WINDOWPROBE_H
#define METERCONFIG_WINDOWPROBE_H

// What a test sees of the window from outside: its poll timer, its trace
// messages, the captions of its sensor-type lists and its message boxes.

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>
#include <QWidget>

// Item i is sensor code i.
inline const QStringList SensorTypes = {
    "K",     "E",      "N",      "J",      "WR3-25", "T",      "B",       "R",      "S",    "NC1",  "NC2",
    "NC3",   "0-20MA", "4-20MA", "WR5_26", "F2",     "0-50mv", "0-100mv", "0-75mv", "NC4",  "CU50", "PT100",
    "CU100", "NC5",    "NC6",    "NC7",    "NC8",    "0-400R", "NC9",     "NC10",   "NC11", "1-5V", "0-5V",
};

// The window's one-second timer, its only direct child with that interval.
inline QTimer *pollTimer(const QWidget *window)
{
    for (QTimer *timer : window->findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (timer->interval() == 1000)
            return timer;
    }
    return nullptr;
}

// Collects the window's trace (debug messages of the default category) in
// list while it lives; other messages go where they went before.
class DebugMessages
{
public:
    DebugMessages()
    {
        list.clear();
        s_previous = qInstallMessageHandler(&DebugMessages::capture);
    }
    ~DebugMessages() { qInstallMessageHandler(s_previous); }

    inline static QStringList list;

private:
    static void capture(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        if (type == QtDebugMsg && qstrcmp(context.category, "default") == 0)
            list << text;
        else if (s_previous)
            s_previous(type, context, text);
    }

    inline static QtMessageHandler s_previous = nullptr;
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

#endif // METERCONFIG_WINDOWPROBE_H
