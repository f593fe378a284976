#include "ui_widget.h"
#include "widget.h"

#include "registercodec.h"
#include "replies.h"

#include <QModbusDataUnit>
#include <QModbusReply>
#include <QModbusRtuSerialMaster>

using namespace RegisterCodec;

namespace {

// The four tables decode alike: each word of a good reply goes to its
// channel's control; a failed reply leaves the table as it was.
template<typename Control, typename Apply>
void fillFromReply(QObject *sender, const QVector<Control *> &controls, Apply apply)
{
    QVector<quint16> words;
    QModbusReply *reply = goodReply(sender, &words);
    if (!reply)
        return;
    for (int i = 0; i < words.size() && i < controls.size(); ++i)
        apply(controls.at(i), words.at(i));
    reply->deleteLater();
}

} // namespace

int Widget::channelTableServer() const
{
    // Server 0 is every instrument on the bus: a slip in the address field
    // must never rewrite all of them, so anything but 1-247 sends nothing.
    return unicastAddress(ui->m_addrLineEdit->text());
}

void Widget::on_readChBt_clicked()
{
    if (!isConnected())
        return;

    struct Table
    {
        int start;
        void (Widget::*decode)();
    };
    const Table tables[] = {
        { CorrectionTableStart, &Widget::readReady_sc },
        { RangeLowTableStart, &Widget::readReady_psl },
        { RangeHighTableStart, &Widget::readReady_psh },
        { SensorTypeTableStart, &Widget::readReady_sn },
    };
    for (const Table &table : tables) {
        const int server = channelTableServer();
        if (server == 0)
            return;
        QModbusDataUnit unit(QModbusDataUnit::HoldingRegisters, table.start, ChannelTableWords);
        sendRead(unit, server, table.decode);
    }
}

void Widget::on_writeChBt_clicked()
{
    if (!isConnected())
        return;

    QVector<quint16> corrections;
    QVector<quint16> lows;
    QVector<quint16> highs;
    QVector<quint16> sensors;
    for (int i = 0; i < ChannelTableWriteWords; ++i) {
        corrections << signedTenthsWord(m_scEdits.at(i)->text());
        lows << signedIntegerWord(m_pslEdits.at(i)->text());
        highs << signedIntegerWord(m_pshEdits.at(i)->text());
        sensors << choiceWord(m_snCombos.at(i)->currentIndex());
    }
    const std::pair<int, const QVector<quint16> *> tables[] = {
        { CorrectionTableStart, &corrections },
        { RangeLowTableStart, &lows },
        { RangeHighTableStart, &highs },
        { SensorTypeTableStart, &sensors },
    };
    for (const auto &table : tables) {
        const int server = channelTableServer();
        if (server == 0)
            return;
        sendWriteAndForget(QModbusDataUnit(QModbusDataUnit::HoldingRegisters, table.first, *table.second),
                           server);
    }
}

void Widget::on_copyChBt_clicked()
{
    for (int i = 1; i < ChannelRows; ++i) {
        switch (ui->tabWidget_2->currentIndex()) {
        case 0:
            m_snCombos.at(i)->setCurrentIndex(m_snCombos.at(0)->currentIndex());
            break;
        case 1:
            m_pslEdits.at(i)->setText(m_pslEdits.at(0)->text());
            break;
        case 2:
            m_pshEdits.at(i)->setText(m_pshEdits.at(0)->text());
            break;
        case 3:
            m_scEdits.at(i)->setText(m_scEdits.at(0)->text());
            break;
        default:
            break;
        }
    }
}

void Widget::readReady_sc()
{
    fillFromReply(sender(), m_scEdits,
                  [](QLineEdit *edit, quint16 word) { edit->setText(signedTenthsText(word)); });
}

void Widget::readReady_psl()
{
    fillFromReply(sender(), m_pslEdits,
                  [](QLineEdit *edit, quint16 word) { edit->setText(signedIntegerText(word)); });
}

void Widget::readReady_psh()
{
    fillFromReply(sender(), m_pshEdits,
                  [](QLineEdit *edit, quint16 word) { edit->setText(signedIntegerText(word)); });
}

void Widget::readReady_sn()
{
    fillFromReply(sender(), m_snCombos, [](QComboBox *combo, quint16 word) {
        combo->setCurrentIndex(choiceIndex(word, combo->count()));
    });
}
