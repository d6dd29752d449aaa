#pragma once

#include <QItemDelegate>

// Edits the values of the configuration/calibration tree with a plain line edit and keeps only
// entries that are whole decimal numbers in the signed 32-bit range.
class configCalDelegate : public QItemDelegate
{
    Q_OBJECT

public:
    explicit configCalDelegate(QObject *parent = nullptr);

    // Only the value of a row without children can be edited; names and group values ("---")
    // stay read-only, whichever trigger asks for an editor.
    static bool isValueCell(int column, bool topLevel, bool hasChildren);
    // An optional sign and decimal digits (ASCII only, no group separators), within int32.
    static bool isWholeDecimalNumber(const QString &text);

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override;
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const override;
};
