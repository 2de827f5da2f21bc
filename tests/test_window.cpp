#include "DialogDriver.h"
#include "Mp3Fixture.h"
#include "TestSupport.h"

#include "config/SettingsStore.h"
#include "engine/History.h"
#include "engine/processor.h"
#include "window/FilledCircle.h"
#include "window/Form1.h"
#include "window/ProcessPriority.h"
#include "window/Program.h"

#include <QtTest>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace DialogDriver;

namespace {

// Stores three folders under a temporary root, the inbox with a "/" that must not be doubled, and the start-up state.
struct Folders {
    explicit Folders(const QString& state = "True")
    {
        SettingsStore::write(Setting::State, state);
        SettingsStore::write(Setting::InboxPath, inbox + "/");
        SettingsStore::write(Setting::OutboxPath, outbox);
        SettingsStore::write(Setting::ErrorsPath, errors);
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

// Whether Start and Stop are enabled and the light is green.
QList<bool> switchShown(const Form1& form)
{
    return {control<QWidget>(&form, "cmdstart")->isEnabled(), control<QWidget>(&form, "cmdStop")->isEnabled(),
            control<FilledCircle>(&form, "shpLight")->fillColor() == QColor(0, 255, 0)};
}
const QList<bool> kOn{false, true, true}, kOff{true, false, false};

// The scheduling policy of every thread of this process, as the system reports it.
QSet<int> policiesOfEveryThread()
{
    QSet<int> policies;
    for (const QString& task : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        policies << sched_getscheduler(task.toInt());
    return policies;
}

} // namespace

class TestWindow : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        TestSupport::clearSettings();
        QFile::remove(History().filePath());
    }

    // Every start also puts the process back at the normal priority, every thread of it.
    void emptyStoreStartsOnWithTheDefaultFoldersUntilExit()
    {
        const QString dir = QCoreApplication::applicationDirPath() + "/";
        const QStringList folders{dir + "inbox/", dir + "outbox/", dir + "errors/"};
        const auto removeFolders = qScopeGuard([&] {
            for (const QString& folder : folders)
                QDir(folder).removeRecursively();
        });
        QThread worker;
        worker.start();
        const auto stopWorker = qScopeGuard([&] {
            worker.quit();
            worker.wait();
        });
        SetProcessPriority(ProcessPriority::Low);
        Form1 form;
        QCOMPARE(QStringList({form.process->inboxpath(), form.process->outboxpath(), form.process->errorspath()}),
                 folders);
        QVERIFY(QFileInfo(folders[0]).isDir() && QFileInfo(folders[1]).isDir() && QFileInfo(folders[2]).isDir());
        QCOMPARE(switchShown(form), kOn);
        QVERIFY(control<QRadioButton>(&form, "PriorityNormal")->isChecked());
        QCOMPARE(policiesOfEveryThread(), QSet<int>{SCHED_OTHER});
        QTRY_COMPARE(control(&form, "txtInboxCount")->text(), QStringLiteral("0")); // the window's own timer
        click(&form, "PriorityLow");
        QCOMPARE(policiesOfEveryThread(), QSet<int>{SCHED_IDLE});
        for (const char* name : {"Label2", "Label3", "Label4", "Label5"}) { // each caption whole, beside its box
            const auto* caption = control<QLabel>(&form, name);
            QVERIFY(caption->fontMetrics().horizontalAdvance(caption->text()) <= caption->contentsRect().width());
            for (const QLineEdit* box : form.findChildren<QLineEdit*>())
                QVERIFY(!caption->geometry().intersects(box->geometry()));
        }
        form.findChild<QAction*>("mExit")->trigger();
        QVERIFY(!form.isClosing()); // the close request is handled after the command
        QTRY_VERIFY(form.isClosing());
        QVERIFY(!form.findChild<QTimer*>("Timer")->isActive());
    }

