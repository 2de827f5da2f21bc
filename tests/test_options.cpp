#include "DialogDriver.h"
#include "Mp3Fixture.h"
#include "TestSupport.h"

#include "config/Autostart.h"
#include "config/DefaultFolders.h"
#include "config/Options.h"
#include "config/SettingsStore.h"
#include "config/StoredSettings.h"
#include "config/advanced.h"
#include "engine/FileInHand.h"
#include "engine/processor.h"

#include <QtTest>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace DialogDriver;

// The three folder texts, after setting them to `texts` when given.
static QStringList folders(const QWidget* dialog, const QStringList& texts = {})
{
    QStringList shown;
    for (const char* name : {"txtinboxpath", "txtoutboxpath", "txtErrorsPath"}) {
        if (!texts.isEmpty())
            control(dialog, name)->setText(texts.at(shown.size()));
        shown << control(dialog, name)->text();
    }
    return shown;
}

class TestOptions : public QObject {
    Q_OBJECT

private slots:
    void init() { TestSupport::clearSettings(); }

    // A write replaces every letter case of its key and leaves lines written by hand (single backslashes) as they were.
    void writeKeepsLinesWrittenByHand()
    {
        TestSupport::writeFile(SettingsStore::filePath(), "[Advanced]\nfileformat=%aa\\%al\\Disc %d\n; mine\n\n"
                                                          "[STARTUP]\nInboxPath=/old/one\nINBOXPATH=/old/two\n");
        const QString odd = "@a,b=\\c\"d ";
        QVERIFY(SettingsStore::write(Setting::FileNameFormat, odd) &&
                SettingsStore::write(Setting::WindowGeometry, "x") &&
                SettingsStore::write(Setting::InboxPath, "/in\r\n[Startup]\rState=false"));
        QCOMPARE(TestSupport::readFile(SettingsStore::filePath()), // a value is one line: it cannot start another key
                 "[Advanced]\nfileformat=%aa\\%al\\Disc %d\n; mine\nFileNameFormat=\"@@a,b=\\\\c\\\"d \"\n\n"
                 "[STARTUP]\ninboxpath=\"/in[Startup]State=false\"\n\n[Window]\nGeometry=x\n");
        QCOMPARE(SettingsStore::read(Setting::FileFormat), "%aa\\%al\\Disc %d");
        QCOMPARE(SettingsStore::readAsDialog(Setting::InboxPath), "/in[Startup]State=false");
        QCOMPARE(SettingsStore::read(Setting::FileNameFormat), odd);
        const QSettings qt(SettingsStore::filePath(), QSettings::IniFormat); // Qt's reader reads them the same
        QCOMPARE(qt.value("Advanced/FileNameFormat"), odd);
        QCOMPARE(qt.value("STARTUP/inboxpath"), "/in[Startup]State=false");
    }

