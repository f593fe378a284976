#include "openfailure.h"

#include <QCoreApplication>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("Widget", text);
}

} // namespace

QString openFailureReason(const OpenFailure &failure)
{
    if (failure.portName.isEmpty())
        return tr("没有选择串口。");
    if (failure.error == QSerialPort::DeviceNotFoundError || !failure.exists)
        return tr("串口 %1 不存在，请检查连接线和串口选择。").arg(failure.portName);
    if (failure.error == QSerialPort::PermissionError && !failure.accessible) {
#ifdef Q_OS_LINUX
        return tr("没有打开串口 %1 的权限。请把当前用户加入 dialout 组"
                  "（sudo usermod -a -G dialout $USER），然后重新登录。")
            .arg(failure.portName);
#else
        return tr("没有打开串口 %1 的权限。").arg(failure.portName);
#endif
    }
    // A port that another program holds is refused with a permission error
    // too, although the user may open it once it is free.
    if (failure.error == QSerialPort::PermissionError || failure.error == QSerialPort::OpenError)
        return tr("串口 %1 已被其他程序占用。").arg(failure.portName);
    return failure.errorString;
}
