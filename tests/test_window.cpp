#include "DialogDriver.h"
#include "Mp3Fixture.h"
#include "TestSupport.h"

#include "config/SettingsStore.h"
#include "engine/processor.h"
#include "window/FilledCircle.h"
#include "window/Form1.h"
#include "window/ProcessPriority.h"
#include "window/Program.h"

#include <QAction>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

#include <sched.h>
#include <sys/resource.h>

using DialogDriver::control;
using DialogDriver::whenModalOpens;

namespace {

const QColor kGreen(0, 255, 0);
const QColor kRed(255, 0, 0);
const QString kRunAndClose = QStringLiteral("--run-and-close");
const QString kRunAndExit = QStringLiteral("--run-and-exit");

// Three folders under a temporary root, stored in the settings with the
// start-up state; the window creates the folders themselves.
struct Folders {
    explicit Folders(const QString& state = QStringLiteral("True"))
    {
        SettingsStore::write(Setting::State, state);
        SettingsStore::write(Setting::InboxPath, inbox);
        SettingsStore::write(Setting::OutboxPath, outbox);
        SettingsStore::write(Setting::ErrorsPath, errors);
    }
    QTemporaryDir root;
    const QString inbox = root.path() + "/inbox";
    const QString outbox = root.path() + "/outbox";
    const QString errors = root.path() + "/errors";
};

QString text(const Form1& form, const char* name)
{
    return control<QLineEdit>(&form, name)->text();
}

QStringList listing(const Form1& form)
{
    QStringList lines;
    const auto* list = control<QListWidget>(&form, "lstInboxFiles");
    for (int row = 0; row < list->count(); ++row)
        lines << list->item(row)->text();
    return lines;
}

QStringList counters(const Form1& form)
{
    return {text(form, "txtInboxCount"), text(form, "txtInboxLockCount"), text(form, "txtTooBigCount"),
            text(form, "txtOutboxLockCount")};
}

// Ticks are driven by the test: the window's own timer stays quiet.
void stopTicking(Form1& form)
{
    form.findChild<QTimer*>("Timer")->stop();
}

bool enabled(const Form1& form, const char* name)
{
    return control<QPushButton>(&form, name)->isEnabled();
}

// Start, Stop, config, the light and the window icon as the switch shows them.
void verifyShowsOn(const Form1& form, bool on)
{
    QCOMPARE(enabled(form, "cmdstart"), !on);
    QCOMPARE(enabled(form, "cmdStop"), on);
    QCOMPARE(enabled(form, "cmdConfig"), !on);
    QCOMPARE(control<FilledCircle>(&form, "shpLight")->fillColor(), on ? kGreen : kRed);
    QCOMPARE(form.windowIcon().pixmap(32, 32).toImage(), form.image(on ? 1 : 2).toImage());
}

bool writeSong(const QString& path, const QString& artist, const QString& album)
{
    return Mp3Fixture::write(path, artist, album, QStringLiteral("Song"), 1);
}

// The pixels of a picture that are mostly black: its letter.
QList<QPoint> letterPixels(const QPixmap& picture)
{
    const QImage image = picture.toImage();
    QList<QPoint> found;
    for (int y = 8; y < 24; ++y)
        for (int x = 8; x < 24; ++x)
            if (qMax(qRed(image.pixel(x, y)), qGreen(image.pixel(x, y))) < 128)
                found << QPoint(x, y);
    return found;
}

} // namespace

class TestWindow : public QObject {
    Q_OBJECT

private slots:
    void init() { TestSupport::clearSettings(); }

