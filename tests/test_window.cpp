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
#include <sys/resource.h>
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

// One polling step that waits until the file it handed over, if any, has been filed; the status line then.
QString filingStep(Form1& form)
{
    tick(form);
    if (!QTest::qWaitFor([&] { return !form.process->processing(); }, 60000))
        return QStringLiteral("still filing");
    return control(&form, "txtstatus")->text();
}

// Whether Start and Stop are enabled and the light is green.
QList<bool> switchShown(const Form1& form)
{
    return {control<QWidget>(&form, "cmdstart")->isEnabled(), control<QWidget>(&form, "cmdStop")->isEnabled(),
            control<FilledCircle>(&form, "shpLight")->fillColor() == QColor(0, 255, 0)};
}
const QList<bool> kOn{false, true, true}, kOff{true, false, false};

// The scheduling policy and nice value of every thread of this process, as the system reports them.
QSet<QPair<int, int>> levelsOfEveryThread()
{
    QSet<QPair<int, int>> levels;
    for (const QString& task : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        levels.insert({sched_getscheduler(task.toInt()), getpriority(PRIO_PROCESS, id_t(task.toInt()))});
    return levels;
}
using Levels = QSet<QPair<int, int>>;

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
        QCOMPARE(levelsOfEveryThread(), Levels({{SCHED_OTHER, 0}}));
        QTRY_COMPARE(control(&form, "txtInboxCount")->text(), QStringLiteral("0")); // the window's own timer
        click(&form, "PriorityLow");
        QCOMPARE(levelsOfEveryThread(), Levels({{SCHED_IDLE, 0}}));
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
        QCOMPARE(TestSupport::outputAsOrdinaryAccount({qApp->applicationFilePath(), "--priorities"}),
                 "PriorityNormal PriorityNormal PriorityLow PriorityLow");
    }

    // Service off: the inbox is shown, nothing filed. Once on, the backlog drains in name order at once, not one file
    // per tick (the timer is too slow to matter here); a file that cannot be filed goes to the errors folder on the
    // way, and the status line tells a duplicate and a file filed under another name; the history records each.
    // progtotal counts the files done of all, progressbar starts each file; both are empty once idle.
    void backlogDrainsInOrderWithAFailureInTheMiddle()
    {
        Folders folders("False");
        Form1 form;
        const QString header = "Files in " + folders.inbox + "/. . . .";
        QCOMPARE(tick(form), QStringList({"Idle... | 0 0 0 0", header}));
        QVERIFY(Mp3Fixture::write(folders.inbox + "/1.mp3", "Alpha", "First", "Song", 1));
        TestSupport::writeFile(folders.inbox + "/2.mp3", "not audio at all");
        QVERIFY(Mp3Fixture::write(folders.inbox + "/3.mp3", "Beta", "Second", "Song", 3));
        QVERIFY(Mp3Fixture::write(folders.inbox + "/4.mp3", "Beta", "Second", "Other", 4));
        const QByteArray song = Mp3Fixture::build({"Alpha", "First", "Again", "5"});
        TestSupport::writeFile(folders.inbox + "/5.mp3", song);
        TestSupport::writeFile(folders.outbox + "/Alpha/First/5.mp3", song);
        QVERIFY(Mp3Fixture::write(folders.inbox + "/6.mp3", "Beta", "Second", "Six", 6));
        TestSupport::writeFile(folders.outbox + "/Beta/Second/6.mp3", "another song");
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
        const auto record = [&](QStringList& seen, const char* name) {
            auto* bar = control<QProgressBar>(&form, name);
            connect(bar, &QProgressBar::valueChanged,
                    [&seen, bar](int value) { seen << QString("%1/%2").arg(value).arg(bar->maximum()); });
        };
        record(backlog, "progtotal");
        record(copy, "progressbar");
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
        QCOMPARE(backlog, QStringList({"0/6", "1/6", "2/6", "3/6", "4/6", "5/6", "6/6"}));
        QCOMPARE(copy, QStringList({"0/1000"}));
        for (const char* bar : {"progressbar", "progtotal", "peakbar"})
            QCOMPARE(control<QProgressBar>(&form, bar)->value(), -1);
        QCOMPARE(tick(form),
                 QStringList({"No music waiting; 1 other file is left alone. | 0 0 0 0", header, "notes.txt"}));
        QVERIFY(QDir(folders.inbox).mkdir("Scans"));
        QCOMPARE(tick(form), QStringList({"No music waiting; 2 other files are left alone. | 0 0 0 0", header,
                                          "notes.txt", "Scans"}));
        QVERIFY(QFile::remove(folders.inbox + "/notes.txt"));
        QCOMPARE(tick(form), QStringList({"No music waiting; 1 other file is left alone. | 0 0 0 0", header, "Scans"}));
        QCOMPARE(TestSupport::readFile(folders.errors + "/Invalid file format/2.mp3"), QByteArray("not audio at all"));
        QStringList history;
        for (const QString& line : QString::fromUtf8(TestSupport::readFile(History().filePath())).split('\n'))
            history << line.section('\t', 1);
        const QString first = folders.outbox + "/Alpha/First/", second = folders.outbox + "/Beta/Second/";
        QCOMPARE(
            history,
            QStringList({"filed\t1.mp3\t" + first + "1.mp3",
                         "error\t2.mp3\t" + folders.errors + "/Invalid file format/2.mp3 (Invalid file format)",
                         "filed\t3.mp3\t" + second + "3.mp3", "filed\t4.mp3\t" + second + "4.mp3",
                         "duplicate\t5.mp3\tsame as " + first + "5.mp3", "filed\t6.mp3\t" + second + "6 (2).mp3", ""}));
    }

    // During a long copy the window answers at once and shows the copy's progress; Stop shows at once, the file in
    // hand is finished and no other starts; the selected row of the list stays selected. The filing thread, started
    // after High was chosen, runs at that level. Closing during a copy abandons it: no temporary file, the inbox file
    // whole.
    void stopAndCloseDuringALongCopy()
    {
        Folders folders;
        const qint64 size = qint64(1) << 30;
        QVERIFY(Mp3Fixture::writeLarge(folders.inbox + "/big.mp3", {"A", "B", "Big", "1"}, size));
        QVERIFY(Mp3Fixture::write(folders.inbox + "/small.mp3", "A", "B", "Small", 2));
        Form1 form;
        click(&form, "PriorityHigh");
        auto* copy = control<QProgressBar>(&form, "progressbar");
        form.main();
        auto* list = control<QListWidget>(&form, "lstInboxFiles");
        list->setCurrentRow(2); // only the rows that change are touched: the same row stays selected
        const QListWidgetItem* selected = list->currentItem();
        QTRY_VERIFY(copy->value() > 0);
        QCOMPARE(levelsOfEveryThread(), Levels({{SCHED_OTHER, -10}}));
        // A step during the copy starts nothing, and the file in hand does not count as held by another program.
        QCOMPARE(tick(form).first(), "Processing big.mp3 | 2 0 0 0");
        form.findChild<QTimer*>("Timer")->start();
        click(&form, "cmdStop");
        QCOMPARE(switchShown(form), kOff);
        QVERIFY(form.process->processing());
        QTRY_VERIFY_WITH_TIMEOUT(!form.process->processing(), 60000);
        QCOMPARE(QFileInfo(folders.outbox + "/A/B/big.mp3").size(), size);
        QTRY_COMPARE(control(&form, "txtstatus")->text(), "Idle..."); // the next tick starts nothing
        QCOMPARE(copy->value(), -1);
        QVERIFY(QFileInfo::exists(folders.inbox + "/small.mp3"));
        QCOMPARE(list->selectedItems(), QList<QListWidgetItem*>{list->item(1)});
        QCOMPARE(list->item(1), selected);
        click(&form, "PriorityNormal");

        QVERIFY(Mp3Fixture::writeLarge(folders.inbox + "/xbig.mp3", {"A", "C", "Big", "1"}, size * 2));
        click(&form, "cmdstart");
        form.main(); // small.mp3 first, then at once xbig.mp3
        QTRY_VERIFY(copy->value() > 0);
        QElapsedTimer closing;
        closing.start();
        form.close();
        QVERIFY(closing.elapsed() < 1000);
        QVERIFY(QDir(folders.outbox + "/.tovrel-partial").isEmpty() && QDir(folders.outbox + "/A/C").isEmpty());
        QCOMPARE(QFileInfo(folders.inbox + "/xbig.mp3").size(), size * 2);
        QVERIFY(QFileInfo::exists(folders.outbox + "/A/B/small.mp3"));
    }

    // A file filed just as the window closes, before its outcome reached the window, still gets its history line,
    // with the name it was filed under.
    void fileFiledAsTheWindowClosesIsInTheHistory()
    {
        Folders folders;
        SettingsStore::write(Setting::FileNameFormat, "%t - %s");
        QVERIFY(Mp3Fixture::write(folders.inbox + "/last.mp3", "A", "B", "Song", 1));
        Form1 form;
        form.main();
        while (QFileInfo::exists(folders.inbox + "/last.mp3")) // no event is handled meanwhile
            QThread::msleep(5);
        form.close();
        QVERIFY(TestSupport::readFile(History().filePath())
                    .contains("\tfiled\tlast.mp3\t" + folders.outbox.toUtf8() + "/A/B/01 - Song.mp3\n"));
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
        QCOMPARE(filingStep(form), status.arg(folders.root.path()));
        QCOMPARE(TestSupport::readFile(folders.inbox + "/1.mp3"), song);
        filingStep(form);
        QTEST(QFileInfo::exists(folders.outbox + "/Other/Album/2.mp3"), "othersFiled");

        QVERIFY(blocker == "file" ? QFile::remove(folders.outbox + "/Artist") : mountTmpfs(MS_REMOUNT, "nr_inodes=99"));
        for (int step = 0; step < 3; ++step)
            filingStep(form);
        QCOMPARE(QDir(folders.inbox).entryList(QDir::Files), QStringList());
        const QString filed = blocker == "read-only errors" ? folders.errors + "/Invalid file format/1.mp3"
                                                            : folders.outbox + "/Artist/Album/1.mp3";
        QCOMPARE(TestSupport::readFile(filed), song);
    }

    // Without a notification area, a start asked to hide the window shows it all the same. Runs last: the program
    // keeps the application open when its last window closes.
    void minimizedStartWithoutTrayShowsTheWindow()
    {
        Folders folders;
        bool shown = false;
        QTimer::singleShot(200, [&] {
            for (QWidget* window : QApplication::topLevelWidgets())
                if (auto* form = qobject_cast<Form1*>(window)) {
                    shown = form->isVisible();
                    form->close();
                }
        });
        QCOMPARE(RunProgram(*qApp, true), 0);
        QVERIFY(shown);
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
    TestWindow test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_window.moc"
