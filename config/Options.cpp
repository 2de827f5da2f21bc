#include "config/Options.h"

#include "config/Autostart.h"
#include "config/Controls.h"
#include "config/MessageBox.h"
#include "config/SettingsStore.h"
#include "config/advanced.h"
#include "engine/FilingError.h"
#include "engine/commonold.h"
#include "engine/processor.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

Options::Options(processor& process, QWidget* parent) : QDialog(parent), process_(process)
{
    setWindowTitle(QStringLiteral("Options"));
    setFixedSize(twips(6255, 4620));
    useLayoutFont(this);
    createControls();
    loadSettings();
    txtinboxpath->setFocus();
}

void Options::createControls()
{
    Label1 = addControl<QLabel>(this, "Label1", twips(840, 600, 975, 375), QStringLiteral("Inbox Path:"));
    txtinboxpath = addControl<QLineEdit>(this, "txtinboxpath", twips(1920, 480, 3135, 375));
    cmdinbrowse = addControl<QPushButton>(this, "cmdinbrowse", twips(5160, 480, 375, 375), QStringLiteral("..."));
    Label2 = addControl<QLabel>(this, "Label2", twips(840, 1200, 975, 375), QStringLiteral("Outbox Path:"));
    txtoutboxpath = addControl<QLineEdit>(this, "txtoutboxpath", twips(1920, 1080, 3135, 405));
    cmdoutbrowse = addControl<QPushButton>(this, "cmdoutbrowse", twips(5160, 1080, 375, 375), QStringLiteral("..."));
    Label4 = addControl<QLabel>(this, "Label4", twips(840, 1680, 975, 375), QStringLiteral("Errors Path:"));
    txtErrorsPath = addControl<QLineEdit>(this, "txtErrorsPath", twips(1920, 1680, 3135, 375));
    cmdErrorBrowse =
        addControl<QPushButton>(this, "cmdErrorBrowse", twips(5160, 1680, 375, 375), QStringLiteral("..."));
    Label3 = addControl<QLabel>(this, "Label3", twips(360, 2640, 1575, 495), QStringLiteral("Service Load State:"));
    optStarted = addControl<QRadioButton>(this, "optStarted", twips(1920, 2400, 1575, 255), QStringLiteral("Started"));
    OptStopped = addControl<QRadioButton>(this, "OptStopped", twips(1920, 2760, 975, 255), QStringLiteral("Stopped"));
    cmdadvanced =
        addControl<QPushButton>(this, "cmdadvanced", twips(4080, 2400, 1455, 495), QStringLiteral("Advanced"));
    chkAutostart = addControl<QCheckBox>(this, "chkAutostart", twips(1920, 3030, 3135, 255),
                                         QStringLiteral("Start when I log in"));
    cmdOK = addControl<QPushButton>(this, "cmdOK", twips(1920, 3360, 1095, 375), QStringLiteral("OK"));
    cmdCancel = addControl<QPushButton>(this, "cmdCancel", twips(3240, 3360, 1335, 375), QStringLiteral("Cancel"));

    // The dialog's buttons act only when clicked: Enter in a text box does not press OK.
    for (QPushButton* button : {cmdinbrowse, cmdoutbrowse, cmdErrorBrowse, cmdadvanced, cmdOK, cmdCancel})
        button->setAutoDefault(false);
    chainTabOrder({txtinboxpath, txtoutboxpath, cmdOK, cmdCancel, cmdinbrowse, cmdoutbrowse, optStarted, OptStopped,
                   chkAutostart, txtErrorsPath, cmdErrorBrowse, cmdadvanced});

    connect(cmdinbrowse, &QPushButton::clicked, this, [this] { chooseFolder(txtinboxpath, Label1); });
    connect(cmdoutbrowse, &QPushButton::clicked, this, [this] { chooseFolder(txtoutboxpath, Label2); });
    connect(cmdErrorBrowse, &QPushButton::clicked, this, [this] { chooseFolder(txtErrorsPath, Label4); });
    connect(cmdOK, &QPushButton::clicked, this, &Options::save);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(cmdadvanced, &QPushButton::clicked, this, &Options::openAdvanced);
}

void Options::loadSettings()
{
    if (SettingsStore::toBool(SettingsStore::readAsDialog(Setting::State), true))
        optStarted->setChecked(true);
    else
        OptStopped->setChecked(true);
    txtinboxpath->setText(SettingsStore::readAsDialog(Setting::InboxPath));
    txtoutboxpath->setText(SettingsStore::readAsDialog(Setting::OutboxPath));
    txtErrorsPath->setText(SettingsStore::readAsDialog(Setting::ErrorsPath));
    cmdadvanced->setVisible(process_.advanced);
    chkAutostart->setChecked(Autostart::isEnabled());
}

// The chooser opens at the folder in the box, or at the nearest folder above it
// that exists (the home folder for a relative path), and is titled after the box.
void Options::chooseFolder(QLineEdit* box, const QLabel* label)
{
    QString start = QDir::cleanPath(withHomeFolder(box->text()));
    if (QDir::isRelativePath(start))
        start = QDir::homePath();
    while (!QFileInfo(start).isDir())
        start = QFileInfo(start).path();
    const QString title = label->text().remove(QLatin1Char(':'));
    const QString folder = QFileDialog::getExistingDirectory(this, title, start);
    if (!folder.isEmpty())
        box->setText(folder);
}

bool Options::PathsAreUnique() const
{
    return PathsAreUnique(txtinboxpath->text(), txtoutboxpath->text(), txtErrorsPath->text());
}

// Compared as the program will use them: "~" expanded, then resolved.
bool Options::PathsAreUnique(const QString& inboxPath, const QString& outboxPath, const QString& errorsPath)
{
    const QString inbox = commonold::ResolvedFolder(withHomeFolder(inboxPath));
    const QString outbox = commonold::ResolvedFolder(withHomeFolder(outboxPath));
    const QString errors = commonold::ResolvedFolder(withHomeFolder(errorsPath));
    return inbox != outbox && inbox != errors && outbox != errors;
}

void Options::save()
{
    if (!PathsAreUnique()) {
        MessageBox::show(this, QStringLiteral("Can't have the same path for two locations."));
        return;
    }
    if (!applyAutostart())
        return;
    const bool saved = SettingsStore::write(Setting::State, optStarted->isChecked() ? QStringLiteral("True")
                                                                                    : QStringLiteral("False")) &&
                       SettingsStore::write(Setting::InboxPath, txtinboxpath->text()) &&
                       SettingsStore::write(Setting::OutboxPath, txtoutboxpath->text()) &&
                       SettingsStore::write(Setting::ErrorsPath, txtErrorsPath->text());
    if (!saved) { // the dialog stays open with the user's values
        MessageBox::show(this, SettingsStore::cannotSaveMessage());
        return;
    }
    accept();
}

// A start at login that cannot be set up is said before anything is written,
// and the dialog stays open.
bool Options::applyAutostart()
{
    if (chkAutostart->isChecked() == Autostart::isEnabled())
        return true;
    try {
        Autostart::setEnabled(chkAutostart->isChecked());
        return true;
    } catch (const FilingError& failure) {
        MessageBox::show(this, QStringLiteral("Cannot change the start at login (%1): %2")
                                   .arg(failure.description(), Autostart::filePath()));
        return false;
    }
}

void Options::openAdvanced()
{
    advanced dialog(process_, this);
    dialog.exec();
}
