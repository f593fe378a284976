#include "ui_widget.h"
#include "widget.h"

#include "meterschema.h"
#include "refusals.h"
#include "registercodec.h"
#include "replies.h"
#include "writechecks.h"

#include <QModbusDataUnit>
#include <QModbusReply>
#include <QModbusRtuSerialMaster>

using namespace MeterSchema;
using namespace RegisterCodec;
using Refusals::clearFault;

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
    for (int i = 0; i < words.size() && i < controls.size(); ++i) {
        apply(controls.at(i), words.at(i));
        clearFault(controls.at(i));
    }
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

    void (Widget::*const decoders[TableCount])()
        = { &Widget::readReady_sc, &Widget::readReady_psl, &Widget::readReady_psh, &Widget::readReady_sn };
    for (const ChannelTable &table : channelTables()) {
        const int server = channelTableServer();
        if (server == 0)
            return;
        QModbusDataUnit unit(QModbusDataUnit::HoldingRegisters, table.start, ChannelTableWords);
        sendRead(unit, server, decoders[table.table]);
    }
}

void Widget::on_writeChBt_clicked()
{
    if (!isConnected() || channelTableServer() == 0)
        return;

    // Fields never read, or mistyped, would otherwise go out as 0 or wrapped
    // into another number, over the instrument's whole configuration.
    WriteChecks::ChannelTableFields fields;
    for (int i = 0; i < ChannelTableWriteWords; ++i) {
        fields.texts[Correction] << m_scEdits.at(i)->text();
        fields.texts[RangeLow] << m_pslEdits.at(i)->text();
        fields.texts[RangeHigh] << m_pshEdits.at(i)->text();
        fields.addSensorIndex(m_snCombos.at(i)->currentIndex());
    }
    const WriteChecks::ChannelTablesCheck check = WriteChecks::checkChannelTables(fields);
    if (!check.faults.isEmpty()) {
        markFieldFaults(check.faults);
        return;
    }

    for (const ChannelTable &table : channelTables()) {
        const int server = channelTableServer();
        if (server == 0)
            return;
        sendWriteAndForget(
            QModbusDataUnit(QModbusDataUnit::HoldingRegisters, table.start, check.words.at(table.table)),
            server);
    }
}

QWidget *Widget::channelField(Table table, int channel) const
{
    switch (table) {
    case Correction:
        return m_scEdits.at(channel - 1);
    case RangeLow:
        return m_pslEdits.at(channel - 1);
    case RangeHigh:
        return m_pshEdits.at(channel - 1);
    case SensorType:
    default:
        return m_snCombos.at(channel - 1);
    }
}

void Widget::watchFieldFaults()
{
    for (const QVector<QLineEdit *> *edits : { &m_scEdits, &m_pslEdits, &m_pshEdits }) {
        for (QLineEdit *edit : *edits)
            connect(edit, &QLineEdit::textEdited, edit, [edit]() { clearFault(edit); });
    }
    for (QComboBox *combo : qAsConst(m_snCombos))
        connect(combo, QOverload<int>::of(&QComboBox::currentIndexChanged), combo,
                [combo]() { clearFault(combo); });
}

void Widget::markFieldFaults(const QVector<WriteChecks::FieldFault> &faults)
{
    for (const WriteChecks::FieldFault &fault : faults)
        Refusals::markFault(channelField(fault.table, fault.channel));

    const WriteChecks::FieldFault &first = faults.first();
    QWidget *field = channelField(first.table, first.channel);
    ui->tabWidget->setCurrentWidget(ui->tab_2);
    ui->tabWidget_2->setCurrentWidget(field->parentWidget());
    Refusals::show(QStringLiteral("写入仪表参数"), QStringLiteral("有参数不正确，四张表都没有写入仪表。"),
                   WriteChecks::describeFaults(faults) + QStringLiteral("\n\n")
                       + WriteChecks::describeLimits());
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
    fillFromReply(sender(), m_scEdits, [](QLineEdit *edit, quint16 word) {
        edit->setText(channelTable(Correction).decode(word));
    });
}

void Widget::readReady_psl()
{
    fillFromReply(sender(), m_pslEdits,
                  [](QLineEdit *edit, quint16 word) { edit->setText(channelTable(RangeLow).decode(word)); });
}

void Widget::readReady_psh()
{
    fillFromReply(sender(), m_pshEdits,
                  [](QLineEdit *edit, quint16 word) { edit->setText(channelTable(RangeHigh).decode(word)); });
}

void Widget::readReady_sn()
{
    fillFromReply(sender(), m_snCombos, [](QComboBox *combo, quint16 word) {
        combo->setCurrentIndex(choiceIndex(word, combo->count()));
    });
}
