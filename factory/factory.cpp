#include "factory.h"
#include "ui_factory.h"

#include "globals.h"
#include "registercodec.h"

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
    close();
}

void factory::on_m_chnum_editingFinished()
{
    finishField(ui->m_chnum->text(), RegisterCodec::ChannelCountRegister, g_chnum);
}

void factory::on_boteErr_editingFinished()
{
    finishField(ui->boteErr->text(), RegisterCodec::BaudErrorCountRegister, g_boteErr);
}

// The shared value is the baseline, and it is updated only after the write has
// gone out: finishing the same edit again (Return, then the focus leaving as
// the dialog closes) then compares equal and writes nothing. The instrument
// keeps both settings in one byte.
void factory::finishField(const QString &text, int registerAddress, qint32 &shared)
{
    const int value = RegisterCodec::byteWord(text);
    if (value == shared)
        return;
    emit write_signal(registerAddress, value);
    shared = value;
}

// Values are taken only when an edit finishes; the text is never reformatted
// while typing, so a field keeps showing what was typed even if it wrote less.
void factory::on_m_chnum_textChanged(const QString &text)
{
    Q_UNUSED(text)
}

void factory::on_boteErr_textChanged(const QString &text)
{
    Q_UNUSED(text)
}
