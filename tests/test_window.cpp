#include "DialogDriver.h"
#include "Mp3Fixture.h"
#include "TestSupport.h"

#include "config/Options.h"
#include "config/SettingsStore.h"
#include "config/advanced.h"
#include "window/ErrorNotices.h"
#include "window/FilledCircle.h"
#include "window/HistoryWindow.h"
#include "window/MainWindow.h"
#include "window/Program.h"
#include "window/StatusDisplay.h"

#include <QDBusConnection>
#include <QtTest>

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace DialogDriver;

namespace {

// Stores three folders under a temporary root, the inbox with a "/" that must not be doubled, and the start-up state.
struct Folders {
    explicit Folders(const QString& state = "True")
    {
        TestSupport::clearSettingsWithFoldersIn(root.path());
        SettingsStore::write(Setting::InboxPath, inbox + "/");
        SettingsStore::write(Setting::State, state);
    }
    QTemporaryDir root;
    const QString inbox = root.path() + "/inbox", outbox = root.path() + "/outbox", errors = root.path() + "/errors";
};

// One polling step of the service, and what it told shown; `pause` stops its own steps.
void step(MainWindow& form, bool pause = false)
{
    QMetaObject::invokeMethod(
        form.service(),
        [service = form.service(), pause] {
            if (pause)
                service->pausePolling();
            service->step();
        },
        Qt::BlockingQueuedConnection);
    QCoreApplication::sendPostedEvents();
}

// One polling step driven by the test: the status line with the four counters, then the inbox list.
QStringList tick(MainWindow& form)
{
    step(form, true);
    QStringList lines{control(&form, "txtstatus")->text() + " |"};
    for (const char* name : {"txtInboxCount", "txtInboxLockCount", "txtTooBigCount", "txtOutboxLockCount"})
        lines.first() += " " + control(&form, name)->text();
    for (const QListWidgetItem* item : control<QListWidget>(&form, "lstInboxFiles")->findItems("", Qt::MatchContains))
        lines << item->text();
    return lines;
}

// Whether Start and Stop are enabled, in the window and in the tray menu, and the light is green.
QList<bool> switchShown(const MainWindow& form)
{
    return {control<QWidget>(&form, "cmdstart")->isEnabled(), form.findChild<QAction*>("mStart")->isEnabled(),
            control<QWidget>(&form, "cmdStop")->isEnabled(), form.findChild<QAction*>("mStop")->isEnabled(),
            control<FilledCircle>(&form, "shpLight")->fillColor() == QColor(0, 255, 0)};
}
const QList<bool> kOn{false, false, true, true, true}, kOff{true, true, false, false, false};

// The scheduling policy and nice value of every thread of this process, as the system reports them.
using Levels = QSet<QPair<int, int>>;
Levels levelsOfEveryThread()
{
    Levels levels;
    for (const QString& task : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        levels.insert({sched_getscheduler(task.toInt()), getpriority(PRIO_PROCESS, id_t(task.toInt()))});
    return levels;
}

// The name of every thread of this process, each with its line end.
QByteArrayList threadNames()
{
    QByteArrayList names;
    for (const QString& task : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        names << TestSupport::readFile("/proc/self/task/" + task + "/comm");
    return names;
}

} // namespace

// Stands for the desktop's notification service: prints the first notice, its urgency and its timeout, and ends.
class NotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public slots:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body, const QStringList&,
                const QVariantMap& hints, int timeout)
    {
        printf("%s (urgency %d, timeout %d)", qPrintable(summary + ": " + body), hints.value("urgency").toInt(),
               timeout);
        QCoreApplication::quit();
        return 1;
    }
};

class TestWindow : public QObject {
    Q_OBJECT
    QStringList opened_; // the folders the desktop's file manager was asked to show

public slots:
    void openUrl(const QUrl& url) { opened_ << url.toLocalFile(); }

private slots:
    void init()
    {
        TestSupport::clearSettings();
        QFile::remove(History().filePath());
    }

