#include "window/MainWindow.h"

#include "config/Controls.h"
#include "config/DefaultFolders.h"
#include "config/MessageBox.h"
#include "config/Options.h"
#include "config/SettingsStore.h"
#include "config/StoredSettings.h"
#include "window/ErrorNotices.h"
#include "window/FilledCircle.h"
#include "window/HistoryWindow.h"
#include "window/ProcessPriority.h"
#include "window/StatusDisplay.h"
#include "window/TerminationSignals.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QUrl>

namespace {

const QColor kGreen(0, 255, 0);
const QColor kRed(255, 0, 0);

QPixmap drawDisc(const QColor& color, const QString& letter)
{
    QPixmap picture(32, 32);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(color);
    painter.drawEllipse(QRectF(1.5, 1.5, 29, 29));
    if (!letter.isEmpty()) {
        QFont font;
        font.setPixelSize(20);
        font.setBold(true);
        QPainterPath outline;
        outline.addText(0, 0, font, letter);
        outline.translate(QPointF(16, 16) - outline.boundingRect().center());
        painter.fillPath(outline, Qt::black);
    }
    return picture;
}

// A green and a red disc, then red/green pairs bearing a letter. Only the last
// pair, "T" for Tovrel, is shown (in the tray); the others fill their places.
QList<QPixmap> drawImages()
{
    QList<QPixmap> images{drawDisc(kGreen, {}), drawDisc(kRed, {})};
    for (const char* letter : {"A", "B", "C", "D", "E", "F", "T"})
        images << drawDisc(kRed, QLatin1String(letter)) << drawDisc(kGreen, QLatin1String(letter));
    return images;
}

} // namespace

MainWindow::MainWindow(TerminationSignals* termination)
    : Images(drawImages()), errorNotices_(new ErrorNotices(5000, this))
{
    connect(errorNotices_, &ErrorNotices::notice, this, &MainWindow::showNotice);
    createControls();
    bindService();
    createMenu();
    if (!restoreGeometry(QByteArray::fromBase64(SettingsStore::read(Setting::WindowGeometry).toLatin1())))
        resize(sizeHint());
    if (termination)
        connect(termination, &TerminationSignals::terminationRequested, this, &QWidget::close);
    startUp();
}

MainWindow::~MainWindow()
{
    service_.end();
}

