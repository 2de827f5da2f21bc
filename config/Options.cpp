#include "config/Options.h"

#include "config/Autostart.h"
#include "config/Controls.h"
#include "config/MessageBox.h"
#include "config/SettingsStore.h"
#include "config/StoredSettings.h"
#include "config/advanced.h"
#include "engine/FilingError.h"
#include "engine/commonold.h"
#include "engine/processor.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <tuple>

Options::Options(const ServiceSettings& inForce, QWidget* parent) : QDialog(parent), inForce_(inForce)
{
    setWindowTitle(QStringLiteral("Options"));
    createControls();
    loadSettings();
    txtinboxpath->setFocus();
}

void Options::createControls()
{
    txtinboxpath = addControl<QLineEdit>(this, "txtinboxpath");
    Label1 = addCaption(this, "Label1", QStringLiteral("Inbox Path:"), txtinboxpath);
    cmdinbrowse = addControl<QPushButton>(this, "cmdinbrowse", QStringLiteral("..."));
    txtoutboxpath = addControl<QLineEdit>(this, "txtoutboxpath");
    Label2 = addCaption(this, "Label2", QStringLiteral("Outbox Path:"), txtoutboxpath);
    cmdoutbrowse = addControl<QPushButton>(this, "cmdoutbrowse", QStringLiteral("..."));
    txtErrorsPath = addControl<QLineEdit>(this, "txtErrorsPath");
    Label4 = addCaption(this, "Label4", QStringLiteral("Errors Path:"), txtErrorsPath);
    cmdErrorBrowse = addControl<QPushButton>(this, "cmdErrorBrowse", QStringLiteral("..."));
    optStarted = addControl<QRadioButton>(this, "optStarted", QStringLiteral("Started"));
    Label3 = addCaption(this, "Label3", QStringLiteral("Service Load State:"), optStarted);
    OptStopped = addControl<QRadioButton>(this, "OptStopped", QStringLiteral("Stopped"));
    cmdadvanced = addControl<QPushButton>(this, "cmdadvanced", QStringLiteral("Advanced"));
    chkAutostart = addControl<QCheckBox>(this, "chkAutostart", QStringLiteral("Start when I log in"));
    cmdOK = addControl<QPushButton>(this, "cmdOK", QStringLiteral("OK"));
    cmdCancel = addControl<QPushButton>(this, "cmdCancel", QStringLiteral("Cancel"));
    layOut();

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

// The captions in the first column, the folder boxes growing with the dialog
// in the second, their "..." buttons in the third; under them the start-up
// state with Advanced on its right, the start at login, OK and Cancel.
void Options::layOut()
{
    auto* grid = new QGridLayout(this);
    int row = 0;
    for (const auto& [caption, box, browse] : {std::tuple{Label1, txtinboxpath, cmdinbrowse},
                                               {Label2, txtoutboxpath, cmdoutbrowse},
                                               {Label4, txtErrorsPath, cmdErrorBrowse}}) {
        grid->addWidget(caption, row, 0);
        grid->addWidget(box, row, 1);
        grid->addWidget(browse, row++, 2);
        box->setMinimumWidth(box->fontMetrics().averageCharWidth() * 40);
        browse->setAccessibleName(QStringLiteral("Choose ") + caption->text().chopped(1)); // "..." says nothing
    }
    grid->setRowMinimumHeight(row++, fontMetrics().height() / 2);
    auto* states = new QVBoxLayout;
    states->addWidget(optStarted);
    states->addWidget(OptStopped);
    auto* stateRow = new QHBoxLayout;
    stateRow->addLayout(states);
    stateRow->addStretch();
    stateRow->addWidget(cmdadvanced, 0, Qt::AlignTop);
    grid->addWidget(Label3, row, 0);
    grid->addLayout(stateRow, row++, 1, 1, 2);
    grid->addWidget(chkAutostart, row++, 1, 1, 2);
    grid->addLayout(leftRow({cmdOK, cmdCancel}), row, 1, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(row, 1);
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
    for (QLineEdit* box : {txtinboxpath, txtoutboxpath, txtErrorsPath})
        box->setCursorPosition(0); // a long path shows its start
    cmdadvanced->setVisible(processor::advanced);
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
    if (!folder.isEmpty()) {
        box->setText(folder);
        box->setCursorPosition(0);
    }
}

void Options::save()
{
    if (const QString conflict =
            StoredSettings::folderConflict(txtinboxpath->text(), txtoutboxpath->text(), txtErrorsPath->text());
        !conflict.isEmpty()) {
        MessageBox::show(this, conflict);
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
    advanced dialog(inForce_, this);
    dialog.exec();
    refileAsked_ = refileAsked_ || dialog.refileAsked();
}
