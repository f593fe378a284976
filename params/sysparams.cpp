#include "ui_widget.h"
#include "widget.h"

#include "registercodec.h"
#include "replies.h"

#include <QModbusDataUnit>
#include <QModbusReply>
#include <QModbusRtuSerialMaster>

using namespace RegisterCodec;

void Widget::on_readBt_clicked()
{
    // No state check: a closed client returns no reply, and that is all.
    QModbusDataUnit unit(QModbusDataUnit::HoldingRegisters, SystemBlockStart, SystemBlockWords);
    sendRead(unit, FixedServerAddress, &Widget::readReady_sys);
}

void Widget::readReady_sys()
{
    QVector<quint16> words;
    QModbusReply *reply = goodReply(sender(), &words);
    if (!reply)
        return;

    ui->m_addrLineEdit->setText(unsignedIntegerText(wordAt(words, InstrumentAddressWord)));
    ui->m_baudCombo->setCurrentIndex(choiceIndex(wordAt(words, BaudRateWord), ui->m_baudCombo->count()));
    ui->m_stopbitComboBox->setCurrentIndex(stopBitsIndex(wordAt(words, StopBitsWord)));
    ui->m_parityComboBox->setCurrentIndex(
        choiceIndex(wordAt(words, ParityWord), ui->m_parityComboBox->count()));
    g_chnum = wordAt(words, ChannelCountWord);
    g_boteErr = wordAt(words, BaudErrorCountWord);
    ui->m_chnum->setText(unsignedIntegerText(wordAt(words, ChannelCountWord)));
    reply->deleteLater();
}

void Widget::on_writeBt_clicked()
{
    if (!isConnected())
        return;

    QModbusDataUnit unit(QModbusDataUnit::HoldingRegisters, SystemWriteStart, SystemWriteWords);
    unit.setValue(0, unsignedIntegerWord(ui->m_addrLineEdit->text()));
    unit.setValue(1, choiceWord(ui->m_baudCombo->currentIndex()));
    unit.setValue(2, stopBitsWord(ui->m_stopbitComboBox->currentIndex()));
    unit.setValue(3, choiceWord(ui->m_parityComboBox->currentIndex()));
    sendWriteAndForget(unit, FixedServerAddress);
}