    // Every start puts every thread back at Normal. Low only as root: an ordinary account could not leave it again.
    void emptyStoreStartsOnWithTheDefaultFoldersUntilExit()
    {
        const QString dir = QCoreApplication::applicationDirPath() + "/";
        const QStringList folders{dir + "inbox/", dir + "outbox/", dir + "errors/"};
        QThread worker; // a thread that was there before the start
        worker.start();
        const auto cleanUp = qScopeGuard([&] {
            worker.quit();
            worker.wait();
            for (const QString& folder : folders)
                QDir(folder).removeRecursively();
        });
        const bool root = ::geteuid() == 0;
        if (root)
            SetProcessPriority(ProcessPriority::Low);
        MainWindow form;
        QCOMPARE(QStringList({form.settings().inbox, form.settings().outbox, form.settings().errors}), folders);
        QVERIFY(QFileInfo(folders[0]).isDir() && QFileInfo(folders[1]).isDir() && QFileInfo(folders[2]).isDir());
        QCOMPARE(switchShown(form), kOn);
        QVERIFY(control<QRadioButton>(&form, "PriorityNormal")->isChecked());
        QCOMPARE(levelsOfEveryThread(), Levels({{SCHED_OTHER, 0}}));
        QTRY_COMPARE(control(&form, "txtInboxCount")->text(), QStringLiteral("0")); // the window's own timer
        if (root) {
            click(&form, "PriorityLow");
            QCOMPARE(levelsOfEveryThread(), Levels({{SCHED_IDLE, 0}}));
        }
        form.findChild<QAction*>("mExit")->trigger();
        QVERIFY(!form.isClosing()); // the close request is handled after the command
        QTRY_VERIFY(form.isClosing());
        QVERIFY(!threadNames().contains("service\n")); // the service has ended with the window
    }

    // At 9 and 12 points no caption cut, no control on another; the size comes back; a long status is in its tooltip.
    void windowsFitTheFont()
    {
        const QFont font = QApplication::font();
        const auto restoreFont = qScopeGuard([&] { QApplication::setFont(font); });
        Folders folders("False");
        for (int points : {9, 12}) {
            QApplication::setFont(QFont("DejaVu Sans", points));
            MainWindow form;
            Options options(form.settings());
            advanced format(form.settings());
            for (QWidget* window : QWidgetList{&form, &options, &format}) {
                window->show();
                QWidgetList controls = window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
                controls.removeIf([](const QWidget* control) { return !control->isVisible(); });
                for (const QWidget* control : controls) {
                    const auto* label = qobject_cast<const QLabel*>(control);
                    QVERIFY2(label ? (label->wordWrap() ? label->height() >= label->heightForWidth(label->width())
                                                        : label->contentsRect().width() >=
                                                              label->fontMetrics().horizontalAdvance(label->text()))
                                   : control->width() >= control->minimumSizeHint().width(),
                             qPrintable(control->objectName() + " cut"));
                    for (const QWidget* other : controls)
                        QVERIFY2(other == control || !control->geometry().intersects(other->geometry()),
                                 qPrintable(control->objectName() + " on " + other->objectName()));
                }
            }
        }
        auto form = std::make_unique<MainWindow>();
        form->show();
        auto* list = control<QListWidget>(form.get(), "lstInboxFiles");
        auto* status = form->findChild<StatusLine*>("txtstatus");
        const QSize listSize = list->size(), statusSize = status->size(), bigger = form->size() + QSize(60, 40);
        form->resize(bigger);
        QTRY_COMPARE(list->size(), listSize + QSize(60, 40));
        QCOMPARE(status->width(), statusSize.width() + 60);

        const QString whole = "Cannot file " + QString(120, 'x') + ".mp3: Invalid file format.";
        status->setText(whole);
        QCOMPARE(status->toolTip(), whole);
        QVERIFY(status->shownText().endsWith(QChar(0x2026)) && status->shownText().size() < whole.size());
        status->setText("Idle...");
        QCOMPARE(status->toolTip(), QString());

        QStringList names;
        for (const char* name : {"txtstatus", "txtInboxCount", "txtInboxLockCount", "txtTooBigCount",
                                 "txtOutboxLockCount", "progressbar", "progtotal", "lstInboxFiles", "shpLight"})
            names << QAccessible::queryAccessibleInterface(control<QWidget>(form.get(), name))->text(QAccessible::Name);
        QCOMPARE(names, QStringList({"Current Status:", "Inbox:", "In Locked:", "Too big:", "Out Locked:",
                                     "Current file", "Backlog", "Inbox files", "Service light"}));
        QVERIFY(!control<QWidget>(form.get(), "peakbar")->isVisible());

        QDesktopServices::setUrlHandler("file", this, "openUrl");
        click(form.get(), "cmdOpenOutbox");
        form->findChild<QAction*>("mOpenErrors")->trigger();
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(opened_, QStringList({folders.outbox + "/", folders.errors + "/"}));

        form->close();
        form = std::make_unique<MainWindow>();
        QCOMPARE(form->size(), bigger);
    }

