#include "DialogDriver.h"
#include "Mp3Fixture.h"
#include "TestSupport.h"

#include "config/Autostart.h"
#include "config/Options.h"
#include "config/SettingsStore.h"
#include "config/advanced.h"
#include "engine/processor.h"

#include <QtTest>

#include <sys/mount.h>
#include <unistd.h>

using namespace DialogDriver;

namespace {

// The three folder texts, after setting them to `texts` when given.
QStringList folders(const QWidget* dialog, const QStringList& texts = {})
{
    QStringList shown;
    for (const char* name : {"txtinboxpath", "txtoutboxpath", "txtErrorsPath"}) {
        if (!texts.isEmpty())
            control(dialog, name)->setText(texts.at(shown.size()));
        shown << control(dialog, name)->text();
    }
    return shown;
}

// The settings file's entries as "Section/Key=value", spelled as written.
QStringList stored()
{
    QSettings raw(SettingsStore::filePath(), QSettings::IniFormat);
    QStringList entries;
    for (const QString& key : raw.allKeys())
        entries << key + "=" + raw.value(key).toString();
    return entries;
}

} // namespace

class TestOptions : public QObject {
    Q_OBJECT

private slots:
    void init() { TestSupport::clearSettings(); }

    // Paths are compared exactly. The Advanced dialog applies its format itself, at once and for good; Cancel in
    // Options writes nothing.
    void emptyStoreDefaultsRefusalsChooserAdvancedAndCancel()
    {
        processor process;
        Options dialog(process);
        dialog.show();
        const QString dir = QCoreApplication::applicationDirPath();
        QCOMPARE(folders(&dialog), QStringList({dir + "/inbox", dir + "/outbox", dir + "/errors"}));
        QVERIFY(control<QRadioButton>(&dialog, "optStarted")->isChecked());
        QStringList seen;
        whenModalsOpen({[&](QWidget* message) { seen << answerMessage(message); }});
        folders(&dialog, {"/m/", "/m", "/m"}); // each pair of folders: sameFolderUnderAnySpelling
        click(&dialog, "cmdOK");
        QCOMPARE(seen, QStringList("Can't have the same path for two locations. | Valdrome Kestu Tovrel"));
        QString opened; // the chooser opens at the nearest folder that exists, titled after its box
        whenModalsOpen({[&](QWidget* chooser) {
            opened = chooser->windowTitle() + " " + static_cast<QFileDialog*>(chooser)->directory().path();
            static_cast<QDialog*>(chooser)->accept();
        }});
        control(&dialog, "txtinboxpath")->setText(QDir::tempPath() + "/no/such");
        click(&dialog, "cmdinbrowse");
        QCOMPARE(opened, "Inbox Path " + QDir::tempPath());
        whenModalsOpen({[](QWidget* chooser) { static_cast<QDialog*>(chooser)->reject(); }});
        click(&dialog, "cmdErrorBrowse");
        QCOMPARE(folders(&dialog), QStringList({QDir::tempPath(), "/m", "/m"}));
        click(&dialog, "cmdCancel");
        QVERIFY(!QFile::exists(SettingsStore::filePath()));
    }

    // The folder format as typed in Advanced (then Options cancelled: the format stays stored) or written into the
    // settings file by hand, the line in the file, and the format the filing and the dialog then use.
    void folderFormatForms_data()
    {
        QTest::addColumn<QString>("typed"); // "by hand": written into the file
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("format");
        const auto row = [](const char* tag, const char* typed, const char* line, const char* format) {
            QTest::newRow(tag) << typed << line << format;
        };
        row("typed /", "%ar/%al", "FileFormat=%ar\\\\%al", "%ar\\%al");
        row("typed, cleaned", "%ar\\?*:><\"%al/%t - %s", "FileFormat=%ar\\\\%al\\\\%t - %s", "%ar\\%al\\%t - %s");
        row("typed, quoted", "%ar; %al", "FileFormat=\"%ar; %al\"", "%ar; %al");
        row("typed @", "@%ar", "FileFormat=@@%ar", "@%ar");
        row("typed empty", "", "FileFormat=", "");
        row("by hand, single", "by hand", "FileFormat=%ar\\%al", "%ar\\%al");
        row("by hand, doubled", "by hand", "fileformat = %ar\\\\%al\\%t - %s", "%ar\\%al\\%t - %s");
        row("by hand, quoted", "by hand", "FileFormat=\"%ar\\\\%al\"", "%ar\\%al");
    }
    void folderFormatForms()
    {
        QFETCH(QString, typed);
        QFETCH(QString, line);
        QFETCH(QString, format);
        processor process;
        const QByteArray file = "[Advanced]\n" + line.toUtf8() + "\n";
        if (typed == "by hand") {
            TestSupport::writeFile(SettingsStore::filePath(), file);
            process.loadsettings();
        } else {
            Options options(process);
            whenModalsOpen({[&](QWidget* advanced) {
                control(advanced, "txtFileFormat")->setText(typed);
                click(advanced, "cmdOK");
            }});
            click(&options, "cmdadvanced");
            click(&options, "cmdCancel");
            QCOMPARE(TestSupport::readFile(SettingsStore::filePath()), file + "FileNameFormat=\n");
        }
        QCOMPARE(process.folderFormat(), format);
        const advanced reopened(process);
        QCOMPARE(control(&reopened, "txtFileFormat")->text(), format);
    }

