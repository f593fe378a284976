#include "widget.h"
#include "ui_widget.h"

void Widget::timeOut1S()
{
    m_clickCount = 0;
}

void Widget::readReady() {}