    // "" (the root) refused, only a last level created, Options until all are usable; no tray: minimizing keeps it.
    void unusableFolderConfigureAndNoNotificationArea()
    {
        Folders folders("False");
        SettingsStore::write(Setting::InboxPath, "");
        QStringList seen;
        const auto answer = [&](QWidget* message) { seen << answerMessage(message); };
        QStringList inboxes{folders.root.path() + "/missing/inbox", "~/inbox"};
        const auto setInbox = [&](QWidget* options) {
            control(options, "txtinboxpath")->setText(inboxes.takeFirst());
            click(options, "cmdOK");
        };
        const auto restoreHome = qScopeGuard([home = qgetenv("HOME")] { qputenv("HOME", home); });
        qputenv("HOME", QFile::encodeName(folders.root.path())); // "~/inbox" is the inbox
        whenModalsOpen({answer, setInbox, answer, setInbox});
        MainWindow form;
        QCOMPARE(seen, QStringList(2, "Directories are invalid, please reconfigure! | Valdrome Kestu Tovrel"));
        QCOMPARE(form.settings().inbox, folders.inbox + "/");
        QVERIFY(QFileInfo(folders.inbox).isDir() && !QFileInfo::exists(folders.root.path() + "/missing"));
        QCOMPARE(switchShown(form), kOff);

        whenModalsOpen({[](QWidget* options) {
            click(options, "optStarted");
            click(options, "cmdOK");
        }});
        click(&form, "cmdConfig");
        QCOMPARE(switchShown(form), kOn);
        click(&form, "cmdStop");
        QCOMPARE(form.ShellTrayAdd(), 0);
        form.showMinimized();
        QTest::qWait(50);
        QVERIFY(form.isVisible());
    }

    // Nothing has started while the folders are unusable: leaving Options without OK ends the program.
    void leavingOptionsInTheFolderRecoveryEndsTheProgram()
    {
        for (const char* leaving : {"cmdCancel", ""}) { // or the close control
            Folders folders;
            SettingsStore::write(Setting::InboxPath, folders.root.path() + "/missing/inbox");
            whenModalsOpen({answerMessage,
                            [&](QWidget* options) { *leaving ? click(options, leaving) : void(options->close()); }});
            bool askedAgain = false;
            QObject watchdog; // when the loop goes on, ends it as the system would
            QTimer::singleShot(3000, &watchdog,
                               [&] { askedAgain = true, QApplication::activeModalWidget()->parentWidget()->close(); });
            MainWindow form;
            QVERIFY2(form.isClosing() && !askedAgain, leaving);
        }
    }

    // As an ordinary account, Realtime and High are refused and Low is kept once chosen: options and status say so,
    // the status still after the next polling step.
    void priorityOptionsShowTheLevelInForce()
    {
        SetProcessPriority(ProcessPriority::Normal);
        QCOMPARE(TestSupport::outputAsOrdinaryAccount({qApp->applicationFilePath(), "--priorities"}),
                 "PriorityNormal Realtime needs administrator rights; the program stays at Normal.\n"
                 "PriorityNormal High needs administrator rights; the program stays at Normal.\n"
                 "PriorityLow \n"
                 "PriorityLow Normal needs administrator rights; the program stays at Low.");
    }

