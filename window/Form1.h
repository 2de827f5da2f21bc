#pragma once

#include "engine/FilingWorker.h"
#include "engine/History.h"
#include "engine/InboxVerdicts.h"
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
class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QThread;
class QTimer;
class StatusLine;
class TerminationSignals;
class TextBar;
class processor;

// The main window and the owner of everything that runs: it creates the
// processor, loads the start-up state and the folders into it, drives the
// polling step once a second and offers the service commands. Closing it ends
// the program. turnon and turnoff show the service switch through it.
class Form1 : public QWidget {
    Q_OBJECT

public:
    // `termination`, when given, closes the window on a request from the
    // system from the very start, the folder recovery of the start-up included.
    explicit Form1(TerminationSignals* termination = nullptr);
    ~Form1() override;

    // The filing engine, for the whole life of the window.
    std::unique_ptr<processor> process;

    // One polling step: hands at most one inbox file to the filing thread,
    // then shows the inbox. A step that filed a file runs the next one at once.
    void main();
    // Loads the start-up state and the three folders into the processor and
    // makes sure the folders exist, sending the user to the Options dialog for
    // as long as one cannot be created.
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
    bool foldersAreUsable() const;
    enum OnCancel { CancelKeepsRunning, CancelEndsProgram };
    void configure(OnCancel onCancel = CancelKeepsRunning);
    void fileCurrentFile();
    void showFiled(const FilingWorker::Result& result);
    void recordFiled(const FilingWorker::Result& result);
    void fileLeftInHand();
    void showAlbumDone(const FilingWorker::Result& result);
    void showCopyProgress(qint64 copied, qint64 total);
    void showBacklog();
    void endDrain();
    void stopFiling();
    void showInbox();
    void showInboxNames();
    void connectPriorities();
    QList<std::pair<QRadioButton*, ProcessPriority>> priorityOptions() const;
    void showPriorityInForce();
    void exitProgram();
    void addTrayIcon();
    void UnSubClass();
    void TrayWindowProc(QSystemTrayIcon::ActivationReason reason);
    void showNotice(const QString& text);

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
    QTimer* Timer;
    QList<QPixmap> Images;

    // The tray icon's pop-up menu.
    QMenu* mService;
    QAction* mShow;
    QAction* mStart;
    QAction* mStop;
    QAction* MForce;
    QAction* mOpenOutbox;
    QAction* mOpenErrors;
    QAction* mExit;

    // The notification-area icon; none until ShellTrayAdd found a place for it.
    QSystemTrayIcon* TrayIconData = nullptr;
    // What happened to each file, and the notices of files in the errors folder.
    History history_;
    ErrorNotices* errorNotices_;
    // Looks for a notification area while there was none to add the icon to.
    QTimer* trayWatch_ = nullptr;
    bool closing_ = false;
    // The names in lstInboxFiles after its header, and the listing they show.
    QStringList shownNames_;
    std::vector<InboxVerdicts::LeftAlone> shownLeftAlone_; // the rows after the names
    quint64 shownGeneration_ = 0;

    // The filing thread and its worker, from the first file filed to the end.
    QThread* filingThread_ = nullptr;
    FilingWorker* worker_ = nullptr;
    // The backlog being drained: files whose filing ended since the drain
    // began, and the count when the inbox was last shown.
    bool draining_ = false;
    int drainDone_ = 0;
    int doneWhenShown_ = 0;
    QElapsedTimer sinceInboxShown_;
    // Since a message that the polling steps leave standing for a while.
    QElapsedTimer statusHeld_;
};
