#include "widget.h"

void Widget::write_slot(int addr, int dat)
{
    Q_UNUSED(addr)
    Q_UNUSED(dat)
}
