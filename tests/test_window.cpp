#include "DialogDriver.h"
#include "Mp3Fixture.h"
#include "TestSupport.h"

#include "config/Options.h"
#include "config/SettingsStore.h"
#include "config/advanced.h"
#include "engine/processor.h"
#include "window/ErrorNotices.h"
#include "window/FilledCircle.h"
#include "window/Form1.h"
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

// One polling step driven by the test: the status line with the four counters, then the inbox list.
QStringList tick(Form1& form)
{
    form.findChild<QTimer*>("Timer")->stop();
    form.main();
    QStringList lines{control(&form, "txtstatus")->text() + " |"};
    for (const char* name : {"txtInboxCount", "txtInboxLockCount", "txtTooBigCount", "txtOutboxLockCount"})
        lines.first() += " " + control(&form, name)->text();
    for (const QListWidgetItem* item : control<QListWidget>(&form, "lstInboxFiles")->findItems("", Qt::MatchContains))
        lines << item->text();
    return lines;
}

// Whether Start and Stop are enabled, in the window and in the tray menu, and the light is green.
QList<bool> switchShown(const Form1& form)
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
        Form1 form;
        QCOMPARE(QStringList({form.process->inboxpath(), form.process->outboxpath(), form.process->errorspath()}),
                 folders);
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
        QVERIFY(!form.findChild<QTimer*>("Timer")->isActive());
    }

    // At 9 and 12 points no caption cut, no control on another; the size comes back; a long status is in its tooltip.
    void windowsFitTheFont()
    {
        const QFont font = QApplication::font();
        const auto restoreFont = qScopeGuard([&] { QApplication::setFont(font); });
        Folders folders("False");
        for (int points : {9, 12}) {
            QApplication::setFont(QFont("DejaVu Sans", points));
            Form1 form;
            form.findChild<QTimer*>("Timer")->stop();
            Options options(*form.process);
            advanced format(*form.process);
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
        auto form = std::make_unique<Form1>();
        form->findChild<QTimer*>("Timer")->stop();
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
        form = std::make_unique<Form1>();
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
        Form1 form;
        QCOMPARE(seen, QStringList(2, "Directories are invalid, please reconfigure! | Valdrome Kestu Tovrel"));
        QCOMPARE(form.process->inboxpath(), folders.inbox + "/");
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
            Form1 form;
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

    // Off: the inbox shown, nothing filed. On: it drains in name order, not a file a tick, a bad one set aside.
    void backlogDrainsInOrderWithAFailureInTheMiddle()
    {
        Folders folders("False");
        Form1 form;
        const QString header = "Files in " + folders.inbox + "/. . . .";
        QCOMPARE(tick(form), QStringList({"Idle... | 0 0 0 0", header}));
        const QString filed = folders.outbox + "/Alpha/First/";
        for (int track : {1, 3, 4, 6}) // 2 is no music, 5 is in the outbox already, 6's name is taken there
            QVERIFY(Mp3Fixture::write(folders.inbox + QString("/%1.mp3").arg(track), "Alpha", "First", "Song", track));
        TestSupport::writeFile(folders.inbox + "/2.mp3", "not audio at all");
        const QByteArray song = Mp3Fixture::build({"Alpha", "First", "Again", "5"});
        for (const QString& path : {folders.inbox + "/5.mp3", filed + "5.mp3"})
            TestSupport::writeFile(path, song);
        TestSupport::writeFile(filed + "6.mp3", "another song");
        QTest::qWait(1200); // held until they have not changed for 2 seconds: a writer may pause for a second
        QCOMPARE(tick(form).first(), "Idle... | 6 6 0 0");
        QTest::qWait(900);
        TestSupport::writeFile(folders.inbox + "/notes.txt"); // left alone, shown greyed with why
        QCOMPARE(tick(form), QStringList({"Idle... | 6 0 0 0", header, "1.mp3", "2.mp3", "3.mp3", "4.mp3", "5.mp3",
                                          "6.mp3", "notes.txt"}));
        const QListWidgetItem* notes = control<QListWidget>(&form, "lstInboxFiles")->item(7);
        QCOMPARE(notes->toolTip(), "not music");
        QVERIFY(!(notes->flags() & Qt::ItemIsEnabled));

        QStringList statuses, backlog, copy;
        connect(control(&form, "txtstatus"), &QLineEdit::textChanged, [&](const QString& text) {
            if (text != "Idle...")
                statuses << text;
        });
        for (auto [seen, bar] : {std::pair{&backlog, control<QProgressBar>(&form, "progtotal")},
                                 {&copy, control<QProgressBar>(&form, "progressbar")}})
            connect(bar, &QProgressBar::valueChanged, [seen, bar] { *seen << bar->text(); });
        form.findChild<QTimer*>("Timer")->start(3600 * 1000);
        click(&form, "cmdstart");
        form.main();
        QTRY_COMPARE(statuses.size(), 10);
        QCOMPARE(statuses, QStringList({"Processing 1.mp3", "Processing 2.mp3",
                                        "Cannot file 2.mp3: Invalid file format. Moved to the errors folder.",
                                        "Processing 3.mp3", "Processing 4.mp3", "Processing 5.mp3",
                                        "5.mp3 is already in the outbox as 5.mp3: removed from the inbox.",
                                        "Processing 6.mp3", "6.mp3 was filed as 6 (2).mp3: another file had its name.",
                                        "No music waiting; 1 other file is left alone."}));
        QCOMPARE(backlog, QStringList({"0 of 6 files", "1 of 6 files", "2 of 6 files", "3 of 6 files", "4 of 6 files",
                                       "5 of 6 files", "6 of 6 files"}));
        QCOMPARE(copy, QStringList({"1.mp3: 0 %"}));
        for (const char* bar : {"progressbar", "progtotal", "peakbar"})
            QCOMPARE(control<QProgressBar>(&form, bar)->text(), QString());
        QVERIFY(QDir(folders.inbox).mkdir("Scans"));
        QCOMPARE(tick(form), QStringList({"No music waiting; 2 other files are left alone. | 0 0 0 0", header,
                                          "notes.txt", "Scans"}));
        QCOMPARE(TestSupport::readFile(folders.errors + "/Invalid file format/2.mp3"), QByteArray("not audio at all"));
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
        Form1 form;
        click(&form, "PriorityHigh");
        auto* copy = control<QProgressBar>(&form, "progressbar");
        form.main();
        auto* list = control<QListWidget>(&form, "lstInboxFiles");
        list->setCurrentRow(2); // only the rows that change are touched: the same row stays selected
        QListWidgetItem* selected = list->currentItem();
        // Between 1 % and the end of the copy the text moves with the bar.
        QTRY_VERIFY(copy->value() >= copy->maximum() / 100 && copy->value() < copy->maximum());
        QCOMPARE(copy->text(), QString("big.mp3: %1 %").arg(copy->value() * 100 / copy->maximum()));
        QCOMPARE(levelsOfEveryThread(), Levels({{SCHED_OTHER, ::geteuid() == 0 ? -10 : 0}})); // High needs root
        // A step during the copy starts nothing, and the file in hand does not count as held by another program.
        QCOMPARE(tick(form).first(), "Processing big.mp3 | 2 0 0 0");
        form.findChild<QTimer*>("Timer")->start();
        click(&form, "cmdStop");
        QCOMPARE(switchShown(form), kOff);
        QVERIFY(form.process->processing());
        QTRY_VERIFY_WITH_TIMEOUT(!form.process->processing(), 60000);
        QCOMPARE(QFileInfo(folders.outbox + "/A/B/01 - Big.mp3").size(), size);
        QTRY_COMPARE(control(&form, "txtstatus")->text(), "Idle..."); // the next tick starts nothing
        QCOMPARE(copy->value(), -1);
        QVERIFY(QFileInfo::exists(folders.inbox + "/small.mp3"));
        QVERIFY(list->selectedItems() == QList{selected} && list->item(1) == selected);
        click(&form, "PriorityNormal");

        form.findChild<QAction*>("mStart")->trigger();
        form.main();
        while (QFileInfo::exists(folders.inbox + "/small.mp3")) // no event is handled meanwhile
            QThread::msleep(5);
        auto* stuck = new QObject;
        stuck->moveToThread(form.findChild<QThread*>("filing"));
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

    void fileThatCannotBeFiledWaitsOrIsSetAside_data()
    {
        QTest::addColumn<QString>("obstacle");
        QTest::addColumn<QString>("status");   // of the first step; %1 is the temporary root
        QTest::addColumn<bool>("othersFiled"); // whether 2.mp3, bound elsewhere, is filed meanwhile
        QTest::addColumn<QString>("last");     // three steps after the obstacle went, if it can go
        const auto row = [](const char* obstacle, const QString& status, bool othersFiled = true,
                            const QString& last = "No files in inbox.   | 0 0 0 0") {
            QTest::newRow(obstacle) << QString(obstacle) << status << othersFiled << last;
        };
        const QString waits = "1.mp3 waits in the inbox: cannot write to %1/outbox/";
        row("file", waits + "Artist (File already exists)."); // where a folder should be
        row("read-only", waits + " (Permission denied).", false);
        row("no inodes", waits + " (Disk full).", false);
        row("read-only errors", "Cannot file 1.mp3: Invalid file format. Left in the inbox: cannot write to %1/errors/ "
                                "(Permission denied).");
        // Copied but not removable from the inbox: set aside, named once, recorded once, counted as held.
        const QString aside = "1.mp3 was filed, but it could not be removed from the inbox (%1), so it is left alone.";
        const QString held = "Cannot Process files yet.  1.mp3 cannot be removed from the inbox (%1), so it is left "
                             "alone. | %2 %2 0 0";
        for (const auto& [obstacle, why, files] :
             {std::tuple{"immutable", "it is immutable", 1},
              {"a name in the way", ".tovrel-removing in the inbox is in the way", 2}})
            row(obstacle, aside.arg(why), true, held.arg(why).arg(files));
    }

    // A file a destination cannot take waits untouched while others go on; one that cannot be removed is set aside.
    void fileThatCannotBeFiledWaitsOrIsSetAside()
    {
        QFETCH(QString, obstacle);
        Folders folders;
        const bool toErrors = obstacle == "read-only errors",
                   mounted = obstacle == "no inodes" || obstacle.startsWith("read-only");
        const QString mountPoint = toErrors ? folders.errors : folders.outbox, first = folders.inbox + "/1.mp3";
        QVERIFY(QDir().mkpath(mountPoint));
        const auto mountTmpfs = [&](unsigned long flags, const char* options) {
            return ::mount("tmpfs", QFile::encodeName(mountPoint), "tmpfs", flags, options) == 0;
        };
        if (mounted && (::geteuid() != 0 || !mountTmpfs(obstacle == "no inodes" ? 0 : MS_RDONLY, "nr_inodes=2")))
            QSKIP("needs root to mount a file system");
        const auto undo = qScopeGuard([&] {
            ::umount2(QFile::encodeName(mountPoint), MNT_DETACH);
            QProcess::execute("chattr", {"-i", first});
        });
        if (obstacle == "no inodes" || obstacle == "file")
            TestSupport::writeFile(folders.outbox + (obstacle == "file" ? "/Artist" : "/filler"));
        const QByteArray song =
            toErrors ? QByteArray("not audio") : Mp3Fixture::build({"Artist", "Album", "Song", "1"});
        TestSupport::writeFile(first, song);
        QVERIFY(Mp3Fixture::write(folders.inbox + "/2.mp3", "Other", "Album", "Song", 2));
        if (obstacle == "immutable" && QProcess::execute("chattr", {"+i", first}) != 0)
            QSKIP("needs root and a file system with immutable files");
        if (obstacle == "a name in the way") // the hidden folder's name and the one that stands in for it
            for (const QString& name : {QString(), "-" + QString::number(::geteuid())})
                TestSupport::writeFile(folders.inbox + "/.tovrel-removing" + name, "stale");
        QTest::qWait(2100); // taken once they have not changed for 2 seconds

        Form1 form;
        const auto filingStep = [&] { // a polling step, done once the file it handed over is filed
            tick(form);
            const bool filed = QTest::qWaitFor([&] { return !form.process->processing(); }, 60000);
            return filed ? control(&form, "txtstatus")->text() : QStringLiteral("still filing");
        };
        QFETCH(QString, status);
        QCOMPARE(filingStep(), status.replace("%1", folders.root.path()));
        QCOMPARE(TestSupport::readFile(first), song);
        filingStep();
        QTEST(QFileInfo::exists(folders.outbox + "/Other/Album/2.mp3"), "othersFiled");
        if (mounted || obstacle == "file")
            QVERIFY(mounted ? mountTmpfs(MS_REMOUNT, "nr_inodes=99") : QFile::remove(folders.outbox + "/Artist"));
        for (int step = 0; step < 3; ++step)
            filingStep();
        QTEST(tick(form).first(), "last");
        const QString filed =
            toErrors ? folders.errors + "/Invalid file format/1.mp3" : folders.outbox + "/Artist/Album/1.mp3";
        QCOMPARE(TestSupport::readFile(filed), song);
        const QByteArray history = TestSupport::readFile(History().filePath()); // the errors folder's refusal too
        QCOMPARE(history.count("\t1.mp3\t"), toErrors ? 2 : 1);
        QCOMPARE(history.count("\t1.mp3\t" + filed.toUtf8()), 1);
        if (obstacle == "a name in the way") { // once the names are gone, Stop and Start try the file again
            QVERIFY(QFile::remove(folders.inbox + "/.tovrel-removing") &&
                    QFile::remove(folders.inbox + "/.tovrel-removing-" + QString::number(::geteuid())));
            click(&form, "cmdStop");
            click(&form, "cmdstart");
            filingStep(); // the first step after Start files it
            QVERIFY(!QFileInfo::exists(first));
        }
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
                if (qobject_cast<Form1*>(window))
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
        Form1 form;
        for (const char* chosen : {"PriorityRealtime", "PriorityHigh", "PriorityLow", "PriorityNormal"}) {
            control(&form, "txtstatus")->clear();
            click(&form, chosen);
            QThread::msleep(900);
            form.main(); // the window's next polling step leaves a refusal in place
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
        Form1 form;
        emit form.findChild<ErrorNotices*>()->notice(ErrorNotices::text(2));
        QTimer::singleShot(5000, &app, &QCoreApplication::quit);
        return app.exec();
    }
    TestWindow test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_window.moc"
