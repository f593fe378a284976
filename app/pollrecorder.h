#ifndef METERCONFIG_POLLRECORDER_H
#define METERCONFIG_POLLRECORDER_H

#include <QObject>
#include <QThread>
#include <QVector>

class QDateTime;
class RowWriter;

// Appends one row per poll to a CSV file, in meterctl watch's columns. The
// file is written, flushed and synced on a thread of its own, so that a slow
// or stuck disk never holds up the poll.
class PollRecorder : public QObject
{
    Q_OBJECT

public:
    explicit PollRecorder(QObject *parent = nullptr);
    ~PollRecorder() override;

    // Opens path for appending, with the header if it is empty. On failure
    // nothing is recorded and *reason says why.
    bool start(const QString &path, QString *reason);
    void stop();
    bool isRecording() const { return m_writer != nullptr; }
    QString path() const { return m_path; }

    // A poll's outcome: its words, or (none) the error it gave.
    void takePoll(const QDateTime &time, const QVector<quint16> &words, int channelCount,
                  const QString &error);

signals:
    // Recording began or ended, by request or because the file failed.
    void recordingChanged(bool recording);
    // A row could not be written; the recording has stopped.
    void failed(const QString &path, const QString &reason);

private:
    QThread m_thread;
    // Something on the thread to wait on.
    QObject m_anchor;
    RowWriter *m_writer = nullptr;
    QString m_path;
};

#endif // METERCONFIG_POLLRECORDER_H
