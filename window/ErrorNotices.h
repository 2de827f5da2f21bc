#pragma once

#include <QObject>
#include <QTimer>

// Tells the user, through one desktop notification at most every few seconds,
// how many files went to the errors folder: the first such file starts the
// wait, and the notice then sums up every file since.
class ErrorNotices : public QObject {
    Q_OBJECT

public:
    explicit ErrorNotices(int quietMilliseconds = 5000, QObject* parent = nullptr);

    // One more file is in the errors folder.
    void fileErrorFiled();

    // "3 files could not be filed; they are in the errors folder."
    static QString text(int files);

signals:
    void notice(const QString& text);

private:
    void showPending();

    QTimer wait_;
    int pending_ = 0;
};