    // The folders are beside a program run where it was built, in the music folder for one installed (bin by share).
    void defaultsRefusalChooserCancelAndOk()
    {
        QTemporaryDir root;
        const QString bin = root.filePath("bin"),
                      userDirs = qEnvironmentVariable("XDG_CONFIG_HOME") + "/user-dirs.dirs";
        QVERIFY(QDir().mkpath(bin));
        QCOMPARE(DefaultFolders::baseFor(bin), bin);
        TestSupport::writeFile(root.filePath("share/applications/tovrel.desktop"));
        QCOMPARE(DefaultFolders::baseFor(bin), QDir::homePath() + "/Music/Tovrel");
        TestSupport::writeFile(userDirs, "XDG_MUSIC_DIR=\"$HOME/Songs\"\n");
        QCOMPARE(DefaultFolders::baseFor(bin), QDir::homePath() + "/Songs/Tovrel");
        QFile::remove(userDirs);
        // Defaults shown; a folder in two boxes refused; the chooser, titled after its box, opens at the nearest folder
        // that exists, fills its box once accepted; Cancel writes nothing; stored values shown, OK writes as typed.
        const ServiceSettings settings;
        const QString dir = QCoreApplication::applicationDirPath(), temp = QDir::tempPath();
        Options empty(settings);
        empty.show();
        QCOMPARE(folders(&empty), QStringList({dir + "/inbox", dir + "/outbox", dir + "/errors"}));
        QVERIFY(control<QRadioButton>(&empty, "optStarted")->isChecked());
        QStringList seen;
        whenModalsOpen({[&](QWidget* message) { seen << answerMessage(message); },
                        [&](QWidget* chooser) {
                            seen << chooser->windowTitle() + " " +
                                        qobject_cast<QFileDialog*>(chooser)->directory().path();
                            qobject_cast<QDialog*>(chooser)->accept();
                        },
                        [](QWidget* chooser) { qobject_cast<QDialog*>(chooser)->reject(); }});
        folders(&empty, {temp + "/no/such", "/m/", "/m"});
        for (const char* button : {"cmdOK", "cmdinbrowse", "cmdErrorBrowse"})
            click(&empty, button);
        QCOMPARE(seen, QStringList({"Can't have the same path for two locations. | Valdrome Kestu Tovrel",
                                    "Inbox Path " + temp}));
        QCOMPARE(folders(&empty), QStringList({temp, "/m/", "/m"}));
        click(&empty, "cmdCancel");
        QVERIFY(!QFile::exists(SettingsStore::filePath()));
        TestSupport::writeFile(SettingsStore::filePath(), "[Startup]\nstate=fAlSe\nINBOXPATH=/music/in\n");
        Options dialog(settings);
        QVERIFY(control<QRadioButton>(&dialog, "OptStopped")->isChecked());
        QCOMPARE(folders(&dialog).first(), QStringLiteral("/music/in"));
        folders(&dialog, {"/a/In", "/a/in", " /a/errors/ "}); // letter case makes different folders, spaces too
        click(&dialog, "cmdOK");
        QCOMPARE(TestSupport::readFile(SettingsStore::filePath()),
                 "[Startup]\nState=False\ninboxpath=/a/In\noutboxpath=/a/in\nerrorspath=\" /a/errors/ \"\n");
        QCOMPARE(SettingsStore::read(Setting::ErrorsPath), " /a/errors/ "); // as the next start reads it
        QCOMPARE(folders(std::make_unique<Options>(settings).get()).last(), " /a/errors/ ");
    }

    // The folder format typed in Advanced (Options then cancelled) or written by hand: its line, and the format used.
    void folderFormatForms_data()
    {
        QTest::addColumn<QString>("typed"); // "by hand": written into the file
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("format");
        const auto row = [](const char* tag, const char* typed, const char* line, const char* format) {
            QTest::newRow(tag) << typed << line << format;
        };
        row("typed, cleaned", "%ar\\?*:><\"%al/%t - %s", "FileFormat=%ar\\\\%al\\\\%t - %s", "%ar\\%al\\%t - %s");
        row("typed, quoted", "%ar; %al", "FileFormat=\"%ar; %al\"", "%ar; %al");
        row("typed @", "@%ar", "FileFormat=@@%ar", "@%ar");
        row("typed empty", "", "FileFormat=", "");
        row("by hand, doubled", "by hand", "fileformat = %ar\\\\%al\\%t - %s", "%ar\\%al\\%t - %s");
        row("by hand, quoted", "by hand", "FileFormat=\"%ar\\\\%al\"", "%ar\\%al");
    }
    void folderFormatForms()
    {
        QFETCH(QString, typed);
        QFETCH(QString, line);
        const ServiceSettings settings;
        const QByteArray file = "[Advanced]\n" + line.toUtf8() + "\n";
        if (typed == "by hand") {
            TestSupport::writeFile(SettingsStore::filePath(), file);
        } else {
            Options options(settings);
            whenModalsOpen({[&](QWidget* advanced) {
                control(advanced, "txtFileFormat")->setText(typed);
                click(advanced, "cmdOK");
            }});
            click(&options, "cmdadvanced");
            click(&options, "cmdCancel");
            QCOMPARE(TestSupport::readFile(SettingsStore::filePath()), file + "FileNameFormat=\n");
        }
        QTEST(StoredSettings::read().folderFormat, "format");
        QTEST(control(std::make_unique<advanced>(settings).get(), "txtFileFormat")->text(), "format");
    }

