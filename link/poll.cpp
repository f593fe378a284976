#include "ui_widget.h"
#include "widget.h"

#include "exchangequeue.h"
#include "freshness.h"
#include "registercodec.h"
#include "replies.h"
#include "trends.h"

#include <QLineEdit>
#include <QModbusDataUnit>
#include <QModbusReply>
#include <QModbusRtuSerialMaster>
#include <QTimer>

void Widget::timeOut1S()
{
    m_clickCount = 0;
    showFreshness();

    if (!isConnected())
        return;

    // A silent instrument holds a request for up to 1.5 s, and the pause
    // after it adds more; queueing one per tick regardless would grow the
    // queue without bound.
    QModbusDataUnit unit(QModbusDataUnit::InputRegisters, RegisterCodec::MeasuredValueStart,
                         m_valueEdits.size());
    if (m_exchanges->holdsRead(unit, RegisterCodec::FixedServerAddress))
        return;
    sendRead(unit, RegisterCodec::FixedServerAddress, &Widget::readReady);
}

void Widget::readReady()
{
    QVector<quint16> words;
    QModbusReply *reply = goodReply(sender(), &words);
    if (!reply) {
        m_trends->takeFailedPoll(sender());
        return;
    }

    m_sinceGoodPoll.start();
    m_lastGoodPoll = QTime::currentTime();
    m_answeredSinceConnect = true;

    ui->m_chnum->setText(QString::number(g_chnum));
    for (int i = 0; i < words.size() && i < m_valueEdits.size(); ++i) {
        if (i < g_chnum)
            m_valueEdits.at(i)->setText(RegisterCodec::signedTenthsText(words.at(i)));
        else
            m_valueEdits.at(i)->clear();
    }
    showFreshness();
    m_trends->takePoll(words, g_chnum);
    reply->deleteLater();
}

void Widget::showFreshness()
{
    const bool polling = isConnected() && inConnectedMode();
    const Freshness::State state
        = Freshness::state(polling, m_answeredSinceConnect,
                           m_sinceGoodPoll.isValid() ? m_sinceGoodPoll.elapsed() : -1, m_timer->interval());
    const bool old = state == Freshness::State::Stale || state == Freshness::State::NotAnswered;
    const QString toolTip = Freshness::toolTip(state, m_lastGoodPoll);
    const QString placeholder
        = state == Freshness::State::NotAnswered ? Freshness::notAnsweredPlaceholder() : QString();
    for (QLineEdit *edit : qAsConst(m_valueEdits)) {
        // Greyed as a disabled field would be, yet still selectable and readable.
        QPalette palette;
        if (old) {
            palette = edit->palette();
            const QColor grey = palette.color(QPalette::Disabled, QPalette::Text);
            palette.setColor(QPalette::Active, QPalette::Text, grey);
            palette.setColor(QPalette::Inactive, QPalette::Text, grey);
        }
        edit->setPalette(palette);
        edit->setToolTip(toolTip);
        edit->setPlaceholderText(placeholder);
    }
    ui->groupBox_3->setToolTip(toolTip);
    // Wherever the operator points: the instrument has not answered at all.
    setToolTip(state == Freshness::State::NotAnswered ? toolTip : QString());
}
