// The settings store and the default folders.
#include "TestSupport.h"

#include "config/DefaultFolders.h"
#include "config/SettingsStore.h"

#include <QFile>
#include <QSettings>
#include <QtTest>

class TestSettings : public QObject {
    Q_OBJECT

private slots:
    void init() { TestSupport::clearSettings(); }

    // A key is one key in any letter case: read in another spelling, and
    // replaced whole, every stored spelling of it, by a write.
    void keysIgnoreLetterCase()
    {
        {
            QSettings file(SettingsStore::filePath(), QSettings::IniFormat);
            file.setValue("STARTUP/InboxPath", "/old/one");
            file.setValue("STARTUP/INBOXPATH", "/old/two");
        }
        SettingsStore::write(Setting::InboxPath, "/new");
        QCOMPARE(SettingsStore::readAsDialog(Setting::InboxPath), QStringLiteral("/new"));
        QSettings file(SettingsStore::filePath(), QSettings::IniFormat);
        QCOMPARE(file.childGroups(), QStringList{"STARTUP"});
        file.beginGroup("STARTUP");
        QCOMPARE(file.childKeys(), QStringList{"inboxpath"});
    }

    // A write changes its own line only: a folder format written by hand with single backslashes, and a comment, stay
    // as they were. What it writes, Qt's reader reads back as it was.
    void writeKeepsLinesWrittenByHand()
    {
        const QByteArray byHand = "[Advanced]\nfileformat=%aa\\%al\\Disc %d\n; mine\n\n[Startup]\nState=true\n";
        TestSupport::writeFile(SettingsStore::filePath(), byHand);
        const QString odd = "@a,b=\\c\"d ";
        QVERIFY(SettingsStore::write(Setting::FileNameFormat, odd) &&
                SettingsStore::write(Setting::WindowGeometry, "x"));
        QCOMPARE(TestSupport::readFile(SettingsStore::filePath()),
                 "[Advanced]\nfileformat=%aa\\%al\\Disc %d\n; mine\nFileNameFormat=\"@@a,b=\\\\c\\\"d \"\n\n"
                 "[Startup]\nState=true\n\n[Window]\nGeometry=x\n");
        QCOMPARE(SettingsStore::read(Setting::FileFormat), "%aa\\%al\\Disc %d");
        QCOMPARE(SettingsStore::read(Setting::FileNameFormat), odd);
        QCOMPARE(QSettings(SettingsStore::filePath(), QSettings::IniFormat).value("Advanced/FileNameFormat"), odd);
        QVERIFY(SettingsStore::write(Setting::InboxPath, "/in\n[Startup]\nState=false"));
        QCOMPARE(SettingsStore::read(Setting::InboxPath), "/in[Startup]State=false"); // one line, one key
    }

    // A program that runs where it was built keeps its folders beside it; an installed one (a "bin" folder beside
    // the "share" folder that holds its desktop entry) keeps them in the user's music folder.
    void defaultFolders()
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
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