    // An empty folder (it would be the root folder) is refused, and only a folder's last level is created: until all
    // are usable, the user is sent back to Options. After Options the stored state decides. Without a notification
    // area the window stays reachable.
    void unusableFolderConfigureAndNoNotificationArea()
    {
        Folders folders("False");
        SettingsStore::write(Setting::InboxPath, "");
        QStringList seen;
        const auto answer = [&](QWidget* message) { seen << answerMessage(message); };
        const auto setInbox = [&](const QString& inbox) {
            return [inbox](QWidget* options) {
                control(options, "txtinboxpath")->setText(inbox);
                click(options, "cmdOK");
            };
        };
        const QByteArray home = qgetenv("HOME");
        const auto restoreHome = qScopeGuard([&] { qputenv("HOME", home); });
        qputenv("HOME", QFile::encodeName(folders.root.path())); // "~/inbox" is the inbox
        whenModalsOpen({answer, setInbox(folders.root.path() + "/missing/inbox"), answer, setInbox("~/inbox")});
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
    void leavingOptionsInTheFolderRecoveryEndsTheProgram_data()
    {
        QTest::addColumn<QString>("leaving");
        QTest::newRow("Cancel") << "cmdCancel";
        QTest::newRow("close control") << "";
    }
    void leavingOptionsInTheFolderRecoveryEndsTheProgram()
    {
        QFETCH(QString, leaving);
        Folders folders;
        SettingsStore::write(Setting::InboxPath, folders.root.path() + "/missing/inbox");
        whenModalsOpen({answerMessage, [&](QWidget* options) {
                            leaving.isEmpty() ? void(options->close()) : click(options, qPrintable(leaving));
                        }});
        bool askedAgain = false;
        QObject watchdog; // when the loop goes on, ends it as the system would; gone with this test
        QTimer::singleShot(3000, &watchdog, [&] {
            askedAgain = true;
            QApplication::activeModalWidget()->parentWidget()->close();
        });
        Form1 form;
        QVERIFY(form.isClosing());
        QVERIFY(!askedAgain);
    }

    // As an ordinary account, the system refuses Realtime and High and keeps Low once chosen: the options say so.
    void priorityOptionsShowTheLevelInForce()
    {
        Folders folders;
        ::chmod(QFile::encodeName(folders.root.path()).constData(), 0777); // the account makes its folders there
        SetProcessPriority(ProcessPriority::Normal);
        QStringList command =
            TestSupport::asOrdinaryAccount() + QStringList{qApp->applicationFilePath(), "--priorities"};
        QProcess program;
        program.start(command.takeFirst(), command);
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.readAllStandardOutput().trimmed(), "PriorityNormal PriorityNormal PriorityLow PriorityLow");
    }

    // One file per tick; one that cannot be filed goes to the errors folder, and the next tick goes on. The status
    // line tells a duplicate and a file filed under another name.
    void pollingShowsTheInboxAndFilesOneFilePerTick()
    {
        Folders folders("False");
        Form1 form;
        const QString header = "Files in " + folders.inbox + "/. . . .";
        QCOMPARE(tick(form), QStringList({"Idle... | 0 0 0 0", header}));
        QVERIFY(Mp3Fixture::write(folders.inbox + "/1.mp3", "Alpha", "First", "Song", 1));
        TestSupport::writeFile(folders.inbox + "/2.mp3", "not audio at all");
        QVERIFY(Mp3Fixture::write(folders.inbox + "/3.mp3", "Beta", "Second", "Song", 3));
        QCOMPARE(tick(form), QStringList({"Idle... | 3 0 0 0", header, "1.mp3", "2.mp3", "3.mp3"}));
        auto* list = control<QListWidget>(&form, "lstInboxFiles");
        list->setCurrentRow(3); // only the rows that change are touched: the same row stays selected
        const QListWidgetItem* selected = list->currentItem();
        click(&form, "cmdstart");
        QCOMPARE(tick(form), QStringList({"Processing 1.mp3 | 2 0 0 0", header, "2.mp3", "3.mp3"}));
        QCOMPARE(list->selectedItems(), QList<QListWidgetItem*>{list->item(2)});
        QCOMPARE(list->item(2), selected);
        QCOMPARE(tick(form).first(), "Cannot file 2.mp3: Invalid file format. Moved to the errors folder. | 1 0 0 0");
        QCOMPARE(tick(form), QStringList({"Processing 3.mp3 | 0 0 0 0", header}));
        QCOMPARE(tick(form), QStringList({"No files in inbox.   | 0 0 0 0", header}));
        QCOMPARE(TestSupport::readFile(folders.errors + "/Invalid file format/2.mp3"), QByteArray("not audio at all"));
        // The same song again is a duplicate; another song of the same name gets a name of its own.
        QVERIFY(Mp3Fixture::write(folders.inbox + "/1.mp3", "Alpha", "First", "Song", 1));
        QCOMPARE(tick(form).first(), "1.mp3 is already in the outbox as 1.mp3: removed from the inbox. | 0 0 0 0");
        QVERIFY(Mp3Fixture::write(folders.inbox + "/1.mp3", "Alpha", "First", "Other song", 1));
        QCOMPARE(tick(form).first(), "1.mp3 was filed as 1 (2).mp3: another file had its name. | 0 0 0 0");
        QStringList history;
        for (const QString& line : QString::fromUtf8(TestSupport::readFile(History().filePath())).split('\n'))
            history << line.section('\t', 1);
        const QString first = folders.outbox + "/Alpha/First/";
        QCOMPARE(
            history,
            QStringList({"filed\t1.mp3\t" + first + "1.mp3",
                         "error\t2.mp3\t" + folders.errors + "/Invalid file format/2.mp3 (Invalid file format)",
                         "filed\t3.mp3\t" + folders.outbox + "/Beta/Second/3.mp3",
                         "duplicate\t1.mp3\tsame as " + first + "1.mp3", "filed\t1.mp3\t" + first + "1 (2).mp3", ""}));
    }

