#include "pollrecorder.h"

#include "valuerows.h"

#include <QDateTime>
#include <QFile>

#include <cerrno>
#include <cstring>

#if defined(Q_OS_WIN)
#include <io.h>
#include <windows.h>
#elif defined(Q_OS_UNIX)
#include <unistd.h>
#endif

// Lives on the recorder's thread from its first row on.
class RowWriter : public QObject
{
    Q_OBJECT

public:
    explicit RowWriter(QFile *file)
        : m_file(file)
    {
        file->setParent(this);
    }

    // On the disk, not only in the system's cache: a power cut loses at most this row.
    bool write(const QByteArray &row)
    {
        if (m_file->write(row) != row.size() || !m_file->flush()) {
            m_error = m_file->errorString();
            return false;
        }
#if defined(Q_OS_WIN)
        if (!::FlushFileBuffers(reinterpret_cast<HANDLE>(::_get_osfhandle(m_file->handle())))) {
            m_error = QStringLiteral("FlushFileBuffers: error %1").arg(::GetLastError());
            return false;
        }
#elif defined(Q_OS_UNIX)
        if (::fsync(m_file->handle()) != 0) {
            m_error = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
#endif
        return true;
    }

    void append(const QByteArray &row)
    {
        if (!m_failed && !write(row)) {
            m_failed = true;
            emit failed(m_error);
        }
    }

    QString error() const
    {
        return m_error;
    }

signals:
    void failed(const QString &reason);

private:
    QFile *m_file;
    QString m_error;
    bool m_failed = false;
};

PollRecorder::PollRecorder(QObject *parent)
    : QObject(parent)
{
    m_thread.setObjectName(QStringLiteral("recorder"));
    m_anchor.moveToThread(&m_thread);
}

PollRecorder::~PollRecorder()
{
    stop();
    // The rows handed over are written before the thread ends, which would drop them.
    if (m_thread.isRunning())
        QMetaObject::invokeMethod(
            &m_anchor, []() {}, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

bool PollRecorder::start(const QString &path, QString *reason)
{
    stop();
    auto *file = new QFile(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        *reason = file->errorString();
        delete file;
        return false;
    }
    auto *writer = new RowWriter(file);
    if (file->size() == 0 && !writer->write((ValueRows::csvHeader(false) + QLatin1Char('\n')).toUtf8())) {
        *reason = writer->error();
        delete writer;
        return false;
    }
    if (!m_thread.isRunning())
        m_thread.start(QThread::LowPriority);
    writer->moveToThread(&m_thread);
    connect(writer, &RowWriter::failed, this, [this, writer](const QString &why) {
        if (writer != m_writer)
            return;
        const QString failedPath = m_path;
        stop();
        emit failed(failedPath, why);
    });
    m_writer = writer;
    m_path = path;
    emit recordingChanged(true);
    return true;
}

void PollRecorder::stop()
{
    if (!m_writer)
        return;
    // After the rows already handed over, which go to the file first.
    QMetaObject::invokeMethod(m_writer, &QObject::deleteLater, Qt::QueuedConnection);
    m_writer = nullptr;
    m_path.clear();
    emit recordingChanged(false);
}

void PollRecorder::takePoll(const QDateTime &time, const QVector<quint16> &words, int channelCount,
                            const QString &error)
{
    if (!m_writer)
        return;
    const QByteArray row
        = (ValueRows::csvRow(time, 0, words, channelCount, error) + QLatin1Char('\n')).toUtf8();
    RowWriter *writer = m_writer;
    QMetaObject::invokeMethod(
        writer, [writer, row]() { writer->append(row); }, Qt::QueuedConnection);
}

#include "pollrecorder.moc"