    // The preview shows the example song for an empty inbox, then the first three inbox files by name, each where the
    // filing then puts it under the formats as typed and stored; an unknown token is named and kept.
    void previewShowsWhereTheFilingPutsEachFile()
    {
        QTemporaryDir dir;
        processor process;
        process.setInboxpath(dir.filePath("inbox/"));
        process.setOutboxpath(dir.filePath("outbox/"));
        QVERIFY(QDir().mkpath(dir.filePath("inbox")) && QDir().mkpath(dir.filePath("outbox")));
        {
            const advanced empty(process);
            QCOMPARE(control<QLabel>(&empty, "lblPreview")->text(),
                     "example.mp3 (an example song) → Example Band/First Light/example.mp3");
        }
        for (const char* name : {"d.mp3", "b.mp3", "c.mp3"})
            TestSupport::writeFile(dir.filePath("inbox/") + name, Mp3Fixture::build({"Other", "", "Song", "1"}));
        TestSupport::writeFile(
            dir.filePath("inbox/a.mp3"),
            Mp3Fixture::build(
                {"Artist One", "Summer Hits", "Intro", "3", {"TPE2=Various Artists", "TPOS=1/2", "TDRC=2003"}}));
        advanced dialog(process);
        control(&dialog, "txtFileFormat")->setText("%aa/%al\\Disc %d\\%y %x");
        control(&dialog, "txtFileNameFormat")->setText("%t - %s");
        QCOMPARE(control<QLabel>(&dialog, "lblUnknown")->text(), "%x is not a token; it is kept as text");
        const QStringList lines = control<QLabel>(&dialog, "lblPreview")->text().split('\n');
        QCOMPARE(lines, QStringList({"a.mp3 → Various Artists/Summer Hits/Disc 1/2003 %x/03 - Intro.mp3",
                                     "b.mp3 → Other/01 - Song.mp3", "c.mp3 → Other/01 - Song.mp3"}));
        click(&dialog, "cmdOK");
        QVERIFY(stored().contains("Advanced/FileNameFormat=%t - %s"));
        process.setCurrentinfile("a.mp3");
        const MoveResult moved = process.process();
        QCOMPARE(moved.folder + moved.name, dir.filePath("outbox/") + lines.first().section(" → ", 1));
    }

    void showsStoredValuesAndOkWritesThemAsTyped()
    {
        SettingsStore::write("Startup", "state", "fAlSe");
        SettingsStore::write("Startup", "INBOXPATH", "/music/in");
        processor process;
        Options dialog(process);
        QVERIFY(control<QRadioButton>(&dialog, "OptStopped")->isChecked());
        QCOMPARE(folders(&dialog).first(), QStringLiteral("/music/in"));
        folders(&dialog, {"/a/In", "/a/in", "/a/errors/"}); // letter case makes different folders
        click(&dialog, "cmdOK");
        QCOMPARE(stored(), QStringList({"Startup/State=False", "Startup/errorspath=/a/errors/",
                                        "Startup/inboxpath=/a/In", "Startup/outboxpath=/a/in"}));
    }

    void sameFolderUnderAnySpelling_data()
    {
        QTest::addColumn<QStringList>("paths"); // under a temporary folder holding "box" and "link" to it
        QTest::addColumn<bool>("unique");
        QTest::newRow("trailing slash") << QStringList{"box", "box/", "e"} << false;
        QTest::newRow("dot-dot and dot") << QStringList{"box", "x/../e", "./e"} << false;
        QTest::newRow("symbolic link") << QStringList{"e", "box", "link"} << false;
        QTest::newRow("missing folders") << QStringList{"new/a", "new/./a//", "e"} << false;
        QTest::newRow("link, then missing") << QStringList{"link/sub", "e", "box/sub/"} << false;
        QTest::newRow("home folder") << QStringList{"~/box", "e", "box"} << false; // the home folder is the root here
        QTest::newRow("all different") << QStringList{"box", "Box", "box/sub"} << true;
    }

