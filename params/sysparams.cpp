#include "ui_widget.h"
#include "widget.h"

#include "refusals.h"
#include "registercodec.h"
#include "replies.h"

#include <QMessageBox>
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
    m_systemRead
        = WriteChecks::SystemWords { wordAt(words, InstrumentAddressWord), wordAt(words, BaudRateWord),
                                     wordAt(words, StopBitsWord), wordAt(words, ParityWord) };
    reply->deleteLater();
}

void Widget::on_writeBt_clicked()
{
    if (!isConnected())
        return;

    // One wrong word here and the instrument answers nobody any more.
    const WriteChecks::SystemWriteCheck check = WriteChecks::checkSystemWrite(
        ui->m_addrLineEdit->text(), ui->m_baudCombo->currentIndex(), ui->m_stopbitComboBox->currentIndex(),
        ui->m_parityComboBox->currentIndex(), m_systemRead);
    if (!check.refusal.isEmpty()) {
        Refusals::show(QStringLiteral("写系统参数"), QStringLiteral("未写入系统参数。"), check.refusal);
        return;
    }
    if (check.changesLink && !confirmLinkChange(check.words))
        return;

    QModbusDataUnit unit(QModbusDataUnit::HoldingRegisters, SystemWriteStart, SystemWriteWords);
    for (int i = 0; i < SystemWriteWords; ++i)
        unit.setValue(i, check.words.at(i));
    sendWriteAndForget(unit, FixedServerAddress);
}

bool Widget::confirmLinkChange(const WriteChecks::SystemWords &words)
{
    QMessageBox box;
    box.setWindowTitle(QStringLiteral("写系统参数"));
    box.setText(QStringLiteral("写入后，仪表只以新的地址和通信设置应答，"
                               "本工具也只能以新的设置访问仪表。是否写入？"));
    box.setInformativeText(QStringLiteral("仪表地址：%1\n仪表波特率：%2\n仪表校验位：%3\n仪表停止位：%4")
                               .arg(words.at(0))
                               .arg(ui->m_baudCombo->currentText(), ui->m_parityComboBox->currentText(),
                                    ui->m_stopbitComboBox->currentText()));
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}
