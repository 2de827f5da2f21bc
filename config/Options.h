#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class processor;

// Edits the three folders and whether the service runs at start-up. Talks to
// the service only through the settings store; the caller reloads the settings
// once the dialog has closed. The processor is asked only for its `advanced`
// flag and is handed on to the Advanced dialog.
class Options : public QDialog {
    Q_OBJECT

public:
    explicit Options(processor& process, QWidget* parent = nullptr);

    // Why the three folders, as the settings give them ("~" for the home
    // folder), cannot serve together: one given twice or one inside another,
    // as the file system resolves them, whatever the spelling. Empty when they can.
    static QString FolderConflict(const QString& inbox, const QString& outbox, const QString& errors);

private:
    void createControls();
    void layOut();
    void loadSettings();
    void chooseFolder(QLineEdit* box, const QLabel* label);
    void save();
    bool applyAutostart();
    void openAdvanced();

    processor& process_;
    QLabel* Label1;
    QLineEdit* txtinboxpath;
    QPushButton* cmdinbrowse;
    QLabel* Label2;
    QLineEdit* txtoutboxpath;
    QPushButton* cmdoutbrowse;
    QLabel* Label4;
    QLineEdit* txtErrorsPath;
    QPushButton* cmdErrorBrowse;
    QLabel* Label3;
    QRadioButton* optStarted;
    QRadioButton* OptStopped;
    QPushButton* cmdadvanced;
    // Shows whether the program starts at login, and changes that on OK.
    QCheckBox* chkAutostart;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;
};
