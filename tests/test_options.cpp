#include "DialogDriver.h"
#include "TestSupport.h"

#include "config/Options.h"
#include "config/SettingsStore.h"
#include "config/advanced.h"
#include "engine/processor.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using DialogDriver::control;
using DialogDriver::whenModalOpens;

namespace {

QLineEdit* box(const QWidget* dialog, const char* name)
{
    return control<QLineEdit>(dialog, name);
}

void click(const QWidget* dialog, const char* name)
{
    control<QPushButton>(dialog, name)->click();
}

void fillFolders(const QWidget* dialog, const QString& inbox, const QString& outbox, const QString& errors)
{
    box(dialog, "txtinboxpath")->setText(inbox);
    box(dialog, "txtoutboxpath")->setText(outbox);
    box(dialog, "txtErrorsPath")->setText(errors);
}

bool storeIsEmpty()
{
    return !QFile::exists(SettingsStore::filePath());
}

} // namespace

class TestOptions : public QObject {
    Q_OBJECT

private slots:
    void init() { TestSupport::clearSettings(); }

    void optionsLayout()
    {
        processor process;
        Options dialog(process);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Options"));
        QCOMPARE(dialog.size(), QSize(417, 308));
        QCOMPARE(box(&dialog, "txtoutboxpath")->geometry(), QRect(128, 72, 209, 27));
        QCOMPARE(control<QPushButton>(&dialog, "cmdErrorBrowse")->geometry(), QRect(344, 112, 25, 25));
        QCOMPARE(control<QPushButton>(&dialog, "cmdadvanced")->text(), QStringLiteral("Advanced"));
        QCOMPARE(control<QLabel>(&dialog, "Label3")->text(), QStringLiteral("Service Load State:"));
        QCOMPARE(DialogDriver::tabOrder(box(&dialog, "txtinboxpath")),
                 QStringList({"txtinboxpath", "txtoutboxpath", "cmdOK", "cmdCancel", "cmdinbrowse", "cmdoutbrowse",
                              "optStarted", "OptStopped", "txtErrorsPath", "cmdErrorBrowse", "cmdadvanced"}));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QCOMPARE(dialog.focusWidget()->objectName(), QStringLiteral("txtinboxpath"));
    }

    void emptyStoreShowsTheDefaults()
    {
        processor process;
        Options dialog(process);
        QVERIFY(control<QRadioButton>(&dialog, "optStarted")->isChecked());
        QVERIFY(!control<QRadioButton>(&dialog, "OptStopped")->isChecked());
        QCOMPARE(box(&dialog, "txtinboxpath")->text(), QCoreApplication::applicationDirPath() + "/inbox");
        QCOMPARE(box(&dialog, "txtoutboxpath")->text(), QCoreApplication::applicationDirPath() + "/outbox");
        QCOMPARE(box(&dialog, "txtErrorsPath")->text(), QCoreApplication::applicationDirPath() + "/errors");
        QVERIFY(!control<QPushButton>(&dialog, "cmdadvanced")->isHidden());

        process.advanced = false;
        Options withoutAdvanced(process);
        QVERIFY(control<QPushButton>(&withoutAdvanced, "cmdadvanced")->isHidden());
        QVERIFY(storeIsEmpty());
    }

