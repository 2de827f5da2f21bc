#include "config/advanced.h"

#include "config/Controls.h"
#include "config/MessageBox.h"
#include "config/SettingsStore.h"
#include "engine/FilingPreview.h"
#include "engine/FolderFormat.h"
#include "engine/OutboxRefile.h"
#include "engine/ServiceSettings.h"
#include "engine/commonold.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

advanced::advanced(const ServiceSettings& inForce, QWidget* parent) : QDialog(parent), inForce_(inForce)
{
    setWindowTitle(QStringLiteral("Advanced Options"));
    createControls();
    createNameControls();
    layOut();
    txtFileFormat->setText(SettingsStore::readAsDialog(Setting::FileFormat));
    txtFileNameFormat->setText(SettingsStore::readAsDialog(Setting::FileNameFormat));
    txtFileFormat->setFocus();
    showWhereFilesGo();
}

advanced::~advanced() = default;

void advanced::createControls()
{
    txtFileFormat = addControl<QLineEdit>(this, "txtFileFormat", QStringLiteral("*t - *s"));
    Label1 = addCaption(this, "Label1", QStringLiteral("Folder Format"), txtFileFormat);
    Label2 = addControl<QLabel>(this, "Label2",
                                QStringLiteral("\\ or / starts a new folder level.  "
                                               "%aa\\%al keeps a compilation in one folder."));
    Label2->setWordWrap(true);
    cmdOK = addControl<QPushButton>(this, "cmdOK", QStringLiteral("OK"));
    cmdCancel = addControl<QPushButton>(this, "cmdCancel", QStringLiteral("Cancel"));
    cmdRefile = addControl<QPushButton>(this, "cmdRefile", QStringLiteral("Re-file the outbox"));
    cmdRefile->setAutoDefault(false);
    connect(cmdRefile, &QPushButton::clicked, this, &advanced::countRefileMoves);

    cmdOK->setAutoDefault(false);
    cmdCancel->setAutoDefault(false);

    connect(cmdOK, &QPushButton::clicked, this, &advanced::save);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
}

// The file name format, the token help, the note on unknown tokens and the
// preview, which follows both formats as they are typed.
void advanced::createNameControls()
{
    txtFileNameFormat = addControl<QLineEdit>(this, "txtFileNameFormat");
    txtFileNameFormat->setPlaceholderText(QStringLiteral("empty: the name in the inbox"));
    Label3 = addCaption(this, "Label3", QStringLiteral("File Name Format"), txtFileNameFormat);
    lblUnknown = addControl<QLabel>(this, "lblUnknown");
    lblTokens = addControl<QLabel>(this, "lblTokens", TokenHelp());
    lblPreview = addControl<QLabel>(this, "lblPreview");
    Label4 = addCaption(this, "Label4", QStringLiteral("Filed as:"), lblPreview);
    for (QLabel* label : {lblUnknown, lblTokens, lblPreview}) {
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }
    lblPreview->setTextInteractionFlags(Qt::TextSelectableByMouse);
    chainTabOrder({txtFileFormat, txtFileNameFormat, cmdOK, cmdCancel, cmdRefile});

    readPreviewTags();
    connect(txtFileFormat, &QLineEdit::textChanged, this, &advanced::showWhereFilesGo);
    connect(txtFileNameFormat, &QLineEdit::textChanged, this, &advanced::showWhereFilesGo);
}

