#include "highdpi.h"
#include "widget.h"

#include <QApplication>

// Every caption is a UTF-8 literal. A compiler that read the sources in another
// code page would garble them all, so such a build stops here instead.
static_assert(u'启' == 0x542F, "the sources must be read as UTF-8 (MSVC: /utf-8)");

int main(int argc, char *argv[])
{
    enableHighDpiScaling();
    QApplication a(argc, argv);
    Widget w;
    w.show();
    return a.exec();
}
