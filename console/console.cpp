#include "ui_widget.h"
#include "widget.h"

#include "consolebacklog.h"
#include "consoletextdecoder.h"
#include "meterschema.h"
#include "registercodec.h"
#include "replies.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QModbusDataUnit>
#include <QModbusReply>
#include <QModbusRtuSerialMaster>
#include <QScrollBar>
#include <QSerialPort>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

namespace {

// The caption is the console's only state; both texts are compared exactly.
const char StartCaption[] = "开始调试";
const char StopCaption[] = "停止调试";

// An instrument left printing for hours would otherwise grow the view without
// end, and every insertion gets slower as the document grows. The oldest text
// goes once the view holds more than its scrollback, in steps rather than with
// every insertion.
constexpr int ScrollbackChars = ConsoleBacklog::ScrollbackChars;
constexpr int ScrollbackTrimChars = ScrollbackChars / 10;
// Every line costs memory of its own and is moved when the top is cut off, so
// short lines (a line full of noise, mostly line breaks) are bounded by count:
// about as many as lines of a hundred characters fill the scrollback with.
constexpr int ScrollbackBlocks = 20000;
constexpr int ScrollbackTrimBlocks = ScrollbackBlocks / 10;
// A text block is laid out again in full on every insertion into it. Output
// that never breaks its line is therefore continued in a new block here,
// which the view shows as one more wrapped row.
constexpr int LongestBlockChars = 1024;
// A port at 115200 baud reports new bytes every few milliseconds; laying the
// view out and painting it that often would cost more than the eye can use.
// What arrives within this interval is shown at once.
constexpr int ShowIntervalMs = 100;
// A line that delivers faster than the view takes text in must not freeze the
// window: text goes in in pieces, and once this much time is spent in one turn
// of the event loop the rest waits for the next turn.
constexpr int InsertBudgetMs = 10;
constexpr int InsertPieceChars = 8192;

bool isConsoleViewOverfull(const QTextDocument *document)
{
    return document->characterCount() > ScrollbackChars + ScrollbackTrimChars
        || document->blockCount() > ScrollbackBlocks + ScrollbackTrimBlocks;
}

bool isConsoleCaption(const QString &caption, const char *expected)
{
    return caption == QString::fromUtf8(expected);
}

} // namespace

void Widget::on_debugBt_clicked()
{
    if (isConsoleCaption(ui->debugBt->text(), StopCaption)) {
        stop_debug();
        return;
    }
    if (!isConnected())
        return;

    // The same guard as the channel tables: a slip in the address field must
    // never switch every instrument on the bus into text mode.
    const int server = channelTableServer();
    if (server == 0)
        return;

    QModbusDataUnit unit(QModbusDataUnit::HoldingRegisters, RegisterCodec::DebugCommandRegister, 1);
    unit.setValue(0, RegisterCodec::DebugCommandValue);
    sendWriteAndForget(unit, server, [this](QModbusReply *reply) {
        qDebug() << "7";
        // Closing the link ("停止", the port removed) aborts the command; the
        // operator has left connected mode then and must not find the line
        // taken over behind his back.
        if (reply->error() != QModbusDevice::ReplyAbortedError && inConnectedMode())
            debug_start();
    });
}

bool Widget::inConnectedMode() const
{
    return ui->debugBt->isEnabled() && ui->pushButton_2->isEnabled()
        && isConsoleCaption(ui->debugBt->text(), StartCaption);
}

void Widget::debug_start()
{
    if (isConnected())
        m_modbusDevice->disconnectDevice();
    if (!isConsoleCaption(ui->debugBt->text(), StartCaption))
        return;

    // The instrument's console speaks at the default settings, whatever the
    // Modbus line uses.
    const MeterSchema::LineSettings console;
    m_serialPort->setPortName(ui->serialPortCombo->currentText());
    m_serialPort->setBaudRate(console.baudRate);
    m_serialPort->setDataBits(QSerialPort::Data8);
    m_serialPort->setStopBits(console.serialStopBits());
    m_serialPort->setParity(console.serialParity());
    m_serialPort->setFlowControl(QSerialPort::NoFlowControl);
    if (!m_serialPort->open(QIODevice::ReadWrite)) {
        showOpenFailure(m_serialPort);
        // The window still shows the connected layout; give it its link back
        // rather than let it poll a closed client. The operator has been told
        // the port is taken, so a second refusal only ends in idle mode.
        if (openLink())
            on_readBt_clicked();
        else
            on_pushButton_2_clicked();
        return;
    }

    // A character cut off when the console last closed belongs to nothing
    // that arrives now.
    delete m_consoleDecoder;
    m_consoleDecoder = new ConsoleTextDecoder;
    m_consoleAfterCr = false;

    setLineSettingsEnabled(false);
    ui->pushButton_3->setEnabled(false);

    // Unique, so that however often the console opens each chunk is read once.
    connect(m_serialPort, SIGNAL(readyRead()), this, SLOT(readDate()), Qt::UniqueConnection);
    ui->debugBt->setText(QString::fromUtf8(StopCaption));
    // The console holds the line now; nothing polls the values any more.
    showFreshness();
}

void Widget::watchConsolePort()
{
    watchPort(m_serialPort, &Widget::dropBrokenConsole);
}

void Widget::dropBrokenConsole()
{
    // The console may have been closed since the error.
    if (!isConsoleCaption(ui->debugBt->text(), StopCaption))
        return;
    on_pushButton_2_clicked();
}

