#include "DialogDriver.h"
#include "Mp3Fixture.h"
#include "TestSupport.h"

#include "config/Options.h"
#include "config/SettingsStore.h"
#include "config/advanced.h"
#include "engine/History.h"
#include "engine/processor.h"
#include "window/ErrorNotices.h"
#include "window/FilledCircle.h"
#include "window/Form1.h"
#include "window/ProcessPriority.h"
#include "window/Program.h"
#include "window/StatusDisplay.h"

#include <QDBusConnection>
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

// Whether Start and Stop are enabled, in the window and in the tray menu, and the light is green.
QList<bool> switchShown(const Form1& form)
{
    return {control<QWidget>(&form, "cmdstart")->isEnabled(), form.findChild<QAction*>("mStart")->isEnabled(),
            control<QWidget>(&form, "cmdStop")->isEnabled(), form.findChild<QAction*>("mStop")->isEnabled(),
            control<FilledCircle>(&form, "shpLight")->fillColor() == QColor(0, 255, 0)};
}
const QList<bool> kOn{false, false, true, true, true}, kOff{true, true, false, false, false};

// The controls of `window` whose caption is cut, or that overlap another control.
QStringList cutOrOverlapping(const QWidget* window)
{
    QWidgetList controls = window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    controls.removeIf([](const QWidget* control) { return !control->isVisible(); });
    QStringList faults;
    for (const QWidget* control : controls) {
        const auto* label = qobject_cast<const QLabel*>(control);
        if (label ? (label->wordWrap()
                         ? label->height() < label->heightForWidth(label->width())
                         : label->contentsRect().width() < label->fontMetrics().horizontalAdvance(label->text()))
                  : control->width() < control->minimumSizeHint().width())
            faults << control->objectName() + " cut";
        for (const QWidget* other : controls)
            if (other != control && control->geometry().intersects(other->geometry()))
                faults << control->objectName() + " on " + other->objectName();
    }
    return faults;
}

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

// Stands for the desktop's notification service: answers Notify with the summary and the body.
class NotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QString received;

public slots:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body, const QStringList&,
                const QVariantMap&, int)
    {
        received = summary + ": " + body;
        return 1;
    }
};

class TestWindow : public QObject {
    Q_OBJECT

signals:
    void urlOpened(const QUrl& url);

public slots:
    void openUrl(const QUrl& url) { emit urlOpened(url); }

private slots:
    void init()
    {
        TestSupport::clearSettings();
        QFile::remove(History().filePath());
    }

    // Every start also puts the process back at the normal priority, every thread of it. An ordinary account could not
    // leave Low again, and the tests after this one run at Normal: there the steps through Low are left out.
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

    void windowsFitTheFont_data()
    {
        QTest::addColumn<int>("points");
        QTest::newRow("DejaVu Sans 9") << 9;
        QTest::newRow("DejaVu Sans 12") << 12;
    }

    // Every caption whole and no control on another, in the window and both dialogs; the status line and the list grow
    // with the window, whose size comes back at the next start. A status line too long to show is cut with an
    // ellipsis and whole in its tooltip. Each control is named for screen readers; the bars say what they show.
    void windowsFitTheFont()
    {
        QFETCH(int, points);
        const QFont font = QApplication::font();
        QApplication::setFont(QFont("DejaVu Sans", points));
        const auto restoreFont = qScopeGuard([&] { QApplication::setFont(font); });
        Folders folders("False");
        auto form = std::make_unique<Form1>();
        form->findChild<QTimer*>("Timer")->stop();
        form->show();
        Options options(*form->process);
        options.show();
        advanced format(*form->process);
        format.show();
        for (const QWidget* window : QWidgetList{form.get(), &options, &format})
            QCOMPARE(cutOrOverlapping(window).join(", "), QString());
        auto* list = control<QListWidget>(form.get(), "lstInboxFiles");
        auto* status = form->findChild<StatusLine*>("txtstatus");
        const QSize listSize = list->size(), statusSize = status->size(), bigger = form->size() + QSize(60, 40);
        form->resize(bigger);
        QTRY_COMPARE(list->size(), listSize + QSize(60, 40));
        QCOMPARE(status->width(), statusSize.width() + 60);

        const QString whole =
            "Cannot file " + QString(60, 'x') + ".mp3: Invalid file format. Moved to the errors folder.";
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

        QStringList opened; // the desktop's file manager is asked to show each folder
        QDesktopServices::setUrlHandler("file", this, "openUrl");
        connect(this, &TestWindow::urlOpened, form.get(), [&](const QUrl& url) { opened << url.toLocalFile(); });
        click(form.get(), "cmdOpenOutbox");
        form->findChild<QAction*>("mOpenErrors")->trigger();
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(opened, QStringList({folders.outbox + "/", folders.errors + "/"}));

        form->close();
        form = std::make_unique<Form1>();
        QCOMPARE(form->size(), bigger);
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

    // As an ordinary account, the system refuses Realtime and High and keeps Low once chosen: the options and the
    // status line say so.
    void priorityOptionsShowTheLevelInForce()
    {
        SetProcessPriority(ProcessPriority::Normal);
        QCOMPARE(TestSupport::outputAsOrdinaryAccount({qApp->applicationFilePath(), "--priorities"}),
                 "PriorityNormal Realtime needs administrator rights; the program stays at Normal.\n"
                 "PriorityNormal High needs administrator rights; the program stays at Normal.\n"
                 "PriorityLow \n"
                 "PriorityLow Normal needs administrator rights; the program stays at Low.");
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
        QCOMPARE(tick(form).first(), "Idle... | 6 6 0 0"); // held until they have not changed for 2 seconds
        QTest::qWait(2100);
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
            connect(bar, &QProgressBar::valueChanged, [&seen, bar] { seen << bar->text(); });
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
        QCOMPARE(backlog, QStringList({"0 of 6 files", "1 of 6 files", "2 of 6 files", "3 of 6 files", "4 of 6 files",
                                       "5 of 6 files", "6 of 6 files"}));
        QCOMPARE(copy, QStringList({"1.mp3: 0 %"}));
        for (const char* bar : {"progressbar", "progtotal", "peakbar"})
            QCOMPARE(control<QProgressBar>(&form, bar)->text(), QString());
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
    // after High was chosen, runs at that level.
    void stopDuringALongCopy()
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
        QCOMPARE(levelsOfEveryThread(), Levels({{SCHED_OTHER, ::geteuid() == 0 ? -10 : 0}})); // High needs root
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
    }

    // A file filed just as the window closes, before its outcome reached the window, still gets its history line,
    // with the name it was filed under. The filing thread is stuck after it (in a write to a hung disk): the window
    // closes within 5 seconds all the same.
    void fileFiledAsTheWindowClosesIsInTheHistory()
    {
        Folders folders;
        SettingsStore::write(Setting::FileNameFormat, "%t - %s");
        QVERIFY(Mp3Fixture::write(folders.inbox + "/last.mp3", "A", "B", "Song", 1));
        QTest::qWait(2100); // a file is taken once it has not changed for 2 seconds
        Form1 form;
        form.main();
        while (QFileInfo::exists(folders.inbox + "/last.mp3")) // no event is handled meanwhile
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
                    .contains("\tfiled\tlast.mp3\t" + folders.outbox.toUtf8() + "/A/B/01 - Song.mp3\n"));
    }

