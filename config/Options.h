#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
struct ServiceSettings;

// Edits the three folders and whether the service runs at start-up. Talks to
// the service only through the settings store; the caller reloads the settings
// once the dialog has closed. The settings in force are handed on to the
// Advanced dialog, for its preview.
class Options : public QDialog {
    Q_OBJECT

public:
    explicit Options(const ServiceSettings& inForce, QWidget* parent = nullptr);

    // The Advanced dialog asked to re-file the outbox with its formats, now stored.
    bool refileAsked() const { return refileAsked_; }

private:
    void createControls();
    void layOut();
    void loadSettings();
    void chooseFolder(QLineEdit* box, const QLabel* label);
    void save();
    bool applyAutostart();
    void openAdvanced();

    const ServiceSettings& inForce_;
    bool refileAsked_ = false;
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
