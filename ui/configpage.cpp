#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "ui/configcaldelegate.h"

// The configuration/calibration page: built with the window, though not among its tabs.

void MainWindow::prepareConfigPage()
{
    // Parented so that the delegate goes with the window; the view itself never deletes it.
    ui->configCalTree->setItemDelegate(new configCalDelegate(this));
    ui->ccSplitter->setSizes({200, 100});
}

void MainWindow::on_configCalTree_itemDoubleClicked(QTreeWidgetItem *item, int column)
{
    if (!item)
        return;
    Qt::ItemFlags flags = item->flags();
    if (configCalDelegate::isValueCell(column, item->parent() == nullptr, item->childCount() > 0))
        flags |= Qt::ItemIsEditable;
    else
        flags &= ~Qt::ItemIsEditable;
    item->setFlags(flags);
}

void MainWindow::on_configCalTree_currentItemChanged(QTreeWidgetItem *current, QTreeWidgetItem *)
{
    if (!current)
        return;
    const QTreeWidgetItem *named = current->parent() ? current->parent() : current;
    ui->registerDetailsEdit->setPlainText(named->text(0) + QStringLiteral(" Descritpion:"));
}
