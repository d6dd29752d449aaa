#include "ui/configcaldelegate.h"

#include <QDebug>
#include <QIntValidator>
#include <QLineEdit>

configCalDelegate::configCalDelegate(QObject *parent) : QItemDelegate(parent)
{
}

QWidget *configCalDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &, const QModelIndex &) const
{
    qDebug() << "Entered createEditor";
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
    QString text = static_cast<QLineEdit *>(editor)->text();
    const QIntValidator validator;
    int position = 0;
    if (validator.validate(text, position) == QValidator::Acceptable)
        model->setData(index, text, Qt::EditRole);
    else
        qDebug() << "Not valid";
}

void configCalDelegate::updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                                             const QModelIndex &) const
{
    editor->setGeometry(option.rect);
}