void Widget::readDate()
{
    const QByteArray bytes = m_serialPort->readAll();
    if (bytes.isEmpty() || !m_consoleDecoder)
        return;
    m_consolePending.append(m_consoleDecoder->decode(bytes));
    if (!m_consoleShowScheduled && !m_consolePending.isEmpty()) {
        m_consoleShowScheduled = true;
        QTimer::singleShot(ShowIntervalMs, this, &Widget::showConsolePending);
    }
}

void Widget::showConsolePending()
{
    m_consoleShowScheduled = false;
    QTextDocument *document = ui->textBrowser->document();
    const bool overfull = isConsoleViewOverfull(document);
    if (m_consolePending.isEmpty() && !overfull)
        return;

    // The view's own cursor is the operator's: a click or a selection there
    // must not decide where the instrument's output goes.
    QScrollBar *scrollBar = ui->textBrowser->verticalScrollBar();
    const bool following = scrollBar->value() == scrollBar->maximum();

    if (overfull) {
        // Cutting the top off has every line below moved up: a turn's work
        // of its own.
        trimConsoleView();
    } else {
        QElapsedTimer spent;
        spent.start();
        QTextCursor cursor(document);
        cursor.movePosition(QTextCursor::End);
        while (!m_consolePending.isEmpty() && spent.elapsed() < InsertBudgetMs
               && !isConsoleViewOverfull(document)) {
            const ConsoleBacklog::Piece piece = m_consolePending.take(InsertPieceChars);
            cursor.beginEditBlock();
            if (piece.droppedBefore > 0)
                insertConsoleGap(cursor, piece.droppedBefore);
            insertConsoleText(cursor, piece.text);
            cursor.endEditBlock();
        }
    }

    if (following)
        scrollBar->setValue(scrollBar->maximum());
    // The rest follows as soon as the window has seen to everything else.
    if (!m_consolePending.isEmpty() || isConsoleViewOverfull(document)) {
        m_consoleShowScheduled = true;
        QTimer::singleShot(0, this, &Widget::showConsolePending);
    }
}

void Widget::insertConsoleText(QTextCursor &cursor, const QString &text)
{
    if (text.isEmpty())
        return;
    int column = cursor.block().length() - 1;
    int from = 0;
    // A CR LF pair split across two reads is still one line break.
    if (m_consoleAfterCr && text.at(0) == QLatin1Char('\n'))
        from = 1;
    while (from < text.size()) {
        int lineEnd = from;
        while (lineEnd < text.size() && text.at(lineEnd) != QLatin1Char('\r')
               && text.at(lineEnd) != QLatin1Char('\n'))
            ++lineEnd;
        while (lineEnd - from > LongestBlockChars - column) {
            const int room = LongestBlockChars - column;
            cursor.insertText(text.mid(from, room));
            cursor.insertBlock();
            from += room;
            column = 0;
        }
        cursor.insertText(text.mid(from, lineEnd - from));
        column += lineEnd - from;
        if (lineEnd == text.size())
            break;
        from = lineEnd + 1;
        if (text.at(lineEnd) == QLatin1Char('\r') && from < text.size() && text.at(from) == QLatin1Char('\n'))
            ++from;
        cursor.insertBlock();
        column = 0;
    }
    m_consoleAfterCr = text.endsWith(QLatin1Char('\r'));
}

void Widget::insertConsoleGap(QTextCursor &cursor, qint64 droppedChars)
{
    // A line of its own, set apart, so that nobody reads the text on either
    // side of it as one.
    if (cursor.block().length() > 1)
        cursor.insertBlock();
    QTextCharFormat marked;
    marked.setForeground(Qt::gray);
    marked.setFontItalic(true);
    cursor.insertText(QStringLiteral("[… 已丢弃 %1 个字符 …]").arg(droppedChars), marked);
    cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
    m_consoleAfterCr = false;
}

void Widget::trimConsoleView()
{
    // A separate edit: within one edit block with the insertion at the end
    // the change would span the whole view and have all of it laid out again.
    // Whole blocks only, so that no line is left with its start cut off.
    QTextDocument *document = ui->textBrowser->document();
    QTextBlock keep = document->findBlock(document->characterCount() - ScrollbackChars);
    const QTextBlock keepByCount = document->findBlockByNumber(document->blockCount() - ScrollbackBlocks);
    if (keepByCount.isValid() && keepByCount.position() > keep.position())
        keep = keepByCount;
    if (keep.isValid() && keep.position() > 0) {
        QTextCursor top(document);
        top.setPosition(keep.position(), QTextCursor::KeepAnchor);
        top.removeSelectedText();
    }
}

void Widget::on_sendBt_clicked()
{
    // The button stays usable while the console is closed; there is nothing
    // to write to then.
    if (!m_serialPort->isOpen())
        return;
    const QByteArray bytes = ui->sendLineEdit->text().toUtf8();
    if (!bytes.isEmpty())
        m_serialPort->write(bytes);
}

void Widget::on_clearBt_clicked()
{
    on_pushButton_4_clicked();
}

void Widget::on_pushButton_4_clicked()
{
    // Text received before the click goes with the rest, and so does a CR
    // it ended in: a line feed arriving next starts a line of its own.
    m_consolePending.clear();
    m_consoleAfterCr = false;
    ui->textBrowser->clear();
}