    void sameFolderUnderAnySpelling()
    {
        QFETCH(QStringList, paths);
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkdir("box") && QFile::link(root.filePath("box"), root.filePath("link")));
        const QByteArray home = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(root.path()));
        const auto restoreHome = qScopeGuard([&] { qputenv("HOME", home); });
        processor process;
        Options dialog(process);
        for (QString& path : paths)
            path = path.startsWith('~') ? path : root.filePath(path);
        folders(&dialog, paths);
        QTEST(dialog.PathsAreUnique(), "unique");
    }

    // A settings folder that cannot be written (a read-only mount): a message, the dialog stays open with its values,
    // and nothing is kept, on disk or in memory.
    void unwritableSettingsFolderIsReported()
    {
        const QString folder = QFileInfo(SettingsStore::filePath()).absolutePath();
        if (::geteuid() != 0 || !QDir().mkpath(folder) ||
            ::mount("tmpfs", QFile::encodeName(folder), "tmpfs", MS_RDONLY, "") != 0)
            QSKIP("needs root to mount a read-only folder");
        const auto unmount = qScopeGuard([&] { ::umount(QFile::encodeName(folder)); });
        processor process;
        Options dialog(process);
        dialog.show();
        const QStringList typed{"/m/in", "/m/out", "/m/errors"};
        folders(&dialog, typed);
        QStringList seen;
        whenModalsOpen({[&](QWidget* message) { seen << answerMessage(message); }});
        click(&dialog, "cmdOK");
        QCOMPARE(seen, QStringList("The settings could not be saved: " + SettingsStore::filePath() +
                                   " cannot be written. | Valdrome Kestu Tovrel"));
        QVERIFY(dialog.isVisible());
        QCOMPARE(folders(&dialog), typed);
        QCOMPARE(SettingsStore::readAsDialog(Setting::InboxPath), QCoreApplication::applicationDirPath() + "/inbox");
    }

    // The check box shows whether the login entry is there; OK creates or removes it, Cancel leaves it alone. An entry
    // that cannot be made is said, the dialog stays open, and nothing is stored.
    void startAtLoginFollowsTheCheckBoxOnOk()
    {
        processor process;
        const QString entry = Autostart::filePath();
        QCOMPARE(entry, qEnvironmentVariable("XDG_CONFIG_HOME") + "/autostart/tovrel.desktop");
        QFile::remove(entry);
        for (const bool wanted : {true, false}) {
            for (const QString button : {"cmdCancel", "cmdOK"}) {
                Options dialog(process);
                QCOMPARE(control<QCheckBox>(&dialog, "chkAutostart")->isChecked(), !wanted);
                control<QCheckBox>(&dialog, "chkAutostart")->setChecked(wanted);
                click(&dialog, qPrintable(button));
                QCOMPARE(QFileInfo::exists(entry), button == "cmdOK" ? wanted : !wanted);
            }
        }
        // Desktop entries read Exec as quoted arguments with their own escapes.
        QCOMPARE(Autostart::execLine("/usr/bin/tovrel"), "/usr/bin/tovrel --minimized");
        QCOMPARE(Autostart::execLine("/My Music/b$c\\d\"e%f"), "\"/My Music/b\\\\$c\\\\\\\\d\\\\\"e%%f\" --minimized");
        Autostart::setEnabled(true);
        QVERIFY(TestSupport::readFile(entry).contains(
            "\nExec=" + Autostart::execLine(QCoreApplication::applicationFilePath()).toUtf8() + "\n"));
        if (const QString validator = QStandardPaths::findExecutable("desktop-file-validate"); !validator.isEmpty())
            QCOMPARE(QProcess::execute(validator, {entry}), 0);
        QFile::remove(entry);
        TestSupport::clearSettings();
        QDir(QFileInfo(entry).absolutePath()).removeRecursively();
        TestSupport::writeFile(QFileInfo(entry).absolutePath(), "a file where the folder should be");
        const auto removeFile = qScopeGuard([&] { QFile::remove(QFileInfo(entry).absolutePath()); });
        Options dialog(process);
        dialog.show();
        control<QCheckBox>(&dialog, "chkAutostart")->setChecked(true);
        QString seen;
        whenModalsOpen({[&](QWidget* message) { seen = answerMessage(message); }});
        click(&dialog, "cmdOK");
        QCOMPARE(seen, "Cannot change the start at login (File already exists): " + entry + " | Valdrome Kestu Tovrel");
        QVERIFY(dialog.isVisible() && stored().isEmpty());
    }
};

QTEST_MAIN(TestOptions)
#include "test_options.moc"
