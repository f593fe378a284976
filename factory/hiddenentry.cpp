#include "widget.h"
#include "ui_widget.h"

void Widget::on_pushButton_3_clicked() {}