void MainWindow::createControls()
{
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    cmdstart = addControl<QPushButton>(this, "cmdstart", QStringLiteral("Start"));
    cmdStop = addControl<QPushButton>(this, "cmdStop", QStringLiteral("Stop"));
    shpLight = addControl<FilledCircle>(this, "shpLight");
    cmdConfig = addControl<QPushButton>(this, "cmdConfig", QStringLiteral("config"));
    cmdForce = addControl<QPushButton>(this, "cmdForce", QStringLiteral("Force"));
    txtstatus = addControl<StatusLine>(this, "txtstatus");
    Label1 = addCaption(this, "Label1", QStringLiteral("Current Status:"), txtstatus);
    progressbar = addControl<TextBar>(this, "progressbar");
    progtotal = addControl<TextBar>(this, "progtotal");
    peakbar = addControl<TextBar>(this, "peakbar");
    lstInboxFiles = addControl<QListWidget>(this, "lstInboxFiles");
    lstInboxFiles->setUniformItemSizes(true); // lays out a long inbox without measuring every row
    txtInboxCount = addControl<QLineEdit>(this, "txtInboxCount", QStringLiteral("?"));
    Label2 = addCaption(this, "Label2", QStringLiteral("Inbox:"), txtInboxCount);
    txtInboxLockCount = addControl<QLineEdit>(this, "txtInboxLockCount", QStringLiteral("?"));
    Label3 = addCaption(this, "Label3", QStringLiteral("In Locked:"), txtInboxLockCount);
    txtTooBigCount = addControl<QLineEdit>(this, "txtTooBigCount", QStringLiteral("?"));
    Label4 = addCaption(this, "Label4", QStringLiteral("Too big:"), txtTooBigCount);
    txtOutboxLockCount = addControl<QLineEdit>(this, "txtOutboxLockCount", QStringLiteral("?"));
    Label5 = addCaption(this, "Label5", QStringLiteral("Out Locked:"), txtOutboxLockCount);
    PriorityRealtime = addControl<QRadioButton>(this, "PriorityRealtime", QStringLiteral("Realtime"));
    PriorityHigh = addControl<QRadioButton>(this, "PriorityHigh", QStringLiteral("High"));
    PriorityNormal = addControl<QRadioButton>(this, "PriorityNormal", QStringLiteral("Normal"));
    PriorityLow = addControl<QRadioButton>(this, "PriorityLow", QStringLiteral("Low"));
    cmdOpenOutbox = addControl<QPushButton>(this, "cmdOpenOutbox", QStringLiteral("Open outbox folder"));
    cmdOpenErrors = addControl<QPushButton>(this, "cmdOpenErrors", QStringLiteral("Open errors folder"));
    cmdHistory = addControl<QPushButton>(this, "cmdHistory", QStringLiteral("History"));
    layOut();

    // What has no caption of its own is named for screen readers.
    shpLight->setAccessibleName(QStringLiteral("Service light"));
    progressbar->setAccessibleName(QStringLiteral("Current file"));
    progtotal->setAccessibleName(QStringLiteral("Backlog"));
    peakbar->setAccessibleName(QStringLiteral("Peak"));
    lstInboxFiles->setAccessibleName(QStringLiteral("Inbox files"));
    // The status line and the counters are read, never typed into: their text
    // can be selected and copied, but they show no caret and the keyboard focus
    // passes them by (it would land there when Stop is disabled under it).
    for (QLineEdit* display :
         {static_cast<QLineEdit*>(txtstatus), txtInboxCount, txtInboxLockCount, txtTooBigCount, txtOutboxLockCount}) {
        display->setReadOnly(true);
        display->setFocusPolicy(Qt::ClickFocus);
    }
    // progressbar follows the copy of the file in hand, progtotal the backlog;
    // both are empty while nothing is filed. peakbar has no use and is hidden.
    for (QProgressBar* bar : {progressbar, progtotal, peakbar})
        bar->reset();
    peakbar->hide();
    chainTabOrder({cmdstart, txtstatus, cmdStop, cmdConfig, cmdForce, txtInboxCount, txtInboxLockCount, txtTooBigCount,
                   txtOutboxLockCount, lstInboxFiles, PriorityRealtime, PriorityHigh, PriorityNormal, PriorityLow,
                   cmdOpenOutbox, cmdOpenErrors, cmdHistory});

    connect(cmdstart, &QPushButton::clicked, this, [this] { setOn(true); });
    connect(cmdStop, &QPushButton::clicked, this, [this] { setOn(false); });
    connect(cmdConfig, &QPushButton::clicked, this, [this] { configure(); });
    connect(cmdOpenOutbox, &QPushButton::clicked, this, [this] { openFolder(settings_.outbox); });
    connect(cmdOpenErrors, &QPushButton::clicked, this, [this] { openFolder(settings_.errors); });
    connect(cmdHistory, &QPushButton::clicked, this, &MainWindow::showHistory);
    connectPriorities();
}

