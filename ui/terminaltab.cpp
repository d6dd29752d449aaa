#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "ui/linerecall.h"
#include "ui/terminalsession.h"
#include "ui/textpanes.h"
#include "ui/zavlosettings.h"

#include <QDir>
#include <QFileDialog>
#include <QSaveFile>
#include <QTime>

// The Terminal tab: the text the board's application prints, and the line the user sends it.

namespace {

const QString kLineEndingKey = QStringLiteral("terminal/lineEnding");

struct LineEnding {
    const char *key; // as remembered in the settings
    const char *label;
    const char *bytes;
};

const LineEnding kLineEndings[] = {
    {"CR", "CR", "\r"},
    {"LF", "LF", "\n"},
    {"CRLF", "CR+LF", "\r\n"},
    {"none", "None", ""},
};
const QString kDefaultLineEnding = QStringLiteral("CRLF");

} // namespace

void MainWindow::prepareTerminalTab()
{
    ui->terminalOutput->setCursorWidth(0);
    terminalPane = TextPane::attach(ui->terminalOutput);
    terminalSession = new TerminalSession(this);
    terminalRecall = new LineRecall(ui->terminalInput);

    const QString remembered = zavloSettings().value(kLineEndingKey, kDefaultLineEnding).toString();
    for (const LineEnding &ending : kLineEndings) {
        ui->terminalLineEndingBox->addItem(QString::fromLatin1(ending.label), QString::fromLatin1(ending.key));
        if (remembered == QLatin1String(ending.key))
            ui->terminalLineEndingBox->setCurrentIndex(ui->terminalLineEndingBox->count() - 1);
    }
    connect(ui->terminalLineEndingBox, QOverload<int>::of(&QComboBox::activated), this,
            [this] { zavloSettings().setValue(kLineEndingKey, ui->terminalLineEndingBox->currentData()); });

    connect(ui->terminalInput, &QLineEdit::returnPressed, this, &MainWindow::sendTerminalLine);
    connect(ui->terminalSendButton, &QPushButton::clicked, this, &MainWindow::sendTerminalLine);
    connect(ui->terminalTimeStampsBox, &QCheckBox::toggled, terminalSession, &TerminalSession::setTimeStamps);
    connect(ui->terminalEndButton, &QPushButton::clicked, terminalPane, &TextPane::followTail);
    connect(ui->terminalClearButton, &QPushButton::clicked, terminalPane, &TextPane::clear);
    connect(ui->terminalSaveButton, &QPushButton::clicked, this, &MainWindow::saveTerminalText);
    connect(ui->terminalLogButton, &QPushButton::clicked, this, &MainWindow::setTerminalLogging);
    connect(terminalSession, &TerminalSession::logFailed, this, [this](const QString &reason) {
        appendConsoleMessage(tr("Terminal log stopped, it cannot be written: %1").arg(reason));
        updateTerminalTabControls();
    });
    connect(ui->tabWidget, &QTabWidget::currentChanged, this, [this](int index) {
        terminalShown = index == kTerminalTab;
        updateTerminalTabControls();
    });
}

void MainWindow::updateTerminalTabControls()
{
    // A session log belongs to one connection.
    if (!comPortOpen)
        closeTerminalLog();
    const bool canSend = comPortOpen && terminalShown;
    ui->terminalInput->setEnabled(canSend);
    ui->terminalSendButton->setEnabled(canSend);
    ui->terminalLogButton->setEnabled(comPortOpen);
    ui->terminalLogButton->setChecked(terminalSession->logging());
    ui->terminalLogLabel->setText(terminalSession->logging() ? tr("Logging to %1").arg(terminalSession->logFileName())
                                                             : terminalSession->errorString());
}

void MainWindow::terminalOutputMessage(QString msg)
{
    terminalPane->append(terminalSession->take(msg, QTime::currentTime()));
}

void MainWindow::sendTerminalLine()
{
    if (!comPortOpen || !terminalShown)
        return;
    const QString line = ui->terminalInput->text();
    const QString key = ui->terminalLineEndingBox->currentData().toString();
    QByteArray bytes = line.toUtf8();
    for (const LineEnding &ending : kLineEndings)
        if (key == QLatin1String(ending.key))
            bytes += ending.bytes;
    if (bytes.isEmpty())
        return;
    emit terminalSendRequest(bytes);
    terminalRecall->add(line);
    ui->terminalInput->clear();
}

void MainWindow::setTerminalLogging(bool on)
{
    if (!on) {
        closeTerminalLog();
    } else if (comPortOpen && !terminalSession->logging()) {
        if (terminalSession->startLog())
            appendConsoleMessage(tr("Terminal log started: %1").arg(terminalSession->logFileName()));
        else
            appendConsoleMessage(tr("Terminal log not started. %1").arg(terminalSession->errorString()));
    }
    updateTerminalTabControls();
}

void MainWindow::closeTerminalLog()
{
    if (!terminalSession->logging())
        return;
    terminalSession->stopLog();
    appendConsoleMessage(tr("Terminal log closed: %1").arg(terminalSession->logFileName()));
}

void MainWindow::saveTerminalText()
{
    const QString path = QFileDialog::getSaveFileName(this, tr("Save Terminal Text"),
                                                      QDir::home().filePath(QStringLiteral("terminal.txt")),
                                                      tr("Text files (*.txt *.log);;All files (*)"));
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Text) &&
        file.write(ui->terminalOutput->toPlainText().toUtf8()) >= 0 && file.commit())
        appendConsoleMessage(tr("Terminal text saved to %1").arg(path));
    else
        appendConsoleMessage(tr("Terminal text not saved to %1: %2").arg(path, file.errorString()));
}
