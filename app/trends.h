#ifndef METERCONFIG_TRENDS_H
#define METERCONFIG_TRENDS_H

#include "valuehistory.h"

#include <QObject>
#include <QPointer>
#include <QVector>

class QGridLayout;
class QLineEdit;
class QWidget;
class PollRecorder;
class TrendWindow;

// What the main window keeps of its polls and the ways in to it, none of
// which change the form: a double-click on a value or its label opens the
// trend window with that channel, the value group's context menu offers the
// trend and the recording, and Ctrl+T opens the trend.
class Trends : public QObject
{
    Q_OBJECT

public:
    // values: the measured-value fields, in the group box of grid.
    Trends(QWidget *window, const QVector<QLineEdit *> &values, QGridLayout *grid);
    ~Trends() override;

    // The link opened on port: a port other than the last one starts a new history.
    void linkOpened(const QString &port);
    // The operator disconnected, or the port went away.
    void linkClosed();
    // A poll's good reply, or its failure (a reply that the client gave up on).
    void takePoll(const QVector<quint16> &words, int channelCount);
    void takeFailedPoll(QObject *reply);

    // channel: 0-based, -1 for all of them.
    void openTrend(int channel);
    // Asks for a file and starts recording to it, or stops the recording.
    void toggleRecording();
    // Records to path from the next poll on, or tells why it cannot.
    void startRecording(const QString &path);

    const ValueHistory &history() const { return m_history; }
    ValueHistory &history() { return m_history; }
    PollRecorder *recorder() const { return m_recorder; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showContextMenu(const QPoint &position);
    void showRecording();
    void showRecordingFailure(const QString &path, const QString &reason);

    QWidget *m_window;
    QString m_windowTitle;
    QVector<QWidget *> m_channelWidgets; // value fields and labels; channel = index % 22
    ValueHistory m_history;
    QString m_port;
    int m_channelCount = 0;
    PollRecorder *m_recorder;
    QPointer<TrendWindow> m_trend;
};

#endif // METERCONFIG_TRENDS_H