    // The preview, read off the window's thread: the example song for an empty inbox, else the first three files, each
    // where the filing puts it, and the errors folder for a file an earlier run stopped on or that stops the reader.
    void previewShowsWhereTheFilingPutsEachFile()
    {
        QTemporaryDir dir;
        const QString inbox = dir.filePath("inbox/");
        ServiceSettings settings;
        settings.inbox = inbox;
        settings.outbox = dir.filePath("outbox/");
        QVERIFY(QDir().mkpath(inbox) && QDir().mkpath(dir.filePath("outbox")));
        const auto previewOf = [](advanced& dialog) {
            QLabel* preview = control<QLabel>(&dialog, "lblPreview");
            return QTest::qWaitFor([&] { return !preview->text().startsWith("Reading"); }) ? preview->text()
                                                                                           : QString();
        };
        QCOMPARE(previewOf(*std::make_unique<advanced>(settings)),
                 "example.mp3 (an example song) → Example Band/First Light/example.mp3");
        for (const char* name : {"d.mp3", "B/b.mp3"}) // a song in a folder among them
            TestSupport::writeFile(inbox + name, Mp3Fixture::build({"Other", "", "Song", "1"}));
        TestSupport::writeFile(inbox + "c.m4a", Mp3Fixture::nestedAtoms(300000)); // takes the tag reader down
        TestSupport::writeFile(inbox + "a.mp3",
                               Mp3Fixture::build({"A", "Hits", "Intro", "3", {"TPE2=V", "TPOS=1/2", "TDRC=2003"}}));
        FileInHand crashed; // a run ended while it read B/b.mp3: the note outlives the reads of other files
        const int fd = ::open(QFile::encodeName(inbox + "B/b.mp3"), O_RDONLY);
        crashed.take(inbox, "B/b.mp3", fd);
        crashed.keepWhatStopped();
        advanced dialog(settings);
        control(&dialog, "txtFileFormat")->setText("%aa/%al\\Disc %d\\%y %x");
        control(&dialog, "txtFileNameFormat")->setText("%t - %s");
        QCOMPARE(control<QLabel>(&dialog, "lblUnknown")->text(), "%x is not a token; it is kept as text");
        const QStringList lines = previewOf(dialog).split('\n');
        QCOMPARE(lines, QStringList({"a.mp3 → V/Hits/Disc 1/2003 %x/03 - Intro.mp3",
                                     "B/b.mp3 → the errors folder (The tag reader stopped on this file)",
                                     "c.m4a → the errors folder (The tag reader stopped on this file)"}));
        click(&dialog, "cmdOK");
        QCOMPARE(SettingsStore::read(Setting::FileNameFormat), "%t - %s");
        processor process;
        process.setInboxpath(inbox);
        process.setOutboxpath(dir.filePath("outbox/"));
        process.setFormats(StoredSettings::read().folderFormat, StoredSettings::read().fileNameFormat);
        process.setCurrentinfile("a.mp3");
        const MoveResult moved = process.process();
        QCOMPARE(moved.folder + moved.name, dir.filePath("outbox/") + lines.first().section(" → ", 1));
        process.setCurrentinfile("B/b.mp3");
        QCOMPARE(TestSupport::failureOf([&] { process.process(); }).description(),
                 "The tag reader stopped on this file");
        struct stat stopped;
        QVERIFY(::fstat(fd, &stopped) == 0);
        crashed.forget(stopped);
        ::close(fd);
    }