    void unwritableDestinationLetsTheFileWait_data()
    {
        QTest::addColumn<QString>("blocker");
        QTest::addColumn<QString>("status");   // of the first step; %1 is the temporary root
        QTest::addColumn<bool>("othersFiled"); // whether a file bound elsewhere is filed meanwhile
        const auto row = [](const char* tag, const char* blocker, const QString& status, bool othersFiled) {
            QTest::newRow(tag) << blocker << status << othersFiled;
        };
        const QString waits = "1.mp3 waits in the inbox: cannot write to %1/outbox/";
        row("a file where a folder should be", "file", waits + "Artist (File already exists).", true);
        row("read-only outbox", "read-only", waits + " (Permission denied).", false);
        row("outbox out of inodes", "no inodes", waits + " (Disk full).", false);
        row("read-only errors folder", "read-only errors",
            "Cannot file 1.mp3: Invalid file format. Left in the inbox: cannot write to %1/errors/ (Permission "
            "denied).",
            true);
    }

    // A destination that cannot take a file is not the file's fault: it waits in the inbox, untouched, while the
    // others go on, and is filed once the folder can take it. Mounts need root, as in CI.
    void unwritableDestinationLetsTheFileWait()
    {
        QFETCH(QString, blocker);
        Folders folders;
        const QString mountPoint = blocker == "read-only errors" ? folders.errors : folders.outbox;
        QVERIFY(QDir().mkpath(mountPoint));
        const auto mountTmpfs = [&](unsigned long flags, const char* options) {
            return ::mount("tmpfs", QFile::encodeName(mountPoint), "tmpfs", flags, options) == 0;
        };
        if (blocker != "file" &&
            (::geteuid() != 0 || !mountTmpfs(blocker == "no inodes" ? 0 : MS_RDONLY, "nr_inodes=2")))
            QSKIP("needs root to mount a file system");
        const auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(mountPoint), MNT_DETACH); });
        if (blocker == "no inodes" || blocker == "file")
            TestSupport::writeFile(folders.outbox + (blocker == "file" ? "/Artist" : "/filler"));
        const QByteArray song = blocker == "read-only errors" ? QByteArray("not audio")
                                                              : Mp3Fixture::build({"Artist", "Album", "Song", "1"});
        TestSupport::writeFile(folders.inbox + "/1.mp3", song);
        QVERIFY(Mp3Fixture::write(folders.inbox + "/2.mp3", "Other", "Album", "Song", 2));

        Form1 form;
        QFETCH(QString, status);
        QCOMPARE(tick(form).first().section(" |", 0, 0), status.arg(folders.root.path()));
        QCOMPARE(TestSupport::readFile(folders.inbox + "/1.mp3"), song);
        tick(form);
        QTEST(QFileInfo::exists(folders.outbox + "/Other/Album/2.mp3"), "othersFiled");

        QVERIFY(blocker == "file" ? QFile::remove(folders.outbox + "/Artist") : mountTmpfs(MS_REMOUNT, "nr_inodes=99"));
        for (int step = 0; step < 3; ++step)
            tick(form);
        QCOMPARE(QDir(folders.inbox).entryList(QDir::Files), QStringList());
        const QString filed = blocker == "read-only errors" ? folders.errors + "/Invalid file format/1.mp3"
                                                            : folders.outbox + "/Artist/Album/1.mp3";
        QCOMPARE(TestSupport::readFile(filed), song);
    }

    // Runs this executable as the program (see main below): without a notification area, a start asked to hide
    // the window shows it all the same.
    void minimizedStartWithoutTrayShowsTheWindow()
    {
        Folders folders;
        QCOMPARE(QProcess::execute(QCoreApplication::applicationFilePath(), {"--minimized"}), 0);
    }
};

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (app.arguments().value(1) == "--priorities") { // the option shown after choosing each in turn
        Form1 form;
        for (const char* chosen : {"PriorityRealtime", "PriorityHigh", "PriorityLow", "PriorityNormal"}) {
            click(&form, chosen);
            for (const QRadioButton* option : form.findChildren<QRadioButton*>())
                printf("%s", option->isChecked() ? qPrintable(option->objectName() + " ") : "");
        }
        return 0;
    }
    if (app.arguments().value(1) == "--minimized") {
        QTimer::singleShot(200, [] {
            const QWidgetList windows = QApplication::topLevelWidgets();
            const bool shown = std::any_of(windows.begin(), windows.end(), [](QWidget* window) {
                return qobject_cast<Form1*>(window) && window->isVisible();
            });
            QCoreApplication::exit(shown ? 0 : 3);
        });
        return RunProgram(app, true);
    }
    TestWindow test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_window.moc"
