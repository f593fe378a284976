#include "widget.h"
#include "ui_widget.h"

void Widget::on_readBt_clicked() {}

void Widget::on_writeBt_clicked() {}

void Widget::readReady_sys() {}
