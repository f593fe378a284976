#include "widget.h"

#include "lock.h"

void Widget::on_pushButton_3_clicked()
{
    // Saturate rather than wrap: after 256 more clicks in the same second the
    // count would pass 3 again and open a second dialog.
    if (m_clickCount < 0xFF)
        ++m_clickCount;
    if (m_clickCount != 3)
        return;

    auto *dialog = new lock(this);
    dialog->setModal(true);
    dialog->setWindowFlag(Qt::FramelessWindowHint);
    dialog->show();
    // clang-format off
    connect(dialog, SIGNAL(write_signal(int,int)), this, SLOT(write_slot(int,int)));
    // clang-format on
}
