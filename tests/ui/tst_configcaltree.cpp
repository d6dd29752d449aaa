#include "tests/ui/windowtesthelpers.h"
#include "ui/configcaldelegate.h"

#include <QLineEdit>
#include <QStandardItemModel>
#include <QTest>
#include <QTextEdit>
#include <QTreeWidget>

using namespace windowtest;

namespace {

// Finds an item by its path of column-0 texts, e.g. {"Coil[4]", "Coil[2]"}.
QTreeWidgetItem *treeItem(QTreeWidget *tree, const QStringList &path)
{
    QTreeWidgetItem *found = nullptr;
    for (int i = 0; i < tree->topLevelItemCount() && !found; ++i)
        if (tree->topLevelItem(i)->text(0) == path.first())
            found = tree->topLevelItem(i);
    for (int depth = 1; found && depth < path.size(); ++depth) {
        QTreeWidgetItem *child = nullptr;
        for (int i = 0; i < found->childCount() && !child; ++i)
            if (found->child(i)->text(0) == path.at(depth))
                child = found->child(i);
        found = child;
    }
    return found;
}

} // namespace

class tst_ConfigCalTree : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { prepareWindowTests(); }

    void delegate_storesOnlyWholeDecimalNumbers_data();
    void delegate_storesOnlyWholeDecimalNumbers();
    void doubleClick_makesOnlyValueCellsOfLeavesEditable_data();
    void doubleClick_makesOnlyValueCellsOfLeavesEditable();
    void editKey_opensAnEditorOnlyOnValueCells_data();
    void editKey_opensAnEditorOnlyOnValueCells();
    void currentItem_showsTheGroupName_data();
    void currentItem_showsTheGroupName();
    void currentItem_toleratesNoCurrentItem();
};

void tst_ConfigCalTree::delegate_storesOnlyWholeDecimalNumbers_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("negative number") << "-42" << true;
    QTest::newRow("largest int") << "2147483647" << true;
    QTest::newRow("smallest int") << "-2147483648" << true;
    QTest::newRow("hexadecimal") << "0x1F" << false;
    QTest::newRow("empty text") << "" << false;
    QTest::newRow("digits then letters") << "42abc" << false;
    QTest::newRow("lone sign") << "-" << false;
    QTest::newRow("beyond int range") << "2147483648" << false;
    QTest::newRow("explicit plus sign") << "+42" << true;
    QTest::newRow("group separator") << "1,000" << false;
    QTest::newRow("surrounding space") << " 42" << false;
    QTest::newRow("non-ASCII digits") << QString::fromUtf8("\xD9\xA4\xD9\xA2") << false;
}

void tst_ConfigCalTree::delegate_storesOnlyWholeDecimalNumbers()
{
    QFETCH(QString, entry);
    QFETCH(bool, accepted);

    QStandardItemModel model(1, 2);
    const QModelIndex index = model.index(0, 1);
    model.setData(index, QStringLiteral("7"), Qt::EditRole);

    configCalDelegate delegate;
    QLineEdit editor;
    editor.setText(entry);
    QTest::ignoreMessage(QtDebugMsg, "Entered setModelData");
    if (!accepted)
        QTest::ignoreMessage(QtDebugMsg, "Not valid");
    delegate.setModelData(&editor, &model, index);

    const QVariant stored = model.data(index, Qt::EditRole);
    QCOMPARE(stored.toString(), accepted ? entry : QStringLiteral("7"));
    QCOMPARE(stored.userType(), int(QMetaType::QString));
}

void tst_ConfigCalTree::doubleClick_makesOnlyValueCellsOfLeavesEditable_data()
{
    QTest::addColumn<QStringList>("path");
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("editable");
    QTest::newRow("name of General") << QStringList{"General"} << 0 << false;
    QTest::newRow("value of General") << QStringList{"General"} << 1 << true;
    QTest::newRow("value of SMPS") << QStringList{"SMPS"} << 1 << true;
    QTest::newRow("value of group Ping[3]") << QStringList{"Ping[3]"} << 1 << false;
    QTest::newRow("value of group Coil[4]") << QStringList{"Coil[4]"} << 1 << false;
    QTest::newRow("value of group PID[10]") << QStringList{"PID[10]"} << 1 << false;
    QTest::newRow("value of Coil[2]") << QStringList{"Coil[4]", "Coil[2]"} << 1 << true;
    QTest::newRow("name of Coil[2]") << QStringList{"Coil[4]", "Coil[2]"} << 0 << false;
    QTest::newRow("value of the last PID child") << QStringList{"PID[10]", "Ping[9]"} << 1 << true;
}