// Top left Start, Stop and the light, Force and config under them; beside them
// the priority options from Realtime down to Low; top right the four counters,
// two by two. Under these the status line with its caption, the bars, and the
// inbox list, which takes what room the window gains; the folder buttons last.
void MainWindow::layOut()
{
    auto* commands = new QGridLayout;
    commands->addWidget(cmdstart, 0, 0);
    commands->addWidget(cmdStop, 0, 1);
    commands->addWidget(shpLight, 0, 2, Qt::AlignCenter);
    commands->addWidget(cmdForce, 1, 0);
    commands->addWidget(cmdConfig, 1, 1);
    commands->setRowStretch(2, 1);
    const int lineHeight = fontMetrics().height();
    shpLight->setFixedSize(lineHeight, lineHeight);

    auto* priorities = new QVBoxLayout;
    priorities->setSpacing(0);
    for (QRadioButton* option : {PriorityRealtime, PriorityHigh, PriorityNormal, PriorityLow})
        priorities->addWidget(option);
    priorities->addStretch();

    auto* counters = new QGridLayout;
    const QList<std::pair<QLabel*, QLineEdit*>> pairs{
        {Label2, txtInboxCount}, {Label3, txtInboxLockCount}, {Label4, txtTooBigCount}, {Label5, txtOutboxLockCount}};
    for (int at = 0; at < pairs.size(); ++at) {
        const auto& [caption, box] = pairs.at(at);
        counters->addWidget(caption, at / 2, at % 2 * 2, Qt::AlignRight | Qt::AlignVCenter);
        counters->addWidget(box, at / 2, at % 2 * 2 + 1);
        box->setFixedWidth(box->fontMetrics().horizontalAdvance(QStringLiteral("0000000")));
    }
    counters->setRowStretch(2, 1);

    auto* top = new QHBoxLayout;
    top->addLayout(commands);
    top->addSpacing(lineHeight);
    top->addLayout(priorities);
    top->addStretch();
    top->addSpacing(lineHeight);
    top->addLayout(counters);

    auto* window = new QVBoxLayout(this);
    window->addLayout(top);
    for (QWidget* control : std::initializer_list<QWidget*>{Label1, txtstatus, progressbar, progtotal, peakbar})
        window->addWidget(control);
    window->addWidget(lstInboxFiles, 1);
    window->addLayout(leftRow({cmdOpenOutbox, cmdOpenErrors, cmdHistory}));
    lstInboxFiles->setMinimumHeight(lineHeight * 8);
}

