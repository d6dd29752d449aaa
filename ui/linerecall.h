#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QLineEdit;

// Up and Down in a one-line input bring back the lines sent before, as a shell does; Down past
// the newest returns to what was being typed.
class LineRecall : public QObject
{
public:
    // Watches the input's keys; a child of the input.
    explicit LineRecall(QLineEdit *input);

    // A line that was sent: it becomes the newest to recall.
    void add(const QString &line);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLineEdit *input;
    QStringList lines;
    // Which line is shown: lines.size() means the one being typed, kept in draft.
    int shown = 0;
    QString draft;
};
