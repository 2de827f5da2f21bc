#include "config/advanced.h"

#include "config/Controls.h"
#include "config/MessageBox.h"
#include "config/SettingsStore.h"
#include "engine/commonold.h"
#include "engine/processor.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

advanced::advanced(processor& process, QWidget* parent) : QDialog(parent), process_(process)
{
    setWindowTitle(QStringLiteral("Advanced Options"));
    setFixedSize(twips(5160, 2730));
    useLayoutFont(this);
    createControls();
    txtFileFormat->setText(SettingsStore::readAsDialog(Setting::FileFormat));
    txtFileFormat->setFocus();
}

void advanced::createControls()
{
    Label1 = addControl<QLabel>(this, "Label1", twips(240, 240, 1455, 375), QStringLiteral("Folder Format"));
    txtFileFormat =
        addControl<QLineEdit>(this, "txtFileFormat", twips(1920, 120, 2895, 495), QStringLiteral("*t - *s"));
    Label2 = addControl<QLabel>(this, "Label2", twips(600, 840, 4095, 495),
                                QStringLiteral("%ar = Artist  %al = Album  %s = Song  %t = Track Number.  "
                                               "\\ or / starts a new folder level."));
    Label2->setWordWrap(true);
    cmdOK = addControl<QPushButton>(this, "cmdOK", twips(600, 1680, 1815, 495), QStringLiteral("OK"));
    cmdCancel = addControl<QPushButton>(this, "cmdCancel", twips(2520, 1680, 1935, 495), QStringLiteral("Cancel"));

    cmdOK->setAutoDefault(false);
    cmdCancel->setAutoDefault(false);
    chainTabOrder({txtFileFormat, cmdOK, cmdCancel});

    connect(cmdOK, &QPushButton::clicked, this, &advanced::save);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
}

QString advanced::cleanedFormat(QString format)
{
    QStringList levels = format.replace(QLatin1Char('/'), QLatin1Char('\\')).split(QLatin1Char('\\'));
    for (QString& level : levels)
        level = commonold::CleanName(level);
    return levels.join(QLatin1Char('\\'));
}

void advanced::save()
{
    if (!SettingsStore::write(Setting::FileFormat, cleanedFormat(txtFileFormat->text()))) {
        MessageBox::show(this, SettingsStore::cannotSaveMessage());
        return;
    }
    accept();
    process_.loadsettings();
}
