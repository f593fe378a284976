#include "widget.h"
#include "ui_widget.h"

void Widget::on_readChBt_clicked() {}

void Widget::on_writeChBt_clicked() {}

void Widget::on_copyChBt_clicked() {}

void Widget::readReady_sc() {}

void Widget::readReady_psl() {}

void Widget::readReady_psh() {}

void Widget::readReady_sn() {}
