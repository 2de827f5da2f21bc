#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class processor;

// Edits the folder format, the pattern of tag tokens from which the filing
// builds the folders under the outbox. Unlike the Options dialog it applies its
// change itself: OK stores the format and has the processor reload it at once.
class advanced : public QDialog {
    Q_OBJECT

public:
    explicit advanced(processor& process, QWidget* parent = nullptr);

    // The format as it is stored: "/" starts a new folder level as "\" does
    // and is stored as "\"; each level loses the characters no folder name may
    // hold.
    static QString cleanedFormat(QString format);

private:
    void createControls();
    void layOut();
    void save();

    processor& process_;
    QLabel* Label1;
    QLineEdit* txtFileFormat;
    QLabel* Label2;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;
};