    void windowLayout()
    {
        Folders folders;
        Form1 form;
        QCOMPARE(form.windowTitle(), QStringLiteral("Valdrome Kestu Tovrel"));
        QCOMPARE(form.size(), QSize(335, 369));
        QCOMPARE(control<QListWidget>(&form, "lstInboxFiles")->geometry(), QRect(8, 176, 321, 184));
        QCOMPARE(control<QLineEdit>(&form, "txtOutboxLockCount")->geometry(), QRect(296, 32, 33, 19));
        QCOMPARE(control<FilledCircle>(&form, "shpLight")->geometry(), QRect(84, 9, 16, 16));
        QCOMPARE(control<QRadioButton>(&form, "PriorityLow")->geometry(), QRect(104, 48, 81, 17));
        QCOMPARE(control<QPushButton>(&form, "cmdConfig")->text(), QStringLiteral("config"));
        QCOMPARE(text(form, "txtstatus"), QString());
        QCOMPARE(counters(form), QStringList({"?", "?", "?", "?"}));
        QCOMPARE(DialogDriver::tabOrder(control<QPushButton>(&form, "cmdstart")),
                 QStringList({"cmdstart", "txtstatus", "cmdStop", "cmdConfig", "cmdForce", "txtInboxCount",
                              "txtInboxLockCount", "txtTooBigCount", "txtOutboxLockCount", "lstInboxFiles",
                              "PriorityRealtime", "PriorityHigh", "PriorityNormal", "PriorityLow"}));

        QVERIFY(control<QPushButton>(&form, "cmdForce")->isHidden());
        const auto* menu = form.findChild<QMenu*>("mService");
        QCOMPARE(menu->title(), QStringLiteral("Service"));
        QStringList items;
        for (const QAction* item : menu->actions())
            items << item->objectName() + "=" + item->text() + (item->isVisible() ? "" : " hidden");
        QCOMPARE(items, QStringList({"mShow=Show", "mStart=Start", "mStop=Stop", "MForce=Force hidden", "mExit=Exit"}));

        const auto* timer = form.findChild<QTimer*>("Timer");
        QCOMPARE(timer->interval(), 1000);
        QVERIFY(timer->isActive());
    }

    void images()
    {
        Folders folders;
        Form1 form;
        QCOMPARE(form.image(1).toImage().pixelColor(16, 16), kGreen);
        QCOMPARE(form.image(2).toImage().pixelColor(16, 16), kRed);
        for (int number = 1; number <= 16; ++number) {
            QCOMPARE(form.image(number).size(), QSize(32, 32));
            const bool green = number <= 2 ? number == 1 : number % 2 == 0;
            QCOMPARE(form.image(number).toImage().pixelColor(16, 4), green ? kGreen : kRed);
            QCOMPARE(letterPixels(form.image(number)).isEmpty(), number <= 2);
        }
        // Each pair bears one letter; the tray's pair (15, 16) has its own.
        QCOMPARE(letterPixels(form.image(15)), letterPixels(form.image(16)));
        QVERIFY(letterPixels(form.image(15)) != letterPixels(form.image(13)));
    }

    void emptyStoreCreatesTheDefaultFoldersAndStartsOn()
    {
        const QString programFolder = QCoreApplication::applicationDirPath();
        const QStringList names{"inbox", "outbox", "errors"};
        for (const QString& name : names)
            QDir(programFolder + "/" + name).removeRecursively();
        {
            Form1 form;
            QCOMPARE(form.process->inboxpath(), programFolder + "/inbox/");
            QCOMPARE(form.process->outboxpath(), programFolder + "/outbox/");
            QCOMPARE(form.process->errorspath(), programFolder + "/errors/");
            for (const QString& name : names)
                QVERIFY(QFileInfo(programFolder + "/" + name).isDir());
            QVERIFY(form.process->serviceon());
            verifyShowsOn(form, true);
            QVERIFY(!QFile::exists(SettingsStore::filePath()));
        }
        for (const QString& name : names)
            QDir(programFolder + "/" + name).removeRecursively();
    }

    void stateFalseStartsOff()
    {
        Folders folders("False");
        Form1 form;
        QVERIFY(!form.process->serviceon());
        verifyShowsOn(form, false);
    }

    void startAndStopCommands()
    {
        Folders folders;
        Form1 form;
        control<QPushButton>(&form, "cmdStop")->click();
        QVERIFY(!form.process->serviceon());
        verifyShowsOn(form, false);
        control<QPushButton>(&form, "cmdstart")->click();
        QVERIFY(form.process->serviceon());
        verifyShowsOn(form, true);
        form.findChild<QAction*>("mStop")->trigger();
        verifyShowsOn(form, false);
        form.findChild<QAction*>("mStart")->trigger();
        verifyShowsOn(form, true);
    }

