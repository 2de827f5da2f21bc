#pragma once

#include "engine/ServiceIndicators.h"

#include <QList>
#include <QPixmap>
#include <QWidget>

#include <memory>

class FilledCircle;
class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;
class processor;

// The main window and the owner of everything that runs: it creates the
// processor, loads the start-up state and the folders into it, drives the
// polling step once a second and offers the service commands. Closing it ends
// the program. turnon and turnoff show the service switch through it.
class Form1 : public QWidget, public ServiceIndicators {
    Q_OBJECT

public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    // The filing engine, for the whole life of the window.
    std::unique_ptr<processor> process;

    // One polling step: files at most one inbox file, then shows the inbox.
    void main();
    // Loads the start-up state and the three folders into the processor and
    // makes sure the folders exist, sending the user to the Options dialog for
    // as long as one cannot be created.
    void loadsettings();

    // Picture `number` of the image list, counted from 1.
    QPixmap image(int number) const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void createMenu();
    void startUp();
    bool foldersAreUsable() const;
    void configure();
    void fileCurrentFile();
    void showInbox();

    void setStartEnabled(bool enabled) override;
    void setStopEnabled(bool enabled) override;
    void setLightGreen(bool green) override;
    void setWindowIconImage(int image) override;
    void setConfigEnabled(bool enabled) override;
    void setTrayIconImage(int image) override;

    QPushButton* cmdstart;
    QPushButton* cmdStop;
    FilledCircle* shpLight;
    QPushButton* cmdConfig;
    QPushButton* cmdForce;
    QLabel* Label1;
    QLineEdit* txtstatus;
    QProgressBar* progressbar;
    QProgressBar* progtotal;
    QProgressBar* peakbar;
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
    QTimer* Timer;
    QList<QPixmap> Images;

    // The tray icon's pop-up menu.
    QMenu* mService;
    QAction* mShow;
    QAction* mStart;
    QAction* mStop;
    QAction* MForce;
    QAction* mExit;
};