// The desktop's file manager shows the folder.
void MainWindow::openFolder(const QString& path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void MainWindow::createMenu()
{
    mService = new QMenu(QStringLiteral("Service"), this);
    mService->setObjectName(QStringLiteral("mService"));
    const auto addItem = [this](const char* name, const QString& caption) {
        QAction* item = mService->addAction(caption);
        item->setObjectName(QLatin1String(name));
        return item;
    };
    mShow = addItem("mShow", QStringLiteral("Show"));
    mStart = addItem("mStart", QStringLiteral("Start"));
    mStop = addItem("mStop", QStringLiteral("Stop"));
    MForce = addItem("MForce", QStringLiteral("Force"));
    mService->addSeparator();
    mOpenOutbox = addItem("mOpenOutbox", cmdOpenOutbox->text());
    mOpenErrors = addItem("mOpenErrors", cmdOpenErrors->text());
    mHistory = addItem("mHistory", cmdHistory->text());
    mService->addSeparator();
    mExit = addItem("mExit", QStringLiteral("Exit"));
    connect(mShow, &QAction::triggered, this, &MainWindow::showFromTray);
    connect(mExit, &QAction::triggered, this, &MainWindow::exitProgram);
    connect(mStart, &QAction::triggered, this, [this] { setOn(true); });
    connect(mStop, &QAction::triggered, this, [this] { setOn(false); });
    connect(mOpenOutbox, &QAction::triggered, cmdOpenOutbox, &QPushButton::click);
    connect(mOpenErrors, &QAction::triggered, cmdOpenErrors, &QPushButton::click);
    connect(mHistory, &QAction::triggered, this, &MainWindow::showHistory);
}

void MainWindow::startUp()
{
    setWindowTitle(kApplicationTitle);
    DefaultFolders::prepare();
    loadsettings();
    if (closing_) // asked to end during the folder recovery
        return;
    serviceOn_ = settings_.on;
    showSwitch(serviceOn_);
    send([on = settings_.on](FilingService& service) { service.run(on); });
    running_ = true;
    addTrayIcon();
    cmdForce->hide();
    MForce->setVisible(false);
    PriorityNormal->setChecked(true);
}

void MainWindow::loadsettings()
{
    settings_ = StoredSettings::read();
    if (StoredSettings::whyUnusable(settings_).isEmpty()) {
        send([settings = settings_](FilingService& service) { service.configure(settings); });
        return;
    }
    if (closing_)
        return;
    MessageBox::show(this, QStringLiteral("Directories are invalid, please reconfigure!"));
    if (closing_) // the program was asked to end while the message was shown
        return;
    configure(CancelEndsProgram);
    if (!closing_)
        loadsettings();
}

// The polling rests while the Options dialog is open. Afterwards the switch
// follows the stored start-up state, or is on again when it was on, and the
// light and buttons are brought in line with it. Sent here because the folders
// are unusable, the user ends the program by leaving without OK.
void MainWindow::configure(OnCancel onCancel)
{
    const bool wasOn = serviceOn_;
    send([](FilingService& service) { service.pausePolling(); });
    Options dialog(settings_, this);
    if (dialog.exec() != QDialog::Accepted && onCancel == CancelEndsProgram)
        close(); // nothing can run without its folders
    if (closing_)
        return;
    loadsettings();
    if (!running_ || closing_) // the start-up runs the service once its folders are usable
        return;
    setOn(wasOn || settings_.on);
    if (dialog.refileAsked())
        send([](FilingService& service) { service.refile(); });
    send([](FilingService& service) { service.resumePolling(); });
}

// The window shows the switch at once; the service then tells it the same.
void MainWindow::setOn(bool on)
{
    serviceOn_ = on;
    showSwitch(on);
    send([on](FilingService& service) { service.setOn(on); });
}

// One History window, shown again when asked for again; it reads the history
// anew whenever the service writes a line of it.
void MainWindow::showHistory()
{
    if (!history_) {
        history_ = new HistoryWindow(
            {[this](const QStringList& paths) { send([paths](FilingService& service) { service.putBack(paths); }); },
             [this](const QStringList& names) { send([names](FilingService& service) { service.fileAgain(names); }); }},
            this);
        connect(service(), &FilingService::recorded, history_, &HistoryWindow::reloadSoon);
    }
    history_->show();
    history_->raise();
    history_->activateWindow();
}

QPixmap MainWindow::image(int number) const
{
    return Images.at(number - 1);
}

// "Exit" takes the icon away at once; the window then closes as by its own
// close control, once the current event has been handled.
void MainWindow::exitProgram()
{
    ShellTrayRemove();
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

// Closing the window ends the program: the icon goes, and every other window
// (an open dialog or message box included) closes, the last opened first.
void MainWindow::closeEvent(QCloseEvent* event)
{
    closing_ = true;
    if (testAttribute(Qt::WA_WState_Created)) // shown at least once: its size and place are the user's
        SettingsStore::write(Setting::WindowGeometry, QString::fromLatin1(saveGeometry().toBase64()));
    service_.end();
    ShellTrayRemove();
    UnSubClass();
    event->accept();
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (auto window = windows.rbegin(); window != windows.rend(); ++window) {
        if (*window != this && (*window)->isVisible())
            (*window)->close();
    }
    emit closed();
}

// The switch as the window and the tray show it: which of Start and Stop can
// be pressed, the light, the window's and the tray's pictures, and the
// Options button, usable only while the service is off.
void MainWindow::showSwitch(bool on)
{
    cmdstart->setEnabled(!on);
    mStart->setEnabled(!on);
    cmdStop->setEnabled(on);
    mStop->setEnabled(on);
    shpLight->setFillColor(on ? kGreen : kRed);
    shpLight->setAccessibleDescription(on ? QStringLiteral("Running") : QStringLiteral("Stopped"));
    setWindowIcon(QIcon(image(on ? 1 : 2)));
    cmdConfig->setEnabled(!on);
    if (TrayIconData)
        TrayIconData->setIcon(QIcon(image(trayImage())));
}

// The tray's picture: 15 while the service is off, 16 while it runs.
int MainWindow::trayImage() const
{
    return serviceOn_ ? 16 : 15;
}