    // A writer that opens, appends and closes in bursts, a second or so apart, gets its file filed whole, once.
    void burstWriterIsFiledWhole()
    {
        Folders folders;
        Form1 form;
        const QByteArray song = Mp3Fixture::build({"A", "B", "Song", "1"}, Mp3Fixture::Tag::Id3v23, 40);
        QFile file(folders.inbox + "/append.mp3");
        for (int burst = 0; burst < 4; ++burst, QTest::qWait(1200)) {
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
            const qsizetype part = song.size() / 4;
            file.write(song.mid(burst * part, burst == 3 ? -1 : part));
            file.close();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(file.fileName()), 10000);
        QCOMPARE(TestSupport::readFile(folders.outbox + "/A/B/append.mp3"), song);
        QCOMPARE(QDir(folders.outbox).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{"A"});
    }

    void unremovableFileIsSetAside_data()
    {
        QTest::addColumn<QString>("why");
        QTest::addColumn<int>("held"); // a name in the way holds every file
        QTest::newRow("immutable") << "it is immutable" << 1;
        QTest::newRow("a name in the way") << ".tovrel-removing in the inbox is in the way" << 2;
    }

    // A file copied but not removable from the inbox is set aside: named once, recorded once, counted as held; the
    // file behind it is filed.
    void unremovableFileIsSetAside()
    {
        QFETCH(QString, why);
        Folders folders;
        const QString first = folders.inbox + "/a.mp3";
        QVERIFY(Mp3Fixture::write(first, "A", "B", "Song", 1));
        QVERIFY(Mp3Fixture::write(folders.inbox + "/b.mp3", "A", "B", "Other", 2));
        const auto undo = qScopeGuard([&] { QProcess::execute("chattr", {"-i", first}); });
        if (why == "it is immutable" && QProcess::execute("chattr", {"+i", first}) != 0)
            QSKIP("needs root and a file system with immutable files");
        if (why != "it is immutable") { // the hidden folder's name and the one that stands in for it
            TestSupport::writeFile(folders.inbox + "/.tovrel-removing", "stale");
            TestSupport::writeFile(folders.inbox + "/.tovrel-removing-" + QString::number(::geteuid()), "stale");
        }
        QTest::qWait(2100);
        Form1 form;
        QCOMPARE(filingStep(form),
                 "a.mp3 was filed, but it could not be removed from the inbox (" + why + "), so it is left alone.");
        filingStep(form);
        QVERIFY(QFileInfo::exists(folders.outbox + "/A/B/b.mp3"));
        for (int step = 0; step < 3; ++step)
            filingStep(form);
        QFETCH(int, held);
        QCOMPARE(tick(form).first(),
                 QString("Cannot Process files yet.  a.mp3 cannot be removed from the inbox (%1), so "
                         "it is left alone. | %2 %2 0 0")
                     .arg(why)
                     .arg(held));
        QCOMPARE(TestSupport::readFile(History().filePath()).count("\ta.mp3\t"), 1);
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
        QTest::qWait(2100); // taken once they have not changed for 2 seconds

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
                 "Valdrome Kestu Tovrel: 2 files could not be filed; they are in the errors folder.");
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
    if (app.arguments().value(1) == "--priorities") { // the option and the status shown after choosing each in turn
        Form1 form;
        for (const char* chosen : {"PriorityRealtime", "PriorityHigh", "PriorityLow", "PriorityNormal"}) {
            control(&form, "txtstatus")->clear();
            click(&form, chosen);
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
        (void)QTest::qWaitFor([&] { return !service.received.isEmpty(); }, 5000);
        printf("%s", qPrintable(service.received));
        return 0;
    }
    TestWindow test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_window.moc"