    // One folder given twice, or one inside another, however written: refused with a message naming the two.
    void sameFolderUnderAnySpelling_data()
    {
        QTest::addColumn<QStringList>("paths"); // under a temporary folder holding "box" and "link" to it
        QTest::addColumn<QString>("conflict");  // "%1" stands for the temporary folder
        const QString same = "Can't have the same path for two locations.";
        QTest::newRow("dot-dot and dot") << QStringList{"box", "x/../e", "./e"} << same;
        QTest::newRow("symbolic link") << QStringList{"e", "box", "link"} << same;
        QTest::newRow("missing folders") << QStringList{"new/a", "new/./a//", "e"} << same;
        QTest::newRow("link, then missing") << QStringList{"link/sub", "e", "box/sub/"} << same;
        QTest::newRow("home folder") << QStringList{"~/box", "e", QDir::homePath() + "/box"} << same;
        QTest::newRow("outbox inside the inbox")
            << QStringList{"box", "link/Library/", "e"}
            << "Can't have one location inside another: the outbox %1/link/Library/ is inside the inbox %1/box.";
        QTest::newRow("inbox inside the errors folder") << QStringList{"box/sub/..//in", "o", "box"}
                                                        << "Can't have one location inside another: the inbox "
                                                           "%1/box/sub/..//in is inside the errors folder %1/box.";
        QTest::newRow("all different") << QStringList{"box", "Box", "boxes"} << "";
    }
    void sameFolderUnderAnySpelling()
    {
        QFETCH(QStringList, paths);
        QFETCH(QString, conflict);
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkdir("box") && QFile::link(root.filePath("box"), root.filePath("link")));
        for (QString& path : paths)
            path = path.startsWith('~') ? path : QDir(root.path()).filePath(path);
        QCOMPARE(StoredSettings::folderConflict(paths[0], paths[1], paths[2]), conflict.replace("%1", root.path()));
    }

    // A read-only settings folder: a message, the dialog stays open with its values, and nothing is stored.
    void unwritableSettingsFolderIsReported()
    {
        const QString folder = QFileInfo(SettingsStore::filePath()).absolutePath();
        if (::geteuid() != 0 || !QDir().mkpath(folder) ||
            ::mount("tmpfs", QFile::encodeName(folder), "tmpfs", MS_RDONLY, "") != 0)
            QSKIP("needs root to mount a read-only folder");
        const auto unmount = qScopeGuard([&] { ::umount(QFile::encodeName(folder)); });
        const ServiceSettings settings;
        Options dialog(settings);
        dialog.show();
        const QStringList typed = folders(&dialog, {"/m/in", "/m/out", "/m/errors"});
        QStringList seen;
        whenModalsOpen({[&](QWidget* message) { seen << answerMessage(message); }});
        click(&dialog, "cmdOK");
        QCOMPARE(seen, QStringList("The settings could not be saved: " + SettingsStore::filePath() +
                                   " cannot be written. | Valdrome Kestu Tovrel"));
        QVERIFY(dialog.isVisible() && !QFile::exists(SettingsStore::filePath()));
        QCOMPARE(folders(&dialog), typed);
    }

    // OK makes or removes the login entry as the box says, Cancel leaves it; one that cannot be made is said.
    void startAtLoginFollowsTheCheckBoxOnOk()
    {
        const ServiceSettings settings;
        const QString entry = Autostart::filePath(), folder = QFileInfo(entry).absolutePath();
        QCOMPARE(entry, qEnvironmentVariable("XDG_CONFIG_HOME") + "/autostart/tovrel.desktop");
        Autostart::setEnabled(true);
        for (int step = 0; step < 4; ++step) { // Cancel, then OK, with the box cleared; the same with it ticked
            const bool wanted = step >= 2, ok = step % 2;
            Options dialog(settings);
            QCOMPARE(control<QCheckBox>(&dialog, "chkAutostart")->isChecked(), !wanted);
            control<QCheckBox>(&dialog, "chkAutostart")->setChecked(wanted);
            click(&dialog, ok ? "cmdOK" : "cmdCancel");
            QCOMPARE(QFileInfo::exists(entry), ok == wanted);
        }
        // Desktop entries read Exec as quoted arguments with their own escapes.
        QCOMPARE(Autostart::execLine("/usr/bin/tovrel"), "/usr/bin/tovrel --minimized");
        QCOMPARE(Autostart::execLine("/My Music/b$c\\d\"e%f"), "\"/My Music/b\\\\$c\\\\\\\\d\\\\\"e%%f\" --minimized");
        QVERIFY(TestSupport::readFile(entry).contains(
            "\nExec=" + Autostart::execLine(QCoreApplication::applicationFilePath()).toUtf8() + "\n"));
        if (const QString validator = QStandardPaths::findExecutable("desktop-file-validate"); !validator.isEmpty())
            QCOMPARE(QProcess::execute(validator, {entry}), 0);
        TestSupport::clearSettings();
        QDir(folder).removeRecursively();
        TestSupport::writeFile(folder, "a file where the folder should be");
        const auto removeFile = qScopeGuard([&] { QFile::remove(folder); });
        Options dialog(settings);
        dialog.show();
        control<QCheckBox>(&dialog, "chkAutostart")->setChecked(true);
        QString seen;
        whenModalsOpen({[&](QWidget* message) { seen = answerMessage(message); }});
        click(&dialog, "cmdOK");
        QCOMPARE(seen, "Cannot change the start at login (File already exists): " + entry + " | Valdrome Kestu Tovrel");
        QVERIFY(dialog.isVisible() && !QFile::exists(SettingsStore::filePath()));
    }
};

QTEST_MAIN(TestOptions)
#include "test_options.moc"
