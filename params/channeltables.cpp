#include "ui_widget.h"
#include "widget.h"

#include "registercodec.h"
#include "replies.h"
#include "writechecks.h"

#include <QModbusDataUnit>
#include <QModbusReply>
#include <QModbusRtuSerialMaster>

using namespace RegisterCodec;

namespace {

// A field the last write refused, until the operator edits it or a read fills it.
const QString FaultStyle = QStringLiteral("border: 2px solid red;");

void clearFault(QWidget *field)
{
    if (field->styleSheet() == FaultStyle)
        field->setStyleSheet(QString());
}

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
    if (!isConnected() || channelTableServer() == 0)
        return;

    // Fields never read, or mistyped, would otherwise go out as 0 or wrapped
    // into another number, over the instrument's whole configuration.
    WriteChecks::ChannelTableFields fields;
    for (int i = 0; i < ChannelTableWriteWords; ++i) {
        fields.corrections << m_scEdits.at(i)->text();
        fields.lows << m_pslEdits.at(i)->text();
        fields.highs << m_pshEdits.at(i)->text();
        fields.sensorIndexes << m_snCombos.at(i)->currentIndex();
    }
    const WriteChecks::ChannelTablesCheck check = WriteChecks::checkChannelTables(fields);
    if (!check.faults.isEmpty()) {
        markFieldFaults(check.faults);
        return;
    }

    const int starts[WriteChecks::TableCount]
        = { CorrectionTableStart, RangeLowTableStart, RangeHighTableStart, SensorTypeTableStart };
    for (int table = 0; table < WriteChecks::TableCount; ++table) {
        const int server = channelTableServer();
        if (server == 0)
            return;
        sendWriteAndForget(
            QModbusDataUnit(QModbusDataUnit::HoldingRegisters, starts[table], check.words.at(table)), server);
    }
}

QWidget *Widget::channelField(WriteChecks::Table table, int channel) const
{
    switch (table) {
    case WriteChecks::Correction:
        return m_scEdits.at(channel - 1);
    case WriteChecks::RangeLow:
        return m_pslEdits.at(channel - 1);
    case WriteChecks::RangeHigh:
        return m_pshEdits.at(channel - 1);
    case WriteChecks::SensorType:
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
        channelField(fault.table, fault.channel)->setStyleSheet(FaultStyle);

    const WriteChecks::FieldFault &first = faults.first();
    QWidget *field = channelField(first.table, first.channel);
    ui->tabWidget->setCurrentWidget(ui->tab_2);
    ui->tabWidget_2->setCurrentWidget(field->parentWidget());
    showRefusal(QStringLiteral("写入仪表参数"), QStringLiteral("有参数不正确，四张表都没有写入仪表。"),
                WriteChecks::describeFaults(faults) + QStringLiteral("\n\n")
                    + QStringLiteral("测量值修正须为 -3276.8 到 3276.7 的数，量程上下限须为 -32768 到 "
                                     "32767 的整数，传感器类型须从列表中选择。"));
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
