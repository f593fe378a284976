#ifndef METERCONFIG_FACTORY_H
#define METERCONFIG_FACTORY_H

#include <QDialog>

class QLabel;
class QLineEdit;

namespace Ui {
class factory;
}

// Edits the instrument's channel count and allowed baud-rate error count.
// A field writes its register as soon as an edit of it finishes with a value
// that differs from the shared one; there is no apply step. Text that is not
// such a value is refused, never written as some other number.
class factory : public QDialog
{
    Q_OBJECT

public:
    explicit factory(QWidget *parent = nullptr);
    ~factory() override;

signals:
    void write_signal(int addr, int dat);

private slots:
    // The order below is the meta-method order; all slots are wired by name.
    void on_pushButton_clicked();
    void on_m_chnum_editingFinished();
    void on_boteErr_editingFinished();
    void on_m_chnum_textChanged(const QString &text);
    void on_boteErr_textChanged(const QString &text);

private:
    void finishField(QLineEdit *field, const QLabel *caption, int registerAddress, qint32 &shared);

    Ui::factory *ui;
    // A refusal has just been shown: the Return that finished the edit must
    // not also close the dialog, which still shows the field to correct.
    bool m_refusing = false;
};

#endif // METERCONFIG_FACTORY_H
