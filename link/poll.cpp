#include "ui_widget.h"
#include "widget.h"

#include "exchangequeue.h"
#include "registercodec.h"
#include "replies.h"

#include <QModbusDataUnit>
#include <QModbusReply>
#include <QModbusRtuSerialMaster>

void Widget::timeOut1S()
{
    m_clickCount = 0;

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
    if (!reply)
        return;

    ui->m_chnum->setText(QString::number(g_chnum));
    for (int i = 0; i < words.size() && i < m_valueEdits.size(); ++i) {
        if (i < g_chnum)
            m_valueEdits.at(i)->setText(RegisterCodec::signedTenthsText(words.at(i)));
        else
            m_valueEdits.at(i)->clear();
    }
    reply->deleteLater();
}
