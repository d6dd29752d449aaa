#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "ui/textpanes.h"

// The Terminal tab: the text the board's application prints.

void MainWindow::prepareTerminalTab()
{
    ui->terminalOutput->setCursorWidth(0);
    TextPanes::prepare(ui->terminalOutput);
}

void MainWindow::terminalOutputMessage(QString msg)
{
    TextPanes::append(ui->terminalOutput, msg);
}
