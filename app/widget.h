#ifndef METERCONFIG_WIDGET_H
#define METERCONFIG_WIDGET_H

// Where the slots of Widget live, and the pure units they call:
//
//   app/widget.cpp         constructor, destructor, enterIdleMode, enterConnectedMode, stop_debug
//                          (WholeTextFitter keeps every number whole, FormRoom gives it room)
//   app/trends.cpp         Trends: the double-click, context menu and Ctrl+T into the trend window
//                          (app/trendwindow.cpp, drawn from ValueHistory) and the recording
//                          (app/pollrecorder.cpp, rows from ValueRows); fed from readReady, openLink
//                          and on_pushButton_2_clicked
//   link/connection.cpp    on_pushButton_clicked, on_pushButton_2_clicked, onStateChanged, openLink
//                          (MeterSchema::LineSettings), refreshPortList (PortList), nativeEvent
//                          (DeviceChange), port watcher, showOpenFailure (openFailureReason)
//   link/poll.cpp          timeOut1S, readReady (RegisterCodec), showFreshness (Freshness)
//   link/writepath.cpp     write_slot, and every request through the ExchangeQueue
//   params/sysparams.cpp   on_readBt_clicked, on_writeBt_clicked, readReady_sys (RegisterCodec,
//                          WriteChecks, Refusals)
//   params/channeltables.cpp on_readChBt_clicked, on_writeChBt_clicked, on_copyChBt_clicked,
//                          readReady_sc, readReady_psl, readReady_psh, readReady_sn (MeterSchema,
//                          WriteChecks, Refusals)
//   console/console.cpp    on_debugBt_clicked, debug_start, readDate (ConsoleTextDecoder,
//                          ConsoleBacklog), on_sendBt_clicked, on_clearBt_clicked,
//                          on_pushButton_4_clicked
//   factory/hiddenentry.cpp on_pushButton_3_clicked (opens the lock dialog; the factory dialog
//                          decides with WriteChecks and refuses with Refusals, as the window does)
//   app/refusals.cpp       Refusals: the red frame of a refused field and the modal box that says why

#include "consolebacklog.h"
#include "globals.h"
#include "writechecks.h"

#include <QElapsedTimer>
#include <QModbusDevice>
#include <QPointer>
#include <QTime>
#include <QVector>
#include <QWidget>

#include <functional>
#include <optional>

class QComboBox;
class QLineEdit;
class QModbusDataUnit;
class QModbusReply;
class QModbusRtuSerialMaster;
class QSerialPort;
class QTextCursor;
class QTimer;
class ConsoleTextDecoder;
class ExchangeQueue;
class Trends;
class WholeTextFitter;

namespace Ui {
class Widget;
}

class Widget : public QWidget
{
    Q_OBJECT
    friend class TestAccess;

public:
    explicit Widget(QWidget *parent = nullptr);
    ~Widget() override;

protected:
    bool nativeEvent(const QByteArray &eventType, void *message, long *result) override;

private slots:
    // The order below is the meta-method order; names are wired by name.
    void on_pushButton_clicked();
    void write_slot(int addr, int dat);
    void on_pushButton_2_clicked();
    void timeOut1S();
    void onStateChanged(int state);
    void readReady();
    void readReady_sc();
    void readReady_sys();
    void readReady_psl();
    void readReady_psh();
    void readReady_sn();
    void on_pushButton_4_clicked();
    void on_readBt_clicked();
    void on_writeBt_clicked();
    void on_readChBt_clicked();
    void on_writeChBt_clicked();
    void on_copyChBt_clicked();
    void on_debugBt_clicked();
    void stop_debug();
    void readDate();
    void on_sendBt_clicked();
    void debug_start();
    void on_clearBt_clicked();
    void on_pushButton_3_clicked();

private:
    void enterIdleMode();
    void enterConnectedMode();
    void setLineSettingsEnabled(bool enabled);
    void refreshPortList();
    void refreshPortList(const QStringList &names);
    void startPortWatch();

    // Device arrival and removal, from nativeEvent on Windows or the port watcher elsewhere.
    void onPortArrived();
    void onPortRemoved(const QString &portName);
    // A port that is gone for good (see isPortLost) ends its mode through onLost.
    void watchPort(QSerialPort *port, void (Widget::*onLost)());
    void watchLinkPort();
    void dropBrokenLink();
    bool isConnected() const;
    int channelTableServer() const;
    // Writes are never confirmed to the operator; the reply is released once
    // onFinished, if given, has seen it.
    void sendWriteAndForget(const QModbusDataUnit &unit, int serverAddress,
                            const std::function<void(QModbusReply *)> &onFinished = nullptr);
    // Queues a read whose reply goes to handler, which takes it from sender().
    void sendRead(const QModbusDataUnit &unit, int serverAddress, void (Widget::*handler)());
    // Opens the Modbus link with the line settings the window shows; the
    // caller decides what the operator is told when that fails.
    bool openLink();
    // port: the one that failed to open, for the reason it gives.
    void showOpenFailure(const QSerialPort *port);

    // The debug console.
    bool inConnectedMode() const;
    void watchConsolePort();
    void dropBrokenConsole();
    void showConsolePending();
    void insertConsoleText(QTextCursor &cursor, const QString &text);
    void insertConsoleGap(QTextCursor &cursor, qint64 droppedChars);
    void trimConsoleView();

    // Whether the measured values shown are live, told by their look.
    void showFreshness();
    // Fields whose text the channel-table write refused, until edited or read again.
    void watchFieldFaults();
    QWidget *channelField(MeterSchema::Table table, int channel) const;
    void markFieldFaults(const QVector<WriteChecks::FieldFault> &faults);
    bool confirmLinkChange(const WriteChecks::SystemWords &words);

    Ui::Widget *ui;
    QVector<QLineEdit *> m_valueEdits;
    QVector<QLineEdit *> m_scEdits;
    QVector<QComboBox *> m_snCombos;
    QVector<QLineEdit *> m_pslEdits;
    QVector<QLineEdit *> m_pshEdits;
    QTimer *m_timer;
    quint8 m_clickCount;
    QSerialPort *m_serialPort;
    QModbusRtuSerialMaster *m_modbusDevice;
    // Every request to the instrument goes through here, one exchange at a time.
    ExchangeQueue *m_exchanges = nullptr;
    // The serial ports the system has, for the port list.
    std::function<QStringList()> m_portNames;
    QSerialPort *m_watchedLinkPort = nullptr;

    // One per opening of the console, so that nothing half-received carries over.
    ConsoleTextDecoder *m_consoleDecoder = nullptr;
    // The last text shown ended in CR; an LF arriving next completes that line break.
    bool m_consoleAfterCr = false;
    // Received and decoded, not yet in the view.
    ConsoleBacklog m_consolePending;
    // One showing of it at a time is on its way.
    bool m_consoleShowScheduled = false;

    WholeTextFitter *m_wholeText = nullptr;
    // The polls' history and recording, and the trend window.
    Trends *m_trends = nullptr;
    // Since the last good poll reply, and when it came (invalid/null: never).
    QElapsedTimer m_sinceGoodPoll;
    QTime m_lastGoodPoll;
    bool m_answeredSinceConnect = false;
    // The instrument's own address and line settings, read in this connection.
    std::optional<WriteChecks::SystemWords> m_systemRead;
};

#endif // METERCONFIG_WIDGET_H
