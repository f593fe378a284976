#ifndef METERCONFIG_LOCK_H
#define METERCONFIG_LOCK_H

#include <QDialog>

namespace Ui {
class lock;
}

// Password gate in front of the factory dialog. Once passed it stays behind,
// hidden, as the relay that carries the factory dialog's register writes to
// the main window.
class lock : public QDialog
{
    Q_OBJECT

public:
    explicit lock(QWidget *parent = nullptr);
    ~lock() override;

signals:
    void write_signal(int addr, int dat);

private slots:
    // The order below is the meta-method order; the button slots are wired by name.
    void on_pushButton_2_clicked();
    void write_slot(int addr, int dat);
    void on_ok_clicked();

private:
    Ui::lock *ui;
};

#endif // METERCONFIG_LOCK_H
