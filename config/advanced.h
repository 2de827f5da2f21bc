#pragma once

#include <QDialog>

#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;
class processor;
class FilingPreview;

// Edits the folder format, the pattern of tag tokens from which the filing
// builds the folders under the outbox, and the file name format, and shows
// where files would go with them. Unlike the Options dialog it applies its
// change itself: OK stores the format and has the processor reload it at once.
class advanced : public QDialog {
    Q_OBJECT

public:
    explicit advanced(processor& process, QWidget* parent = nullptr);
    ~advanced() override;

    // The format as it is stored: "/" starts a new folder level as "\" does
    // and is stored as "\"; each level loses the characters no folder name may
    // hold.
    static QString cleanedFormat(QString format);
    // Gives `process` the formats as stored.
    static void loadFormats(processor& process);

private:
    void createControls();
    void createNameControls();
    void layOut();
    void readPreviewTags();
    void showWhereFilesGo();
    void save();

    processor& process_;
    QLabel* Label1;
    QLineEdit* txtFileFormat;
    QLabel* Label2;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;

    QLabel* Label3;
    QLineEdit* txtFileNameFormat;
    QLabel* lblUnknown;
    QLabel* lblTokens;
    QLabel* Label4;
    QLabel* lblPreview;
    std::unique_ptr<FilingPreview> preview_;
};