void tst_ConfigCalTree::doubleClick_makesOnlyValueCellsOfLeavesEditable()
{
    QFETCH(QStringList, path);
    QFETCH(int, column);
    QFETCH(bool, editable);

    auto window = makeWindow();
    auto *tree = widget<QTreeWidget>(*window, "configCalTree");
    QTreeWidgetItem *item = treeItem(tree, path);
    QVERIFY(item);
    QVERIFY(!(item->flags() & Qt::ItemIsEditable));

    emit tree->itemDoubleClicked(item, column);
    QCOMPARE(bool(item->flags() & Qt::ItemIsEditable), editable);

    // A later double click on the name makes the same item read-only again.
    emit tree->itemDoubleClicked(item, 0);
    QVERIFY(!(item->flags() & Qt::ItemIsEditable));
    QVERIFY(item->flags() & Qt::ItemIsEnabled);
}

void tst_ConfigCalTree::editKey_opensAnEditorOnlyOnValueCells_data()
{
    QTest::addColumn<QStringList>("path");
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("editor");
    QTest::newRow("value of Coil[2]") << QStringList{"Coil[4]", "Coil[2]"} << 1 << true;
    QTest::newRow("name of Coil[2]") << QStringList{"Coil[4]", "Coil[2]"} << 0 << false;
    QTest::newRow("name of General") << QStringList{"General"} << 0 << false;
    QTest::newRow("value of group PID[10]") << QStringList{"PID[10]"} << 1 << false;
}

void tst_ConfigCalTree::editKey_opensAnEditorOnlyOnValueCells()
{
    QFETCH(QStringList, path);
    QFETCH(int, column);
    QFETCH(bool, editor);

    auto window = makeWindow();
    auto *tree = widget<QTreeWidget>(*window, "configCalTree");
    QTreeWidgetItem *item = treeItem(tree, path);
    QVERIFY(item);
    // The item's editable flag covers all its columns, as a double click on a value leaves it.
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    tree->setCurrentItem(item, column);
    QTest::keyClick(tree, Qt::Key_F2);
    QCOMPARE(tree->viewport()->findChildren<QLineEdit *>().size(), editor ? 1 : 0);
}

void tst_ConfigCalTree::currentItem_showsTheGroupName_data()
{
    QTest::addColumn<QStringList>("path");
    QTest::addColumn<QString>("details");
    QTest::newRow("top-level item") << QStringList{"SMPS"} << "SMPS Descritpion:";
    QTest::newRow("group") << QStringList{"Ping[3]"} << "Ping[3] Descritpion:";
    QTest::newRow("child shows its group") << QStringList{"Coil[4]", "Coil[2]"} << "Coil[4] Descritpion:";
    QTest::newRow("PID child named Ping") << QStringList{"PID[10]", "Ping[4]"} << "PID[10] Descritpion:";
}

void tst_ConfigCalTree::currentItem_showsTheGroupName()
{
    QFETCH(QStringList, path);
    QFETCH(QString, details);
    auto window = makeWindow();
    auto *tree = widget<QTreeWidget>(*window, "configCalTree");
    auto *detailsEdit = widget<QTextEdit>(*window, "registerDetailsEdit");
    QCOMPARE(detailsEdit->toPlainText(), QStringLiteral("Register Details"));

    QTreeWidgetItem *item = treeItem(tree, path);
    QVERIFY(item);
    tree->setCurrentItem(item);
    QCOMPARE(detailsEdit->toPlainText(), details);
}

void tst_ConfigCalTree::currentItem_toleratesNoCurrentItem()
{
    auto window = makeWindow();
    auto *tree = widget<QTreeWidget>(*window, "configCalTree");
    auto *detailsEdit = widget<QTextEdit>(*window, "registerDetailsEdit");
    tree->setCurrentItem(treeItem(tree, {"General"}));
    tree->clear();
    QVERIFY(!tree->currentItem());
    QCOMPARE(detailsEdit->toPlainText(), QStringLiteral("General Descritpion:"));
}

QTEST_MAIN(tst_ConfigCalTree)
#include "tst_configcaltree.moc"