// Each caption and its box on one line, the boxes growing with the dialog; the
// help, the note on unknown tokens and the preview under them; OK and Cancel
// at the bottom.
void advanced::layOut()
{
    auto* grid = new QGridLayout(this);
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(txtFileFormat, 0, 1);
    grid->addWidget(Label2, 1, 0, 1, 2);
    grid->addWidget(Label3, 2, 0);
    grid->addWidget(txtFileNameFormat, 2, 1);
    grid->addWidget(lblUnknown, 3, 0, 1, 2);
    grid->addWidget(lblTokens, 4, 0, 1, 2);
    grid->addWidget(Label4, 5, 0, Qt::AlignTop);
    grid->addWidget(lblPreview, 5, 1);
    auto* buttons = leftRow({cmdOK, cmdCancel});
    buttons->addWidget(cmdRefile);
    grid->addLayout(buttons, 6, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(5, 1);
    const int line = fontMetrics().lineSpacing();
    lblUnknown->setMinimumHeight(2 * line);
    lblPreview->setMinimumHeight(6 * line);
    txtFileFormat->setMinimumWidth(txtFileFormat->fontMetrics().averageCharWidth() * 45);
}

// The inbox's first songs and their tags are read on a thread of their own,
// so a slow disk or a file hard to read never holds up the dialog; the
// preview shows them once read. A dialog closed meanwhile gets nothing.
void advanced::readPreviewTags()
{
    auto read = std::make_shared<std::unique_ptr<FilingPreview>>();
    QThread* reader = QThread::create([read, inbox = inForce_.inbox, outbox = inForce_.outbox] {
        *read = std::make_unique<FilingPreview>(inbox, outbox);
    });
    reader->setObjectName(QStringLiteral("preview"));
    connect(reader, &QThread::finished, reader, &QObject::deleteLater);
    connect(reader, &QThread::finished, this, [this, read] {
        preview_ = std::move(*read);
        showWhereFilesGo();
    });
    reader->start();
}

// The formats as OK would store them, answered by the filing's own function.
void advanced::showWhereFilesGo()
{
    const QString folders = CleanedFolderFormat(txtFileFormat->text());
    const QString name = commonold::CleanName(txtFileNameFormat->text());
    QStringList notes;
    for (const QString& token : UnknownTokens(folders + QLatin1Char('\\') + name)) {
        notes << token + QStringLiteral(" is not a token; it is kept as text");
    }
    lblUnknown->setText(notes.join(QLatin1Char('\n')));
    lblPreview->setText(preview_ ? preview_->lines(folders, name).join(QLatin1Char('\n'))
                                 : QStringLiteral("Reading the tags of the first songs in the inbox…"));
}

void advanced::save()
{
    if (store())
        accept();
}

// The formats as typed, stored; false, said, when they cannot be.
bool advanced::store()
{
    if (!SettingsStore::write(Setting::FileFormat, CleanedFolderFormat(txtFileFormat->text())) ||
        !SettingsStore::write(Setting::FileNameFormat, commonold::CleanName(txtFileNameFormat->text()))) {
        MessageBox::show(this, SettingsStore::cannotSaveMessage());
        return false;
    }
    return true;
}

// How many songs the formats as typed would move, counted on a thread of its
// own as the preview reads its tags: a large library takes a while.
void advanced::countRefileMoves()
{
    cmdRefile->setEnabled(false);
    cmdRefile->setText(QStringLiteral("Counting…"));
    auto moves = std::make_shared<int>(0);
    QThread* counter =
        QThread::create([moves, outbox = inForce_.outbox, folders = CleanedFolderFormat(txtFileFormat->text()),
                         names = commonold::CleanName(txtFileNameFormat->text())] {
            *moves = OutboxRefile(outbox, folders, names).countMoves();
        });
    counter->setObjectName(QStringLiteral("refile count"));
    connect(counter, &QThread::finished, counter, &QObject::deleteLater);
    connect(counter, &QThread::finished, this, [this, moves] { askToRefile(*moves); });
    counter->start();
}

// Confirmed, the formats are stored and the dialog closes; the re-filing
// runs in the service, with the main window's bars as its progress.
void advanced::askToRefile(int moves)
{
    cmdRefile->setEnabled(true);
    cmdRefile->setText(QStringLiteral("Re-file the outbox"));
    if (moves == 0) {
        MessageBox::show(this, QStringLiteral("Every song in the outbox is where these formats put it."));
        return;
    }
    const QString question =
        QStringLiteral("%1 song%2 would move to where these formats and %3 tags put %4, with %5 companions. "
                       "Store the formats and re-file the outbox now?")
            .arg(moves)
            .arg(moves == 1 ? QString() : QStringLiteral("s"),
                 moves == 1 ? QStringLiteral("its") : QStringLiteral("their"),
                 moves == 1 ? QStringLiteral("it") : QStringLiteral("them"),
                 moves == 1 ? QStringLiteral("its") : QStringLiteral("their"));
    if (QMessageBox::question(this, kApplicationTitle, question) != QMessageBox::Yes || !store())
        return;
    refileAsked_ = true;
    accept();
}