    void foldersGetOneTrailingSlash_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::newRow("without") << "";
        QTest::newRow("with") << "/";
    }

    void foldersGetOneTrailingSlash()
    {
        QFETCH(QString, ending);
        Folders folders;
        SettingsStore::write(Setting::InboxPath, folders.inbox + ending);
        SettingsStore::write(Setting::OutboxPath, folders.outbox + ending);
        SettingsStore::write(Setting::ErrorsPath, folders.errors + ending);
        Form1 form;
        QCOMPARE(form.process->inboxpath(), folders.inbox + "/");
        QCOMPARE(form.process->outboxpath(), folders.outbox + "/");
        QCOMPARE(form.process->errorspath(), folders.errors + "/");
        QVERIFY(QFileInfo(folders.errors).isDir());
    }

    // The user is sent back to the Options dialog for as long as a folder
    // cannot be created: here once more after cancelling, then fixed.
    void folderWithoutParentLeadsToOptionsUntilFixed()
    {
        Folders folders;
        const QString unusable = folders.root.path() + "/missing/inbox";
        SettingsStore::write(Setting::InboxPath, unusable);
        QStringList seen;
        const auto answerMessage = [&](QWidget* message) {
            seen << qobject_cast<QMessageBox*>(message)->text() + " | " + message->windowTitle();
            qobject_cast<QMessageBox*>(message)->button(QMessageBox::Ok)->click();
        };
        DialogDriver::whenModalsOpen({answerMessage,
                                      [&](QWidget* options) {
                                          seen << control<QLineEdit>(options, "txtinboxpath")->text();
                                          control<QPushButton>(options, "cmdCancel")->click();
                                      },
                                      answerMessage,
                                      [&](QWidget* options) {
                                          control<QLineEdit>(options, "txtinboxpath")->setText(folders.inbox);
                                          control<QPushButton>(options, "cmdOK")->click();
                                      }});
        Form1 form;
        const QString message = "Directories are invalid, please reconfigure! | Valdrome Kestu Tovrel";
        QCOMPARE(seen, QStringList({message, unusable, message}));
        QCOMPARE(form.process->inboxpath(), folders.inbox + "/");
        QVERIFY(QFileInfo(folders.inbox).isDir());
        QVERIFY(!QFileInfo::exists(folders.root.path() + "/missing"));
        QVERIFY(form.process->serviceon());
        verifyShowsOn(form, true);
    }

    void statusLineListingAndCounters()
    {
        Folders folders("False");
        Form1 form;
        stopTicking(form);
        const QString header = "Files in " + folders.inbox + "/. . . .";
        form.main();
        QCOMPARE(text(form, "txtstatus"), QStringLiteral("Idle..."));
        QCOMPARE(listing(form), QStringList{header});
        QCOMPARE(counters(form), QStringList({"0", "0", "0", "0"}));

        TestSupport::writeFile(folders.inbox + "/b.mp3");
        TestSupport::writeFile(folders.inbox + "/A.MP3");
        TestSupport::writeFile(folders.inbox + "/notes.txt");
        TestSupport::HeldFile held("write", folders.inbox + "/b.mp3");
        QVERIFY(held.isHolding());
        form.main();
        QCOMPARE(text(form, "txtstatus"), QStringLiteral("Idle..."));
        QCOMPARE(listing(form), QStringList({header, "A.MP3", "b.mp3"}));
        QCOMPARE(counters(form), QStringList({"2", "1", "0", "0"}));

        form.process->setServiceon(true);
        QFile::remove(folders.inbox + "/A.MP3");
        form.main();
        QCOMPARE(text(form, "txtstatus"), QStringLiteral("Cannot Process files yet.  "));
        held.release();
        QFile::remove(folders.inbox + "/b.mp3");
        form.main();
        QCOMPARE(text(form, "txtstatus"), QStringLiteral("No files in inbox.  "));
        QCOMPARE(listing(form), QStringList{header});
    }

    void filesOneFilePerTick()
    {
        Folders folders;
        Form1 form;
        stopTicking(form);
        QVERIFY(writeSong(folders.inbox + "/1.mp3", "Alpha", "First"));
        QVERIFY(writeSong(folders.inbox + "/2.mp3", "Beta", "Second"));
        QVERIFY(writeSong(folders.inbox + "/3.mp3", "Alpha", "Third"));
        const QStringList destinations{"/Alpha/First/1.mp3", "/Beta/Second/2.mp3", "/Alpha/Third/3.mp3"};
        for (int tick = 1; tick <= 3; ++tick) {
            form.main();
            QCOMPARE(text(form, "txtstatus"), QStringLiteral("Processing %1.mp3").arg(tick));
            QCOMPARE(listing(form).size(), 1 + 3 - tick);
            QCOMPARE(text(form, "txtInboxCount"), QString::number(3 - tick));
            QVERIFY(QFile::exists(folders.outbox + destinations.at(tick - 1)));
        }
        form.main();
        QCOMPARE(text(form, "txtstatus"), QStringLiteral("No files in inbox.  "));
    }

    // The window's own timer drives the step: counters show "?" until the
    // first tick, a second later.
    void timerFilesWithoutHelp()
    {
        Folders folders;
        QVERIFY(writeSong(folders.inbox + "/song.mp3", "Gamma", "Live"));
        Form1 form;
        QCOMPARE(text(form, "txtInboxCount"), QStringLiteral("?"));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folders.outbox + "/Gamma/Live/song.mp3"), 5000);
        QCOMPARE(text(form, "txtstatus"), QStringLiteral("Processing song.mp3"));
        QCOMPARE(text(form, "txtInboxCount"), QStringLiteral("0"));
    }

    void failedFilingGoesToTheErrorsFolderAndFilingGoesOn()
    {
        Folders folders;
        Form1 form;
        stopTicking(form);
        TestSupport::writeFile(folders.inbox + "/bad.mp3", "not audio at all");
        QVERIFY(writeSong(folders.inbox + "/good.mp3", "Delta", "Rise"));
        form.main();
        QCOMPARE(text(form, "txtstatus"),
                 QStringLiteral("Cannot file bad.mp3: Invalid file format. Moved to the errors folder."));
        const QString filed = folders.errors + "/Invalid file format/bad.mp3";
        QCOMPARE(TestSupport::readFile(filed), QByteArray("not audio at all"));
        QVERIFY(TestSupport::readFile(filed + ".txt").startsWith(" 321 \r\nInvalid file format\r\n"));
        QCOMPARE(listing(form), QStringList({"Files in " + folders.inbox + "/. . . .", "good.mp3"}));
        QCOMPARE(text(form, "txtInboxCount"), QStringLiteral("1"));

        form.main();
        QCOMPARE(text(form, "txtstatus"), QStringLiteral("Processing good.mp3"));
        QVERIFY(QFile::exists(folders.outbox + "/Delta/Rise/good.mp3"));
    }

    void fileStaysInTheInboxWhenTheErrorFilingFailsToo()
    {
        Folders folders;
        Form1 form;
        stopTicking(form);
        QVERIFY(QDir(folders.errors).removeRecursively());
        TestSupport::writeFile(folders.inbox + "/bad.mp3", "not audio at all");
        for (int tick = 1; tick <= 2; ++tick) {
            form.main();
            QVERIFY2(text(form, "txtstatus")
                         .startsWith(QStringLiteral("Cannot file bad.mp3: Invalid file format. Left in the inbox: ")),
                     qPrintable(text(form, "txtstatus")));
            QCOMPARE(TestSupport::readFile(folders.inbox + "/bad.mp3"), QByteArray("not audio at all"));
            QCOMPARE(text(form, "txtInboxCount"), QStringLiteral("1"));
        }
    }

    void otherFailureInATickIsShownAndTheNextTickRuns()
    {
        Folders folders;
        Form1 form;
        stopTicking(form);
        QVERIFY(QDir(folders.inbox).removeRecursively());
        form.main();
        QCOMPARE(text(form, "txtstatus"), QStringLiteral("Error: Path not found"));

        QVERIFY(writeSong(folders.inbox + "/back.mp3", "Echo", "Again"));
        form.main();
        QCOMPARE(text(form, "txtstatus"), QStringLiteral("Processing back.mp3"));
        QCOMPARE(listing(form).size(), 1);
    }

    // The service rests while the dialog is open; afterwards the switch follows
    // the stored state and the light and buttons show it.
    void configureSwitchesOnAndShowsIt()
    {
        Folders folders("False");
        Form1 form;
        const QString newInbox = folders.root.path() + "/incoming";
        bool tickingInDialog = true;
        bool onInDialog = true;
        whenModalOpens([&](QWidget* options) {
            tickingInDialog = form.findChild<QTimer*>("Timer")->isActive();
            onInDialog = form.process->serviceon();
            control<QRadioButton>(options, "optStarted")->setChecked(true);
            control<QLineEdit>(options, "txtinboxpath")->setText(newInbox);
            control<QPushButton>(options, "cmdOK")->click();
        });
        control<QPushButton>(&form, "cmdConfig")->click();
        QVERIFY(!tickingInDialog);
        QVERIFY(!onInDialog);
        QVERIFY(form.process->serviceon());
        verifyShowsOn(form, true);
        QVERIFY(form.findChild<QTimer*>("Timer")->isActive());
        QCOMPARE(form.process->inboxpath(), newInbox + "/");
        QVERIFY(QFileInfo(newInbox).isDir());
    }

    void configureCancelledLeavesTheServiceOff()
    {
        Folders folders("False");
        Form1 form;
        whenModalOpens([](QWidget* options) { control<QPushButton>(options, "cmdCancel")->click(); });
        control<QPushButton>(&form, "cmdConfig")->click();
        QVERIFY(!form.process->serviceon());
        verifyShowsOn(form, false);
        QVERIFY(form.findChild<QTimer*>("Timer")->isActive());
    }

    // Every start puts the process back at the normal level, and the option
    // buttons move it.
    void priorityOptions()
    {
        Folders folders;
        SetProcessPriority(ProcessPriority::Low);
        Form1 form;
        QVERIFY(control<QRadioButton>(&form, "PriorityNormal")->isChecked());
        QCOMPARE(sched_getscheduler(0), SCHED_OTHER);
        QCOMPARE(getpriority(PRIO_PROCESS, 0), 0);
        control<QRadioButton>(&form, "PriorityLow")->click();
        QCOMPARE(sched_getscheduler(0), SCHED_IDLE);
        QVERIFY(!control<QRadioButton>(&form, "PriorityNormal")->isChecked());
        control<QRadioButton>(&form, "PriorityNormal")->click();
        QCOMPARE(sched_getscheduler(0), SCHED_OTHER);
    }

    // The offscreen platform has no notification area: there is no icon, and a
    // minimized window stays reachable; "Show" brings a hidden one back.
    void withoutNotificationAreaTheWindowStaysReachable()
    {
        Folders folders;
        Form1 form;
        form.show();
        QCOMPARE(form.ShellTrayAdd(), 0);
        form.setWindowState(Qt::WindowMinimized);
        QTest::qWait(50);
        QVERIFY(form.isVisible());
        form.hide();
        form.findChild<QAction*>("mShow")->trigger();
        QVERIFY(form.isVisible());
        QVERIFY(!form.isMinimized());
    }

    void exitClosesTheWindow()
    {
        Folders folders;
        Form1 form;
        form.show();
        form.findChild<QAction*>("mExit")->trigger();
        QVERIFY(form.isVisible()); // the close request is handled after the command
        QTRY_VERIFY(!form.isVisible());
        QVERIFY(form.isClosing());
        QVERIFY(!form.findChild<QTimer*>("Timer")->isActive());
    }

    // A close request while the Options dialog is open closes the dialog too,
    // and the window does not start polling again.
    void closingWithTheOptionsDialogOpen()
    {
        Folders folders("False");
        Form1 form;
        form.show();
        bool optionsClosed = false;
        whenModalOpens([&](QWidget* options) {
            form.close();
            optionsClosed = !options->isVisible();
        });
        control<QPushButton>(&form, "cmdConfig")->click();
        QVERIFY(optionsClosed);
        QVERIFY(!form.isVisible());
        QVERIFY(!form.findChild<QTimer*>("Timer")->isActive());
    }

    // Runs this executable as the program (see main below), whose window closes
    // itself once the program runs, by its close control or by "Exit": either
    // way the program must end with status 0.
    void closingTheWindowEndsTheProgram_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("close control") << kRunAndClose;
        QTest::newRow("Exit") << kRunAndExit;
    }

    void closingTheWindowEndsTheProgram()
    {
        QFETCH(QString, how);
        Folders folders;
        QProcess program;
        program.start(QCoreApplication::applicationFilePath(), {how});
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(QFileInfo(folders.outbox).isDir());
    }
};

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const bool byCloseControl = app.arguments().contains(kRunAndClose);
    if (byCloseControl || app.arguments().contains(kRunAndExit)) {
        QTimer::singleShot(200, [byCloseControl] {
            auto* form = qobject_cast<Form1*>(QApplication::activeWindow());
            if (byCloseControl)
                form->close();
            else
                form->findChild<QAction*>("mExit")->trigger();
        });
        return RunProgram(app);
    }
    TestWindow test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_window.moc"
