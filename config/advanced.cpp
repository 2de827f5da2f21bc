#include "config/advanced.h"

#include "config/Controls.h"
#include "config/MessageBox.h"
#include "config/SettingsStore.h"
#include "engine/commonold.h"
#include "engine/processor.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

advanced::advanced(processor& process, QWidget* parent) : QDialog(parent), process_(process)
{
    setWindowTitle(QStringLiteral("Advanced Options"));
    createControls();
    layOut();
    txtFileFormat->setText(SettingsStore::readAsDialog(Setting::FileFormat));
    txtFileFormat->setFocus();
}

void advanced::createControls()
{
    txtFileFormat = addControl<QLineEdit>(this, "txtFileFormat", QStringLiteral("*t - *s"));
    Label1 = addCaption(this, "Label1", QStringLiteral("Folder Format"), txtFileFormat);
    Label2 = addControl<QLabel>(this, "Label2",
                                QStringLiteral("%ar = Artist  %al = Album  %s = Song  %t = Track Number.  "
                                               "\\ or / starts a new folder level."));
    Label2->setWordWrap(true);
    cmdOK = addControl<QPushButton>(this, "cmdOK", QStringLiteral("OK"));
    cmdCancel = addControl<QPushButton>(this, "cmdCancel", QStringLiteral("Cancel"));

    cmdOK->setAutoDefault(false);
    cmdCancel->setAutoDefault(false);
    chainTabOrder({txtFileFormat, cmdOK, cmdCancel});

    connect(cmdOK, &QPushButton::clicked, this, &advanced::save);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
}

// The caption and the format box on one line, the box growing with the
// dialog; the token help under them; OK and Cancel at the bottom.
void advanced::layOut()
{
    auto* grid = new QGridLayout(this);
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(txtFileFormat, 0, 1);
    grid->addWidget(Label2, 1, 0, 1, 2);
    grid->addLayout(leftRow({cmdOK, cmdCancel}), 2, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(1, 1);
    txtFileFormat->setMinimumWidth(txtFileFormat->fontMetrics().averageCharWidth() * 30);
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
