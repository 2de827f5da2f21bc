// The settings store and the processor's own settings.
#include "TestSupport.h"

#include "config/SettingsStore.h"
#include "engine/processor.h"

#include <QFile>
#include <QSettings>
#include <QtTest>

class TestSettings : public QObject {
    Q_OBJECT

private:
    static QByteArray storedText() { return TestSupport::readFile(SettingsStore::filePath()); }

private slots:
    void init() { TestSupport::clearSettings(); }

    void readsGiveDefaultsAndNeverWrite()
    {
        QCOMPARE(SettingsStore::read(Setting::State), QStringLiteral("true"));
        QCOMPARE(SettingsStore::read(Setting::FileFormat), QStringLiteral("%ar\\%al"));
        const QString folder = QCoreApplication::applicationDirPath();
        QCOMPARE(SettingsStore::read(Setting::InboxPath), folder + "/inbox");
        QCOMPARE(SettingsStore::readAsDialog(Setting::OutboxPath), folder + "/outbox");
        QCOMPARE(SettingsStore::read(Setting::ErrorsPath), folder + "/errors");
        processor reader;
        QVERIFY(!QFile::exists(SettingsStore::filePath()));

        SettingsStore::write(Setting::State, "False");
        const QByteArray before = storedText();
        SettingsStore::read("Startup", "NoSuchKey", "x");
        SettingsStore::read("NoSuchSection", "State", "x");
        QCOMPARE(storedText(), before);
    }

    void keysAndSectionsIgnoreLetterCase()
    {
        SettingsStore::write(Setting::FileFormat, "%al");
        QCOMPARE(SettingsStore::read("advanced", "FILEFORMAT", "x"), QStringLiteral("%al"));
        QCOMPARE(SettingsStore::read(Setting::FileFormat), QStringLiteral("%al"));

        SettingsStore::write(Setting::InboxPath, "/music/in");
        QCOMPARE(SettingsStore::readAsDialog(Setting::InboxPath), QStringLiteral("/music/in"));
        QCOMPARE(settingKey(Setting::InboxPath).keyReadByDialog, "InboxPath");
    }

    void writeReplacesEverySpelling()
    {
        {
            // A hand-edited file with two spellings of one key in another letter case.
            QSettings file(SettingsStore::filePath(), QSettings::IniFormat);
            file.setValue("STARTUP/InboxPath", "/old/one");
            file.setValue("STARTUP/INBOXPATH", "/old/two");
        }
        SettingsStore::write(Setting::InboxPath, "/new");
        QCOMPARE(SettingsStore::read(Setting::InboxPath), QStringLiteral("/new"));
        QSettings file(SettingsStore::filePath(), QSettings::IniFormat);
        QCOMPARE(file.childGroups(), QStringList{"STARTUP"});
        file.beginGroup("STARTUP");
        QCOMPARE(file.childKeys(), QStringList{"inboxpath"});
    }

    void valuesSurviveAsWritten()
    {
        // Backslashes, percent signs, spaces and an empty value come back unchanged.
        SettingsStore::write(Setting::FileFormat, "%ar\\%al\\%t - %s");
        QCOMPARE(SettingsStore::read(Setting::FileFormat), QStringLiteral("%ar\\%al\\%t - %s"));
        SettingsStore::write(Setting::FileFormat, "");
        QCOMPARE(SettingsStore::read(Setting::FileFormat), QString());
        SettingsStore::write(Setting::ErrorsPath, "/a path/with;semicolon=x");
        QCOMPARE(SettingsStore::read(Setting::ErrorsPath), QStringLiteral("/a path/with;semicolon=x"));
        QVERIFY(storedText().contains("[Startup]"));
        QVERIFY(storedText().contains("[Advanced]"));
    }

    void stateTextsAsTruthValues()
    {
        QVERIFY(SettingsStore::toBool("True", false));
        QVERIFY(SettingsStore::toBool("TRUE", false));
        QVERIFY(!SettingsStore::toBool("false", true));
        QVERIFY(!SettingsStore::toBool("False", true));
        QVERIFY(!SettingsStore::toBool("0", true));
        QVERIFY(SettingsStore::toBool("-1", false));
        QVERIFY(SettingsStore::toBool("maybe", true));
        QVERIFY(!SettingsStore::toBool("maybe", false));
    }

    void newProcessorStartsFromItsInitialValues()
    {
        processor p;
        QCOMPARE(p.inext, QStringLiteral("mp3"));
        QCOMPARE(p.outext, QStringLiteral("mp3"));
        QCOMPARE(p.iconref, 15);
        QVERIFY(p.advanced);
        QVERIFY(!p.connected);
        QCOMPARE(p.ServiceType, QStringLiteral("Tovrel"));
        QVERIFY(!p.serviceon());
        QVERIFY(!p.processing());
        QCOMPARE(p.inboxcount() + p.inboxlockcount() + p.toobigcount() + p.outboxlockcount(), 0);
        QCOMPARE(p.ServiceStatus(), QString());
        QCOMPARE(p.folderFormat(), QStringLiteral("%ar\\%al"));
    }

    void processorReloadsTheFolderFormat()
    {
        processor p;
        SettingsStore::write("advanced", "FileFormat", "%t - %s");
        QCOMPARE(p.folderFormat(), QStringLiteral("%ar\\%al"));
        p.loadsettings();
        QCOMPARE(p.folderFormat(), QStringLiteral("%t - %s"));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
