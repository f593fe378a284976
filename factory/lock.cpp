#include "lock.h"
#include "ui_lock.h"

#include "factory.h"

lock::lock(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::lock)
{
    ui->setupUi(this);
}

lock::~lock()
{
    delete ui;
}

void lock::on_pushButton_2_clicked()
{
    close();
}

void lock::write_slot(int addr, int dat)
{
    emit write_signal(addr, dat);
}

void lock::on_ok_clicked()
{
    // One fixed password guards the factory settings. It is compared as typed:
    // case and blanks count.
    const QLatin1String accessPassword("tqvr4172");
    if (ui->password->text() != accessPassword) {
        // Unlimited retries: the password only keeps casual users out of the factory settings.
        ui->password->clear();
        ui->label->setText(QStringLiteral("密码错误，请重新输入"));
        return;
    }

    close();

    // The factory dialog is ours, so this hidden dialog lives on as its relay
    // for as long as the main window does.
    auto *dialog = new factory(this);
    dialog->setModal(true);
    dialog->setWindowFlag(Qt::FramelessWindowHint);
    dialog->show();
    connect(dialog, &factory::write_signal, this, &lock::write_slot);
}
