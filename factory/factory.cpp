#include "factory.h"
#include "ui_factory.h"

#include "globals.h"
#include "registercodec.h"

namespace {

// The instrument keeps both settings in one byte; anything that does not
// parse as an unsigned decimal number becomes 0.
int fieldValue(const QString &text)
{
    return static_cast<int>(text.toUInt(nullptr, 10) & 0xFFu);
}

} // namespace

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

// The shared value is the baseline, and it is updated only after the write has
// gone out: finishing the same edit again (Return, then the focus leaving as
// the dialog closes) then compares equal and writes nothing.
void factory::on_m_chnum_editingFinished()
{
    const int value = fieldValue(ui->m_chnum->text());
    if (value == g_chnum)
        return;
    emit write_signal(RegisterCodec::ChannelCountRegister, value);
    g_chnum = value;
}

void factory::on_boteErr_editingFinished()
{
    const int value = fieldValue(ui->boteErr->text());
    if (value == g_boteErr)
        return;
    emit write_signal(RegisterCodec::BaudErrorCountRegister, value);
    g_boteErr = value;
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
