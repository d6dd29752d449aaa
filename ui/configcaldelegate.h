#pragma once

#include <QItemDelegate>

// Edits the values of the configuration/calibration tree with a plain line edit and keeps only
// entries that are whole decimal numbers in the signed 32-bit range.
class configCalDelegate : public QItemDelegate
{
    Q_OBJECT

public:
    explicit configCalDelegate(QObject *parent = nullptr);

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override;
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const override;
};
