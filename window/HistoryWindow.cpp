#include "window/HistoryWindow.h"

#include "config/Controls.h"
#include "config/SettingsKeys.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace {

// A row's entry, by its place in entries_.
constexpr int kEntryRole = Qt::UserRole;

bool isFiled(const History::Entry& entry)
{
    return (entry.kind == QLatin1String("filed") || entry.kind == QLatin1String("refiled")) &&
           QFileInfo::exists(entry.destination());
}

} // namespace

HistoryWindow::HistoryWindow(Commands commands, QWidget* parent) : QDialog(parent), commands_(std::move(commands))
{
    setWindowTitle(QStringLiteral("History - ") + kApplicationTitle);
    txtSearch = addControl<QLineEdit>(this, "txtSearch");
    txtSearch->setPlaceholderText(QStringLiteral("Search by name"));
    auto* searchCaption = addCaption(this, "lblSearch", QStringLiteral("&Search:"), txtSearch);
    tblHistory = addControl<QTableWidget>(this, "tblHistory", 0, 4);
    tblHistory->setHorizontalHeaderLabels({QStringLiteral("Time"), QStringLiteral("Outcome"),
                                           QStringLiteral("Inbox name"), QStringLiteral("Where it went")});
    tblHistory->setAccessibleName(QStringLiteral("History"));
    tblHistory->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblHistory->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblHistory->verticalHeader()->hide();
    tblHistory->verticalHeader()->setDefaultSectionSize(fontMetrics().lineSpacing() * 3 / 2);
    tblHistory->setWordWrap(false); // one line a row: a long path ends in an ellipsis, whole in its tooltip
    tblHistory->horizontalHeader()->setStretchLastSection(true);
    cmdOpenFolder = addControl<QPushButton>(this, "cmdOpenFolder", QStringLiteral("Open folder"));
    cmdPutBack = addControl<QPushButton>(this, "cmdPutBack", QStringLiteral("Put back"));
    cmdFileAgain = addControl<QPushButton>(this, "cmdFileAgain", QStringLiteral("File again"));
    cmdClose = addControl<QPushButton>(this, "cmdClose", QStringLiteral("Close"));
    auto* window = new QVBoxLayout(this);
    window->addLayout(leftRow({searchCaption, txtSearch}));
    window->addWidget(tblHistory, 1);
    auto* buttons = leftRow({cmdOpenFolder, cmdPutBack, cmdFileAgain});
    buttons->addWidget(cmdClose);
    window->addLayout(buttons);
    txtSearch->setMinimumWidth(fontMetrics().averageCharWidth() * 30);
    const QSize room = screen()->availableGeometry().size() * 9 / 10;
    resize(qMin(fontMetrics().averageCharWidth() * 120, room.width()),
           qMin(fontMetrics().height() * 30, room.height()));
    reloadTimer_ = new QTimer(this);
    reloadTimer_->setSingleShot(true);
    reloadTimer_->setInterval(300);
    connect(reloadTimer_, &QTimer::timeout, this, &HistoryWindow::reload);
    connect(txtSearch, &QLineEdit::textChanged, this, &HistoryWindow::showMatching);
    connect(tblHistory, &QTableWidget::itemSelectionChanged, this, &HistoryWindow::updateButtons);
    connect(cmdOpenFolder, &QPushButton::clicked, this, &HistoryWindow::openFolder);
    connect(cmdPutBack, &QPushButton::clicked, this, &HistoryWindow::putBack);
    connect(cmdFileAgain, &QPushButton::clicked, this, &HistoryWindow::fileAgain);
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::close);
    reload();
}

void HistoryWindow::reload()
{
    entries_ = History().entries();
    showMatching();
}

void HistoryWindow::reloadSoon()
{
    if (!reloadTimer_->isActive())
        reloadTimer_->start();
}

// The rows whose inbox name or destination holds the search, in any case.
void HistoryWindow::showMatching()
{
    const QString wanted = txtSearch->text().trimmed();
    tblHistory->setRowCount(0);
    for (int index = 0; index < entries_.size(); ++index) {
        const History::Entry& entry = entries_.at(index);
        if (!wanted.isEmpty() && !entry.name.contains(wanted, Qt::CaseInsensitive) &&
            !entry.detail.contains(wanted, Qt::CaseInsensitive))
            continue;
        const int row = tblHistory->rowCount();
        tblHistory->insertRow(row);
        const QStringList cells{QString(entry.time).replace(QLatin1Char('T'), QLatin1Char(' ')), entry.kind, entry.name,
                                entry.detail};
        for (int column = 0; column < cells.size(); ++column) {
            auto* cell = new QTableWidgetItem(cells.at(column));
            cell->setToolTip(cells.at(column));
            cell->setData(kEntryRole, index);
            tblHistory->setItem(row, column, cell);
        }
    }
    tblHistory->resizeColumnsToContents();
    // The inbox name leaves room for where the file went.
    tblHistory->setColumnWidth(2, qMin(tblHistory->columnWidth(2), tblHistory->viewport()->width() * 2 / 5));
    updateButtons();
}

QList<const History::Entry*> HistoryWindow::selectedEntries() const
{
    QList<const History::Entry*> selected;
    for (const QModelIndex& row : tblHistory->selectionModel()->selectedRows())
        selected << &entries_.at(row.data(kEntryRole).toInt());
    return selected;
}

// Put back takes files still where they were filed; File again, files put back.
void HistoryWindow::updateButtons()
{
    const QList<const History::Entry*> selected = selectedEntries();
    const auto any = [&](auto test) { return std::any_of(selected.cbegin(), selected.cend(), test); };
    cmdOpenFolder->setEnabled(selected.size() == 1 && !selected.first()->destination().isEmpty());
    cmdPutBack->setEnabled(any([](const History::Entry* entry) { return isFiled(*entry); }));
    cmdFileAgain->setEnabled(any([](const History::Entry* entry) { return entry->kind == QLatin1String("put back"); }));
}

void HistoryWindow::openFolder()
{
    const QList<const History::Entry*> selected = selectedEntries();
    if (selected.size() == 1)
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(selected.first()->destination()).absolutePath()));
}

void HistoryWindow::putBack()
{
    QStringList paths;
    for (const History::Entry* entry : selectedEntries())
        if (isFiled(*entry) && !paths.contains(entry->destination()))
            paths << entry->destination();
    commands_.putBack(paths);
}

void HistoryWindow::fileAgain()
{
    QStringList names;
    for (const History::Entry* entry : selectedEntries())
        if (entry->kind == QLatin1String("put back"))
            names << entry->name;
    commands_.fileAgain(names);
}
