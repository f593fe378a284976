#include "ui_widget.h"
#include "widget.h"

void Widget::on_debugBt_clicked() { }

void Widget::debug_start() { }

void Widget::readDate() { }

void Widget::on_sendBt_clicked() { }

void Widget::on_clearBt_clicked()
{
    on_pushButton_4_clicked();
}

void Widget::on_pushButton_4_clicked() { }
