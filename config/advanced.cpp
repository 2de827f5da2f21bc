#include "config/advanced.h"

#include "config/Controls.h"
#include "config/MessageBox.h"
#include "config/SettingsStore.h"
#include "engine/FilingPreview.h"
#include "engine/commonold.h"
#include "engine/processor.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

advanced::advanced(processor& process, QWidget* parent) : QDialog(parent), process_(process)
{
    setWindowTitle(QStringLiteral("Advanced Options"));
    setFixedSize(twips(5160, 2730));
    useLayoutFont(this);
    createControls();
    createNameControls();
    txtFileFormat->setText(SettingsStore::readAsDialog(Setting::FileFormat));
    txtFileNameFormat->setText(SettingsStore::readAsDialog(Setting::FileNameFormat));
    txtFileFormat->setFocus();
    showWhereFilesGo();
}

advanced::~advanced() = default;

void advanced::createControls()
{
    Label1 = addControl<QLabel>(this, "Label1", twips(240, 240, 1455, 375), QStringLiteral("Folder Format"));
    txtFileFormat =
        addControl<QLineEdit>(this, "txtFileFormat", twips(1920, 120, 2895, 495), QStringLiteral("*t - *s"));
    Label2 = addControl<QLabel>(this, "Label2", twips(600, 840, 4095, 495),
                                QStringLiteral("\\ or / starts a new folder level.  "
                                               "%aa\\%al keeps a compilation in one folder."));
    Label2->setWordWrap(true);
    cmdOK = addControl<QPushButton>(this, "cmdOK", twips(600, 1680, 1815, 495), QStringLiteral("OK"));
    cmdCancel = addControl<QPushButton>(this, "cmdCancel", twips(2520, 1680, 1935, 495), QStringLiteral("Cancel"));

    cmdOK->setAutoDefault(false);
    cmdCancel->setAutoDefault(false);
    chainTabOrder({txtFileFormat, cmdOK, cmdCancel});

    connect(cmdOK, &QPushButton::clicked, this, &advanced::save);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
}

// The file name format, the token help, the note on unknown tokens and the
// preview, laid out under the folder format's help; the buttons move down
// below them.
void advanced::createNameControls()
{
    auto* section = new QWidget(this);
    section->setObjectName(QStringLiteral("nameSection"));
    auto* grid = new QGridLayout(section);
    grid->setContentsMargins(0, 0, 0, 0);
    Label3 = new QLabel(QStringLiteral("File Name Format"), section);
    txtFileNameFormat = new QLineEdit(section);
    txtFileNameFormat->setPlaceholderText(QStringLiteral("empty: the name in the inbox"));
    lblUnknown = new QLabel(section);
    lblTokens = new QLabel(TokenHelp(), section);
    Label4 = new QLabel(QStringLiteral("Filed as:"), section);
    lblPreview = new QLabel(section);
    for (QLabel* label : {lblUnknown, lblTokens, lblPreview}) {
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }
    lblPreview->setTextInteractionFlags(Qt::TextSelectableByMouse);
    const int line = fontMetrics().lineSpacing();
    lblUnknown->setMinimumHeight(2 * line);
    lblPreview->setMinimumHeight(6 * line);
    grid->addWidget(Label3, 0, 0);
    grid->addWidget(txtFileNameFormat, 0, 1);
    grid->addWidget(lblUnknown, 1, 0, 1, 2);
    grid->addWidget(lblTokens, 2, 0, 1, 2);
    grid->addWidget(Label4, 3, 0, Qt::AlignTop);
    grid->addWidget(lblPreview, 3, 1);
    for (auto [control, name] : {std::pair<QWidget*, const char*>{Label3, "Label3"},
                                 {txtFileNameFormat, "txtFileNameFormat"},
                                 {lblUnknown, "lblUnknown"},
                                 {lblTokens, "lblTokens"},
                                 {Label4, "Label4"},
                                 {lblPreview, "lblPreview"}})
        control->setObjectName(QLatin1String(name));

    const QRect place = twips(240, 1440, 4680, 0);
    const int height = grid->totalHeightForWidth(place.width());
    section->setGeometry(place.adjusted(0, 0, 0, height));
    for (QPushButton* button : {cmdOK, cmdCancel})
        button->move(button->x(), button->y() + height);
    setFixedSize(width(), this->height() + height);
    chainTabOrder({txtFileFormat, txtFileNameFormat, cmdOK, cmdCancel});

    preview_ = std::make_unique<FilingPreview>(process_.inboxpath(), process_.outboxpath(), process_.inext);
    connect(txtFileFormat, &QLineEdit::textChanged, this, &advanced::showWhereFilesGo);
    connect(txtFileNameFormat, &QLineEdit::textChanged, this, &advanced::showWhereFilesGo);
}

// The formats as OK would store them, answered by the filing's own function.
void advanced::showWhereFilesGo()
{
    const QString folders = cleanedFormat(txtFileFormat->text());
    const QString name = commonold::CleanName(txtFileNameFormat->text());
    QStringList notes;
    for (const QString& token : UnknownTokens(folders + QLatin1Char('\\') + name)) {
        notes << token + QStringLiteral(" is not a token; it is kept as text");
    }
    lblUnknown->setText(notes.join(QLatin1Char('\n')));
    lblPreview->setText(preview_->lines(folders, name).join(QLatin1Char('\n')));
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
    if (!SettingsStore::write(Setting::FileFormat, cleanedFormat(txtFileFormat->text())) ||
        !SettingsStore::write(Setting::FileNameFormat, commonold::CleanName(txtFileNameFormat->text()))) {
        MessageBox::show(this, SettingsStore::cannotSaveMessage());
        return;
    }
    accept();
    process_.loadsettings();
}
