#pragma once

#include <QDialog>

#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;
struct ServiceSettings;
class FilingPreview;

// Edits the folder format, the pattern of tag tokens from which the filing
// builds the folders under the outbox, and the file name format, and shows
// where files would go with them. Unlike the Options dialog it applies its
// change itself: OK stores the formats, which the service takes once the
// Options dialog has closed, whichever way it closed.
class advanced : public QDialog {
    Q_OBJECT

public:
    explicit advanced(const ServiceSettings& inForce, QWidget* parent = nullptr);
    ~advanced() override;

    // The user confirmed "Re-file the outbox": the formats are stored, and the
    // outbox is to be re-filed with them once the dialogs have closed.
    bool refileAsked() const { return refileAsked_; }

private:
    void createControls();
    void createNameControls();
    void layOut();
    void readPreviewTags();
    void showWhereFilesGo();
    void save();
    bool store();
    void countRefileMoves();
    void askToRefile(int moves);

    const ServiceSettings& inForce_;
    QLabel* Label1;
    QLineEdit* txtFileFormat;
    QLabel* Label2;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;
    QPushButton* cmdRefile;
    bool refileAsked_ = false;

    QLabel* Label3;
    QLineEdit* txtFileNameFormat;
    QLabel* lblUnknown;
    QLabel* lblTokens;
    QLabel* Label4;
    QLabel* lblPreview;
    std::unique_ptr<FilingPreview> preview_;
};
