#include "factory.h"
#include "ui_factory.h"

#include "globals.h"
#include "refusals.h"
#include "registercodec.h"
#include "writechecks.h"

#include <QTimer>

factory::factory(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::factory)
{
    ui->setupUi(this);
    ui->m_chnum->setText(QString::number(g_chnum));
    ui->boteErr->setText(QString::number(g_boteErr));
}

factory::~factory()
{
    delete ui;
}

void factory::on_pushButton_clicked()
{
    if (m_refusing)
        return;
    close();
}

void factory::on_m_chnum_editingFinished()
{
    finishField(ui->m_chnum, ui->label, RegisterCodec::ChannelCountRegister, g_chnum);
}

void factory::on_boteErr_editingFinished()
{
    finishField(ui->boteErr, ui->label_2, RegisterCodec::BaudErrorCountRegister, g_boteErr);
}

// The shared value is the baseline, and it is updated only after the write has
// gone out: finishing the same edit again (Return, then the focus leaving as
// the dialog closes) then compares equal and writes nothing. A refused text
// stays marked until it is edited, and finishing it again (the focus leaving
// for the box, or as the dialog closes) says nothing more.
void factory::finishField(QLineEdit *field, const QLabel *caption, int registerAddress, qint32 &shared)
{
    if (Refusals::isMarked(field))
        return;
    const WriteChecks::FactoryWrite check = WriteChecks::checkFactoryWrite(field->text(), shared);
    if (!check.refusal.isEmpty()) {
        Refusals::markFault(field);
        Refusals::show(caption->text(), tr("未写入%1。").arg(caption->text()), check.refusal);
        m_refusing = true;
        QTimer::singleShot(0, this, [this]() { m_refusing = false; });
        return;
    }
    if (!check.word)
        return;
    emit write_signal(registerAddress, *check.word);
    shared = *check.word;
}

// Values are taken only when an edit finishes; the text is never reformatted
// while typing. An edit ends the mark of a refused text.
void factory::on_m_chnum_textChanged(const QString &text)
{
    Q_UNUSED(text)
    Refusals::clearFault(ui->m_chnum);
}

void factory::on_boteErr_textChanged(const QString &text)
{
    Q_UNUSED(text)
    Refusals::clearFault(ui->boteErr);
}
