#include "trends.h"

#include "pollrecorder.h"
#include "refusals.h"
#include "trendwindow.h"

#include <QDateTime>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLineEdit>
#include <QMenu>
#include <QModbusReply>
#include <QShortcut>

Trends::Trends(QWidget *window, const QVector<QLineEdit *> &values, QGridLayout *grid)
    : QObject(window)
    , m_window(window)
    , m_windowTitle(window->windowTitle())
    , m_recorder(new PollRecorder(this))
{
    // The label of a field stands left of it in the grid.
    QVector<QWidget *> labels;
    for (QLineEdit *field : values) {
        int row = 0, column = 0, rows = 0, columns = 0;
        const int index = grid->indexOf(field);
        QWidget *label = nullptr;
        if (index >= 0) {
            grid->getItemPosition(index, &row, &column, &rows, &columns);
            if (QLayoutItem *item = column > 0 ? grid->itemAtPosition(row, column - 1) : nullptr)
                label = item->widget();
        }
        labels << label;
    }
    m_channelWidgets << QVector<QWidget *>(values.cbegin(), values.cend()) << labels;
    for (QWidget *widget : qAsConst(m_channelWidgets)) {
        if (widget)
            widget->installEventFilter(this);
    }

    if (QWidget *group = grid->parentWidget()) {
        group->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(group, &QWidget::customContextMenuRequested, this,
                [this, group](const QPoint &at) { showContextMenu(group->mapToGlobal(at)); });
    }
    auto *shortcut = new QShortcut(QKeySequence(QStringLiteral("Ctrl+T")), window);
    connect(shortcut, &QShortcut::activated, this, [this]() { openTrend(-1); });

    connect(m_recorder, &PollRecorder::recordingChanged, this, &Trends::showRecording);
    // Told once the poll that found it has been taken in.
    connect(m_recorder, &PollRecorder::failed, this, &Trends::showRecordingFailure, Qt::QueuedConnection);
}

Trends::~Trends()
{
    // The recording ends before the window it tells about, and the trend
    // window before the history it draws.
    m_recorder->disconnect(this);
    delete m_trend;
}

bool Trends::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonDblClick) {
        const int at = m_channelWidgets.indexOf(static_cast<QWidget *>(watched));
        if (at >= 0) {
            openTrend(at % ValueHistory::Channels);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void Trends::showContextMenu(const QPoint &position)
{
    QMenu menu(m_window);
    menu.addAction(QStringLiteral("趋势图…"), this, [this]() { openTrend(-1); });
    menu.addAction(m_recorder->isRecording() ? QStringLiteral("停止记录") : QStringLiteral("记录到文件…"),
                   this, &Trends::toggleRecording);
    menu.exec(position);
}

void Trends::linkOpened(const QString &port)
{
    if (port != m_port)
        m_history.clear();
    m_port = port;
}

void Trends::linkClosed()
{
    m_recorder->stop();
}

void Trends::takePoll(const QVector<quint16> &words, int channelCount)
{
    const QDateTime now = QDateTime::currentDateTime();
    m_history.append(now.toMSecsSinceEpoch(), words, channelCount);
    m_recorder->takePoll(now, words, channelCount, QString());
    m_channelCount = channelCount;
    if (m_trend) {
        m_trend->setChannelCount(channelCount);
        m_trend->scheduleRefresh();
    }
}

void Trends::takeFailedPoll(QObject *reply)
{
    auto *failed = qobject_cast<QModbusReply *>(reply);
    // An aborted request is the link closing, not a poll.
    if (!failed || failed->error() == QModbusDevice::NoError
        || failed->error() == QModbusDevice::ReplyAbortedError)
        return;
    const QDateTime now = QDateTime::currentDateTime();
    m_history.appendFailure(now.toMSecsSinceEpoch(), failed->errorString());
    m_recorder->takePoll(now, {}, 0, failed->errorString());
    if (m_trend)
        m_trend->scheduleRefresh();
}

void Trends::openTrend(int channel)
{
    const bool opening = !m_trend || !m_trend->isVisible();
    if (!m_trend) {
        m_trend = new TrendWindow(&m_history, m_window);
        m_trend->setRecordingFile(m_recorder->path());
    }
    m_trend->setChannelCount(m_channelCount);
    if (opening && channel >= 0)
        m_trend->showAllChannels(false);
    if (channel >= 0)
        m_trend->showChannel(channel);
    else
        m_trend->showAllChannels(true);
    m_trend->show();
    m_trend->raise();
    m_trend->activateWindow();
    m_trend->follow();
}

void Trends::toggleRecording()
{
    if (m_recorder->isRecording()) {
        m_recorder->stop();
        return;
    }
    const QString suggested = documentsFile(QStringLiteral("meterconfig"), QStringLiteral("csv"));
    // An existing file is appended to, never replaced.
    const QString path = QFileDialog::getSaveFileName(m_window, QStringLiteral("记录到文件"), suggested,
                                                      QStringLiteral("CSV (*.csv)"), nullptr,
                                                      QFileDialog::DontConfirmOverwrite);
    if (!path.isEmpty())
        startRecording(path);
}

void Trends::startRecording(const QString &path)
{
    QString reason;
    if (!m_recorder->start(path, &reason))
        showRecordingFailure(path, reason);
}

void Trends::showRecording()
{
    const QString path = m_recorder->path();
    m_window->setWindowTitle(path.isEmpty() ? m_windowTitle
                                            : m_windowTitle + QStringLiteral(" — 记录中：")
                                     + QFileInfo(path).fileName());
    if (m_trend)
        m_trend->setRecordingFile(path);
}

void Trends::showRecordingFailure(const QString &path, const QString &reason)
{
    Refusals::show(QStringLiteral("记录失败"),
                   QStringLiteral("无法写入 %1，记录已停止。").arg(QDir::toNativeSeparators(path)), reason);
}
