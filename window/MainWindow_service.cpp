// What the main window shows of the filing service: every signal of the
// service is shown here, on the window's thread, which does no file-system
// work of its own for it.
#include "window/MainWindow.h"

#include "engine/FileName.h"
#include "engine/ScanFolder.h"
#include "window/ErrorNotices.h"
#include "window/StatusDisplay.h"

#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>

namespace {

// progressbar's scale: bytes do not fit its int.
constexpr int kCopySteps = 1000;
// How long a message the user caused (a refused priority) stays in the status
// line before the service's status replaces it.
constexpr qint64 kStatusHoldTime = 5000; // milliseconds

// Leaves an unchanged number alone, so a quiet step redraws nothing.
void showNumber(QLineEdit* box, int number)
{
    const QString text = QString::number(number);
    if (box->text() != text)
        box->setText(text);
}

} // namespace

void MainWindow::bindService()
{
    FilingService* filing = service();
    connect(filing, &FilingService::switched, this, &MainWindow::showSwitch);
    connect(filing, &FilingService::statusChanged, this, &MainWindow::showStatus);
    connect(filing, &FilingService::countsChanged, this, &MainWindow::showCounts);
    connect(filing, &FilingService::inboxListed, this, &MainWindow::showListing);
    connect(filing, &FilingService::copyProgress, this, &MainWindow::showCopyProgress);
    connect(filing, &FilingService::backlogChanged, this, &MainWindow::showBacklog);
    connect(filing, &FilingService::fileInHandChanged, this, [this](const QString& name) { fileInHand_ = name; });
    connect(filing, &FilingService::errorFiled, errorNotices_, &ErrorNotices::fileErrorFiled);
}

void MainWindow::showStatus(const QString& text)
{
    if (statusHeld_.isValid() && !statusHeld_.hasExpired(kStatusHoldTime))
        return;
    statusHeld_.invalidate();
    txtstatus->setText(text);
    txtstatus->setCursorPosition(0); // a long line shows its start: the file it is about
}

void MainWindow::showCounts(const FilingService::Counts& counts)
{
    showNumber(txtInboxCount, counts.inbox);
    showNumber(txtInboxLockCount, counts.inboxLocked);
    showNumber(txtTooBigCount, counts.tooBig);
    showNumber(txtOutboxLockCount, counts.outboxLocked);
}

// 0 of 0: a file's filing begins.
void MainWindow::showCopyProgress(const QString& name, qint64 copied, qint64 total)
{
    const QString shown = FileName::forDisplay(name);
    if (total <= 0) {
        progressbar->setText(shown + QStringLiteral(": 0 %"));
        progressbar->setRange(0, kCopySteps);
        progressbar->setValue(0);
        return;
    }
    progressbar->setText(shown + QStringLiteral(": ") + QString::number(copied * 100 / total) + QStringLiteral(" %"));
    progressbar->setValue(int(copied * kCopySteps / total));
}

// 0 of 0: the drain ended, and both bars are emptied.
void MainWindow::showBacklog(int done, int total)
{
    if (total == 0) {
        progressbar->reset();
        progtotal->reset();
        return;
    }
    progtotal->setText(QStringLiteral("%1 of %2 files").arg(done).arg(total));
    progtotal->setRange(0, total);
    progtotal->setValue(done);
}

void MainWindow::showListing(const FilingService::Listing& listing)
{
    const QString header = QStringLiteral("Files in ") + listing.folder + QStringLiteral(". . . .");
    if (lstInboxFiles->count() == 0)
        lstInboxFiles->addItem(header);
    else if (lstInboxFiles->item(0)->text() != header)
        lstInboxFiles->item(0)->setText(header);
    showInboxNames(listing);
}

// Brings the rows after the header in line with the listing, touching only the
// rows whose names came or went, so the selection and the scroll position stay.
// The music comes first, then what is left alone.
void MainWindow::showInboxNames(const FilingService::Listing& listing)
{
    const QStringList& names = listing.names;
    int row = 0;
    for (int index = 0; row < shownNames_.size() || index < names.size();) {
        const QString name = names.value(index);
        if (row < shownNames_.size() && index < names.size() && shownNames_.at(row) == name) {
            ++row;
            ++index;
        } else if (row < shownNames_.size() &&
                   (index >= names.size() || ScanFolder::listedBefore(shownNames_.at(row), name))) {
            delete lstInboxFiles->takeItem(row + 1);
            shownNames_.removeAt(row);
        } else {
            lstInboxFiles->insertItem(row + 1, FileName::forDisplay(name));
            shownNames_.insert(row, name);
            ++row;
            ++index;
        }
    }
    // What the program leaves alone follows, greyed, with why as its tooltip.
    if (listing.leftAlone == shownLeftAlone_)
        return;
    const int first = 1 + int(shownNames_.size());
    while (lstInboxFiles->count() > first)
        delete lstInboxFiles->takeItem(first);
    for (const InboxVerdicts::LeftAlone& entry : listing.leftAlone) {
        auto* item = new QListWidgetItem(FileName::forDisplay(entry.name), lstInboxFiles);
        item->setFlags(item->flags() & ~Qt::ItemIsEnabled);
        item->setToolTip(entry.reason);
    }
    shownLeftAlone_ = listing.leftAlone;
}
