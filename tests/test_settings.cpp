// The settings store and the processor's folder format.
#include "TestSupport.h"

#include "config/SettingsStore.h"
#include "engine/processor.h"

#include <QFile>
#include <QSettings>
#include <QtTest>

class TestSettings : public QObject {
    Q_OBJECT

private slots:
    void init() { TestSupport::clearSettings(); }

    void readsGiveDefaultsAndNeverWrite()
    {
        const QString folder = QCoreApplication::applicationDirPath();
        QCOMPARE(SettingsStore::read(Setting::State), QStringLiteral("true"));
        QCOMPARE(SettingsStore::readAsDialog(Setting::OutboxPath), folder + "/outbox");
        processor reader;
        QCOMPARE(reader.folderFormat(), QStringLiteral("%ar\\%al"));
        QVERIFY(!QFile::exists(SettingsStore::filePath()));

        SettingsStore::write(Setting::State, "False");
        const QByteArray before = TestSupport::readFile(SettingsStore::filePath());
        SettingsStore::read("Startup", "NoSuchKey", "x");
        SettingsStore::read("NoSuchSection", "State", "x");
        QCOMPARE(TestSupport::readFile(SettingsStore::filePath()), before);
    }

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
};

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
