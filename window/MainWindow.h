#pragma once

#include "engine/FilingService.h"
#include "engine/ServiceSettings.h"
#include "engine/ServiceThread.h"
#include "window/ProcessPriority.h"

#include <QElapsedTimer>
#include <QList>
#include <QPixmap>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QWidget>

#include <memory>

class ErrorNotices;
class FilledCircle;
class HistoryWindow;
class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;
class StatusLine;
class TerminationSignals;
class TextBar;

// The main window: a view of the filing service, which runs on a thread of
// its own. It loads the start-up state, the folders and the formats and hands
// them to the service, shows what the service tells (the switch, the status,
// the counters, the inbox, the copy and the backlog) and sends it the commands
// of its buttons and of the tray menu. Closing it ends the program.
class MainWindow : public QWidget {
    Q_OBJECT

public:
    // `termination`, when given, closes the window on a request from the
    // system from the very start, the folder recovery of the start-up included.
    explicit MainWindow(TerminationSignals* termination = nullptr);
    ~MainWindow() override;

    // The service the window shows, for binding to it; its members run on its own thread.
    FilingService* service() const { return service_.service(); }
    // Runs `command` on the service's thread, after the commands sent before.
    void send(std::function<void(FilingService&)> command) const { service_.send(std::move(command)); }
    // The settings the service was last given.
    const ServiceSettings& settings() const { return settings_; }
    // The inbox file being filed, as the service last told; empty when none is.
    QString fileInHand() const { return fileInHand_; }

    // Loads the start-up state, the three folders and the formats and gives
    // them to the service, making sure the folders exist, sending the user to
    // the Options dialog for as long as one cannot be created.
    void loadsettings();

    // Picture `number` of the image list, counted from 1.
    QPixmap image(int number) const;

    // Shows the program's icon in the notification area, with the stopped
    // picture and the application title as tip. Answers 1 when it was added,
    // 0 when the desktop has no notification area.
    int ShellTrayAdd();
    // Removes the icon; harmless when it is already gone.
    void ShellTrayRemove();
    // Routes the icon's clicks to the window.
    void SubClass();
    bool trayIconShown() const;
    // Shows the window at its normal size, in front ("Show", or a second start).
    void showFromTray();

    // True from the moment a close was asked for: the window is going away,
    // and the program ends with it.
    bool isClosing() const { return closing_; }

signals:
    // The window has closed: the program ends.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void createControls();
    void layOut();
    void openFolder(const QString& path);
    void sayPriorityRefused(const QString& wanted);
    void createMenu();
    void startUp();
    void bindService();
    enum OnCancel { CancelKeepsRunning, CancelEndsProgram };
    void configure(OnCancel onCancel = CancelKeepsRunning);
    void setOn(bool on);
    void showStatus(const QString& text);
    void showCounts(const FilingService::Counts& counts);
    void showCopyProgress(const QString& name, qint64 copied, qint64 total);
    void showBacklog(int done, int total);
    void showListing(const FilingService::Listing& listing);
    void showInboxNames(const FilingService::Listing& listing);
    void connectPriorities();
    QList<std::pair<QRadioButton*, ProcessPriority>> priorityOptions() const;
    void showPriorityInForce();
    void exitProgram();
    void addTrayIcon();
    void UnSubClass();
    void TrayWindowProc(QSystemTrayIcon::ActivationReason reason);
    void showNotice(const QString& text);
    void showHistory();

    void showSwitch(bool on);
    int trayImage() const;

    QPushButton* cmdstart;
    QPushButton* cmdStop;
    FilledCircle* shpLight;
    QPushButton* cmdConfig;
    QPushButton* cmdForce;
    QLabel* Label1;
    StatusLine* txtstatus;
    TextBar* progressbar;
    TextBar* progtotal;
    TextBar* peakbar;
    QListWidget* lstInboxFiles;
    QLabel* Label2;
    QLineEdit* txtInboxCount;
    QLabel* Label3;
    QLineEdit* txtInboxLockCount;
    QLabel* Label4;
    QLineEdit* txtTooBigCount;
    QLabel* Label5;
    QLineEdit* txtOutboxLockCount;
    QRadioButton* PriorityRealtime;
    QRadioButton* PriorityHigh;
    QRadioButton* PriorityNormal;
    QRadioButton* PriorityLow;
    QPushButton* cmdOpenOutbox;
    QPushButton* cmdOpenErrors;
    QPushButton* cmdHistory;
    QList<QPixmap> Images;

    // The tray icon's pop-up menu.
    QMenu* mService;
    QAction* mShow;
    QAction* mStart;
    QAction* mStop;
    QAction* MForce;
    QAction* mOpenOutbox;
    QAction* mOpenErrors;
    QAction* mHistory;
    QAction* mExit;

    // The notification-area icon; none until ShellTrayAdd found a place for it.
    QSystemTrayIcon* TrayIconData = nullptr;
    HistoryWindow* history_ = nullptr; // once asked for
    // The notices of files in the errors folder.
    ErrorNotices* errorNotices_;
    // Looks for a notification area while there was none to add the icon to.
    QTimer* trayWatch_ = nullptr;
    bool closing_ = false;
    // Set once the start-up handed the service its first command to run.
    bool running_ = false;
    // The names in lstInboxFiles after its header, and the rows after them.
    QStringList shownNames_;
    std::vector<InboxVerdicts::LeftAlone> shownLeftAlone_;

    ServiceThread service_;
    ServiceSettings settings_;
    bool serviceOn_ = false;
    QString fileInHand_;
    // Since a message of the window's own that the service's status leaves
    // standing for a while (a refused priority).
    QElapsedTimer statusHeld_;
};
