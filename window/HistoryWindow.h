#pragma once

#include "engine/History.h"

#include <QDialog>

#include <functional>

class QLineEdit;
class QPushButton;
class QTableWidget;
class QTimer;

// The latest filings first, from the history: the time, what happened, the
// inbox name and where the file went (or why it failed), searchable by name.
// "Open folder" shows a row's folder; "Put back" returns the selected filed
// files to the inbox and "File again" files the selected files put back, both
// through the commands it is given (the service does the moves).
class HistoryWindow : public QDialog {
    Q_OBJECT

public:
    struct Commands {
        std::function<void(const QStringList& paths)> putBack;
        std::function<void(const QStringList& inboxNames)> fileAgain;
    };
    explicit HistoryWindow(Commands commands, QWidget* parent = nullptr);

    // Reads the history again, keeping the search.
    void reload();
    // The same a moment later, once for a burst of lines (a re-filing writes many).
    void reloadSoon();

private:
    void showMatching();
    QList<const History::Entry*> selectedEntries() const;
    void updateButtons();
    void openFolder();
    void putBack();
    void fileAgain();

    Commands commands_;
    QList<History::Entry> entries_;
    QLineEdit* txtSearch;
    QTableWidget* tblHistory;
    QPushButton* cmdOpenFolder;
    QPushButton* cmdPutBack;
    QPushButton* cmdFileAgain;
    QPushButton* cmdClose;
    QTimer* reloadTimer_;
};