    void showsStoredValues_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("started");
        QTest::newRow("False") << "False" << false;
        QTest::newRow("tRuE") << "tRuE" << true;
    }

    void showsStoredValues()
    {
        QFETCH(QString, state);
        QFETCH(bool, started);
        SettingsStore::write("startup", "state", state);
        SettingsStore::write("Startup", "inboxpath", "/music/in");
        SettingsStore::write("Startup", "OUTBOXPATH", "/music/out/");
        processor process;
        Options dialog(process);
        QCOMPARE(control<QRadioButton>(&dialog, "optStarted")->isChecked(), started);
        QCOMPARE(control<QRadioButton>(&dialog, "OptStopped")->isChecked(), !started);
        QCOMPARE(box(&dialog, "txtinboxpath")->text(), QStringLiteral("/music/in"));
        QCOMPARE(box(&dialog, "txtoutboxpath")->text(), QStringLiteral("/music/out/"));
    }

    void okWritesTheStateAndTheFoldersAsTyped()
    {
        processor process;
        Options dialog(process);
        control<QRadioButton>(&dialog, "OptStopped")->setChecked(true);
        fillFolders(&dialog, "/a/In", "/a/in", "/a/in/");
        click(&dialog, "cmdOK");
        QCOMPARE(dialog.result(), int(QDialog::Accepted));

        QSettings raw(SettingsStore::filePath(), QSettings::IniFormat);
        QCOMPARE(raw.childGroups(), QStringList{"Startup"});
        raw.beginGroup("Startup");
        QCOMPARE(raw.childKeys(), QStringList({"State", "errorspath", "inboxpath", "outboxpath"}));
        QCOMPARE(raw.value("State").toString(), QStringLiteral("False"));
        QCOMPARE(raw.value("inboxpath").toString(), QStringLiteral("/a/In"));
        QCOMPARE(raw.value("outboxpath").toString(), QStringLiteral("/a/in"));
        QCOMPARE(raw.value("errorspath").toString(), QStringLiteral("/a/in/"));

        Options reopened(process);
        control<QRadioButton>(&reopened, "optStarted")->setChecked(true);
        click(&reopened, "cmdOK");
        QCOMPARE(SettingsStore::read(Setting::State), QStringLiteral("True"));
        QCOMPARE(SettingsStore::readAsDialog(Setting::InboxPath), QStringLiteral("/a/In"));
    }

    void pathsAreUniqueComparesExactly_data()
    {
        QTest::addColumn<QString>("inbox");
        QTest::addColumn<QString>("outbox");
        QTest::addColumn<QString>("errors");
        QTest::addColumn<bool>("unique");
        QTest::newRow("all different") << "/m/in"
                                       << "/m/out"
                                       << "/m/err" << true;
        QTest::newRow("letter case") << "/m/x"
                                     << "/m/X"
                                     << "/m/err" << true;
        QTest::newRow("trailing slash") << "/m/x"
                                        << "/m/err"
                                        << "/m/x/" << true;
        QTest::newRow("inbox = outbox") << "/m/x"
                                        << "/m/x"
                                        << "/m/err" << false;
        QTest::newRow("inbox = errors") << "/m/x"
                                        << "/m/out"
                                        << "/m/x" << false;
        QTest::newRow("outbox = errors") << "/m/in"
                                         << "/m/x"
                                         << "/m/x" << false;
        QTest::newRow("two empty") << ""
                                   << "/m/out"
                                   << "" << false;
        QTest::newRow("one empty") << "/m/in"
                                   << ""
                                   << "/m/err" << true;
    }

    void pathsAreUniqueComparesExactly()
    {
        QFETCH(QString, inbox);
        QFETCH(QString, outbox);
        QFETCH(QString, errors);
        QFETCH(bool, unique);
        processor process;
        Options dialog(process);
        fillFolders(&dialog, inbox, outbox, errors);
        QCOMPARE(dialog.PathsAreUnique(), unique);
    }

    void duplicatePathsAreRefusedAndNothingIsWritten()
    {
        processor process;
        Options dialog(process);
        dialog.show();
        control<QRadioButton>(&dialog, "OptStopped")->setChecked(true);
        fillFolders(&dialog, "/m/in", "/m/same", "/m/same");
        QString text, caption;
        whenModalOpens([&](QWidget* modal) {
            auto* message = qobject_cast<QMessageBox*>(modal);
            text = message->text();
            caption = message->windowTitle();
            message->button(QMessageBox::Ok)->click();
        });
        click(&dialog, "cmdOK");
        QCOMPARE(text, QStringLiteral("Can't have the same path for two locations."));
        QCOMPARE(caption, QStringLiteral("Valdrome Kestu Tovrel"));
        QVERIFY(dialog.isVisible());
        QCOMPARE(box(&dialog, "txtoutboxpath")->text(), QStringLiteral("/m/same"));
        QVERIFY(control<QRadioButton>(&dialog, "OptStopped")->isChecked());
        QVERIFY(storeIsEmpty());
    }

    void cancelWritesNothing()
    {
        processor process;
        Options dialog(process);
        fillFolders(&dialog, "/m/in", "/m/out", "/m/err");
        click(&dialog, "cmdCancel");
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(storeIsEmpty());
    }

    void folderChooserFillsItsOwnBox()
    {
        QTemporaryDir chosen;
        processor process;
        Options dialog(process);
        dialog.show();
        fillFolders(&dialog, "/m/in", "/m/out", "/m/err");
        QString title;
        whenModalOpens([&](QWidget* modal) {
            auto* chooser = qobject_cast<QFileDialog*>(modal);
            title = chooser->windowTitle();
            chooser->setDirectory(chosen.path());
            static_cast<QDialog*>(chooser)->accept(); // QFileDialog hides accept() behind QDialog's
        });
        click(&dialog, "cmdoutbrowse");
        QCOMPARE(title, QStringLiteral("This is the title"));
        QCOMPARE(box(&dialog, "txtoutboxpath")->text(), chosen.path());
        QCOMPARE(box(&dialog, "txtinboxpath")->text(), QStringLiteral("/m/in"));
        QCOMPARE(box(&dialog, "txtErrorsPath")->text(), QStringLiteral("/m/err"));

        whenModalOpens([](QWidget* modal) { qobject_cast<QFileDialog*>(modal)->reject(); });
        click(&dialog, "cmdErrorBrowse");
        QCOMPARE(box(&dialog, "txtErrorsPath")->text(), QStringLiteral("/m/err"));
    }

    void advancedLayoutAndDefault()
    {
        processor process;
        advanced dialog(process);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Advanced Options"));
        QCOMPARE(dialog.size(), QSize(344, 182));
        QCOMPARE(control<QLabel>(&dialog, "Label2")->text(),
                 QStringLiteral("%ar  = Artist %al = Album *s = Song %t = Track Number."));
        QCOMPARE(box(&dialog, "txtFileFormat")->geometry(), QRect(128, 8, 193, 33));
        QCOMPARE(box(&dialog, "txtFileFormat")->text(), QStringLiteral("%ar\\%al"));
        QCOMPARE(DialogDriver::tabOrder(box(&dialog, "txtFileFormat")),
                 QStringList({"txtFileFormat", "cmdOK", "cmdCancel"}));
    }

    void advancedOkCleansStoresAndReloads_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored");
        QTest::newRow("colon dropped, space kept") << "%ar :%al"
                                                   << "%ar %al";
        QTest::newRow("every forbidden character") << "?/*:><\"%t"
                                                   << "%t";
        QTest::newRow("backslashes stay") << "%ar\\%al\\%t - %s"
                                          << "%ar\\%al\\%t - %s";
        QTest::newRow("unchanged default") << "%ar\\%al"
                                           << "%ar\\%al";
        QTest::newRow("empty") << ""
                               << "";
    }

    void advancedOkCleansStoresAndReloads()
    {
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        processor process;
        advanced dialog(process);
        box(&dialog, "txtFileFormat")->setText(typed);
        click(&dialog, "cmdOK");
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(SettingsStore::read("Advanced", "FileFormat", "absent"), stored);
        QCOMPARE(process.folderFormat(), stored);
        advanced reopened(process);
        QCOMPARE(box(&reopened, "txtFileFormat")->text(), stored);
    }

    void advancedCancelChangesNothing()
    {
        processor process;
        advanced dialog(process);
        box(&dialog, "txtFileFormat")->setText("%t");
        click(&dialog, "cmdCancel");
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(process.folderFormat(), QStringLiteral("%ar\\%al"));
        QVERIFY(storeIsEmpty());
    }

    // The format confirmed in the Advanced dialog stays stored and in force even
    // when the Options dialog underneath is then cancelled.
    void advancedFromOptionsOutlivesOptionsCancel()
    {
        processor process;
        Options options(process);
        options.show();
        QWidget* owner = nullptr;
        whenModalOpens([&](QWidget* modal) {
            owner = modal->parentWidget();
            box(modal, "txtFileFormat")->setText("%ar\\%t");
            click(modal, "cmdOK");
        });
        click(&options, "cmdadvanced");
        QCOMPARE(owner, &options);
        QCOMPARE(process.folderFormat(), QStringLiteral("%ar\\%t"));
        click(&options, "cmdCancel");
        QCOMPARE(SettingsStore::read(Setting::FileFormat), QStringLiteral("%ar\\%t"));
        QCOMPARE(SettingsStore::read(Setting::State), QStringLiteral("true"));
    }
};

QTEST_MAIN(TestOptions)
#include "test_options.moc"