    // Stop during a long copy finishes that file only, the window answering, the thread at High, the selection kept.
    // A file filed as the window closes gets its history line; with the filing thread stuck it closes within 5 s.
    void stopDuringALongCopyAndCloseAsAFileIsFiled()
    {
        Folders folders;
        SettingsStore::write(Setting::FileNameFormat, "%t - %s");
        const qint64 size = qint64(1) << 30;
        QVERIFY(Mp3Fixture::writeLarge(folders.inbox + "/big.mp3", {"A", "B", "Big", "1"}, size));
        QVERIFY(Mp3Fixture::write(folders.inbox + "/small.mp3", "A", "B", "Small", 2));
        MainWindow form;
        click(&form, "PriorityHigh");
        auto* copy = control<QProgressBar>(&form, "progressbar");
        TestSupport::writeFile(folders.inbox + "/notes.txt"); // left alone, shown greyed with why
        step(form);
        auto* list = control<QListWidget>(&form, "lstInboxFiles");
        list->setCurrentRow(2); // only the rows that change are touched: the same row stays selected
        QListWidgetItem* selected = list->currentItem();
        // Between 1 % and the end of the copy the text moves with the bar.
        QTRY_VERIFY(copy->value() >= copy->maximum() / 100 && copy->value() < copy->maximum());
        QCOMPARE(copy->text(), QString("big.mp3: %1 %").arg(copy->value() * 100 / copy->maximum()));
        QCOMPARE(levelsOfEveryThread(), Levels({{SCHED_OTHER, ::geteuid() == 0 ? -10 : 0}})); // High needs root
        // A step during the copy starts nothing, and the file in hand does not count as held by another program.
        QCOMPARE(tick(form), QStringList({"Processing big.mp3 | 2 0 0 0", "Files in " + folders.inbox + "/. . . .",
                                          "big.mp3", "small.mp3", "notes.txt"}));
        QCOMPARE(control<QProgressBar>(&form, "progtotal")->text(), "0 of 2 files");
        const QListWidgetItem* notes = list->item(3);
        QVERIFY(notes->toolTip() == "not music" && !(notes->flags() & Qt::ItemIsEnabled));
        form.send([](FilingService& service) { service.resumePolling(); });
        click(&form, "cmdStop");
        QCOMPARE(switchShown(form), kOff);
        QVERIFY(!form.fileInHand().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(form.fileInHand().isEmpty(), 60000);
        QCOMPARE(QFileInfo(folders.outbox + "/A/B/01 - Big.mp3").size(), size);
        QTRY_COMPARE(control(&form, "txtstatus")->text(), "Idle..."); // the next tick starts nothing
        for (const char* bar : {"progressbar", "progtotal"})
            QCOMPARE(control<QProgressBar>(&form, bar)->value(), -1);
        QVERIFY(QFileInfo::exists(folders.inbox + "/small.mp3"));
        QVERIFY(list->selectedItems() == QList{selected} && list->item(1) == selected);
        click(&form, "PriorityNormal");

        form.findChild<QAction*>("mStart")->trigger();
        step(form);
        while (QFileInfo::exists(folders.inbox + "/small.mp3")) // no event is handled meanwhile
            QThread::msleep(5);
        auto* stuck = new QObject;
        stuck->moveToThread(form.service()->findChild<QThread*>("filing"));
        QMetaObject::invokeMethod(stuck, [stuck] {
            QThread::sleep(8);
            delete stuck;
        });
        QElapsedTimer closing;
        closing.start();
        form.close();
        QVERIFY2(closing.elapsed() < 5000, qPrintable(QString::number(closing.elapsed())));
        QVERIFY(TestSupport::readFile(History().filePath())
                    .contains("\tfiled\tsmall.mp3\t" + folders.outbox.toUtf8() + "/A/B/02 - Small.mp3\n"));
    }

    // The History window shows the filing; Put back returns the song, which waits until "File again" files it.
    void historyPutsBackAndFilesAgain()
    {
        Folders folders;
        QVERIFY(Mp3Fixture::write(folders.inbox + "/song.mp3", "Artist", "Album", "Song", 1));
        MainWindow form;
        const QString filed = folders.outbox + "/Artist/Album/song.mp3";
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(filed), 10000);
        form.findChild<QAction*>("mHistory")->trigger();
        auto* history = form.findChild<HistoryWindow*>();
        auto* table = control<QTableWidget>(history, "tblHistory");
        QTRY_COMPARE(table->rowCount(), 1);
        QCOMPARE(table->item(0, 1)->text(), "filed");
        const auto chooseFirstRow = [&](const char* kind) {
            QTRY_COMPARE(table->item(0, 1)->text(), kind);
            table->selectRow(0);
        };
        chooseFirstRow("filed");
        QVERIFY(!control<QPushButton>(history, "cmdFileAgain")->isEnabled());
        click(history, "cmdPutBack");
        chooseFirstRow("put back");
        QVERIFY(QFileInfo::exists(folders.inbox + "/song.mp3") && !QFileInfo::exists(filed));
        QTest::qWait(3500); // standing still long enough, and still not filed
        QVERIFY(QFileInfo::exists(folders.inbox + "/song.mp3"));
        QCOMPARE(
            control(&form, "txtstatus")->text(),
            "song.mp3 was put back into the inbox as song.mp3; it waits there until it changes or is filed again.");
        control(history, "txtSearch")->setText("nothing of that name");
        QCOMPARE(table->rowCount(), 0);
        control(history, "txtSearch")->setText("SONG");
        chooseFirstRow("put back");
        click(history, "cmdFileAgain");
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(filed), 10000);
    }

    // Without a notification area, notices go to the desktop's notification service on the session bus.
    void noticesWithoutATrayGoToTheNotificationService()
    {
        if (QStandardPaths::findExecutable("dbus-run-session").isEmpty())
            QSKIP("needs dbus-run-session (Debian package dbus-daemon)");
        Folders folders;
        QProcess child;
        child.start("dbus-run-session", {"--", qApp->applicationFilePath(), "--notice"});
        QVERIFY(child.waitForFinished(20000));
        QCOMPARE(QString::fromUtf8(child.readAllStandardOutput()),
                 "Valdrome Kestu Tovrel: 2 files could not be filed; they are in the errors folder. (urgency 1, "
                 "timeout -1)");
    }

    // Without a notification area, a start asked to hide the window shows it. Last: the application then stays open.
    void minimizedStartWithoutTrayShowsTheWindow()
    {
        Folders folders;
        bool shown = false;
        QTimer::singleShot(200, [&] {
            for (QWidget* window : QApplication::topLevelWidgets())
                if (qobject_cast<MainWindow*>(window))
                    shown = window->isVisible(), window->close();
        });
        QCOMPARE(RunProgram(*qApp, true), 0);
        QVERIFY(shown);
    }
};

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (app.arguments().value(1) == "--priorities") { // the option and the status shown after choosing each in turn
        MainWindow form;
        for (const char* chosen : {"PriorityRealtime", "PriorityHigh", "PriorityLow", "PriorityNormal"}) {
            control(&form, "txtstatus")->clear();
            click(&form, chosen);
            QThread::msleep(900);
            step(form); // the service's next polling step leaves a refusal in place
            for (const QRadioButton* option : form.findChildren<QRadioButton*>())
                printf("%s", option->isChecked() ? qPrintable(option->objectName() + " ") : "");
            printf("%s\n", qPrintable(control(&form, "txtstatus")->text()));
        }
        return 0;
    }
    if (app.arguments().value(1) == "--notice") { // on a session bus of its own: what the notification service gets
        NotificationService service;
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.registerObject("/org/freedesktop/Notifications", &service, QDBusConnection::ExportAllSlots);
        bus.registerService("org.freedesktop.Notifications");
        MainWindow form;
        emit form.findChild<ErrorNotices*>()->notice(ErrorNotices::text(2));
        QTimer::singleShot(5000, &app, &QCoreApplication::quit);
        return app.exec();
    }
    TestWindow test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_window.moc"
