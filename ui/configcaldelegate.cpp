#include "ui/configcaldelegate.h"

#include <QDebug>
#include <QLineEdit>
#include <QRegularExpression>

#include <limits>

configCalDelegate::configCalDelegate(QObject *parent) : QItemDelegate(parent)
{
}

bool configCalDelegate::isValueCell(int column, bool topLevel, bool hasChildren)
{
    return column == 1 && !(topLevel && hasChildren);
}

bool configCalDelegate::isWholeDecimalNumber(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^[+-]?[0-9]+$"));
    if (!pattern.match(text).hasMatch())
        return false;
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    return ok && value >= std::numeric_limits<qint32>::min() && value <= std::numeric_limits<qint32>::max();
}

QWidget *configCalDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &, const QModelIndex &index) const
{
    qDebug() << "Entered createEditor";
    // The double click sets the item's editable flag for all its columns; F2 or typing on the
    // name afterwards must not open an editor there.
    const bool topLevel = !index.parent().isValid();
    if (!isValueCell(index.column(), topLevel, index.model()->hasChildren(index.siblingAtColumn(0))))
        return nullptr;
    return new QLineEdit(parent);
}

void configCalDelegate::setEditorData(QWidget *editor, const QModelIndex &index) const
{
    qDebug() << "Entered setEditorData";
    const QString value = index.model()->data(index, Qt::EditRole).toString();
    qDebug() << "String is " << value;
    static_cast<QLineEdit *>(editor)->setText(value);
}

void configCalDelegate::setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const
{
    qDebug() << "Entered setModelData";
    const QString text = static_cast<QLineEdit *>(editor)->text();
    if (isWholeDecimalNumber(text))
        model->setData(index, text, Qt::EditRole);
    else
        qDebug() << "Not valid";
}

void configCalDelegate::updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                                             const QModelIndex &) const
{
    editor->setGeometry(option.rect);
}
