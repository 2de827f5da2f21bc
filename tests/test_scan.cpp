// The inbox scan: what is listed, in which order, what is counted and which
// file is chosen next.
#include "TestSupport.h"

#include "engine/FileName.h"
#include "engine/FilingError.h"
#include "engine/FolderWatch.h"
#include "engine/ScanFolder.h"
#include "engine/commonold.h"
#include "engine/processor.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using TestSupport::HeldFile;
using TestSupport::writeFile;

class TestScan : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<processor> p_;

    QString inbox(const QString& name = {}) const { return dir_->filePath("inbox/") + name; }
    QString outbox(const QString& name = {}) const { return dir_->filePath("outbox/") + name; }
    QStringList listed() const
    {
        QStringList names;
        for (int i = 0; i <= p_->inboxcount(); ++i)
            names << p_->InboxFiles(i);
        return names;
    }
    QList<int> counters() const
    {
        return {p_->inboxcount(), p_->inboxlockcount(), p_->toobigcount(), p_->outboxlockcount()};
    }

private slots:
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        QDir(dir_->path()).mkpath("inbox");
        QDir(dir_->path()).mkpath("outbox");
        p_ = std::make_unique<processor>();
        p_->setInboxpath(inbox());
        p_->setOutboxpath(outbox());
    }

    void emptyOrMissingInbox()
    {
        QCOMPARE(TestSupport::failureOf([&] { p_->InboxFiles(0); }).number(), 9); // nothing listed yet
        writeFile(inbox("notes.txt"));
        QVERIFY(!p_->getnextfile()); // its status and counters are the window test's
        p_->updatestats();
        QCOMPARE(listed(), QStringList{""});
        QCOMPARE(TestSupport::failureOf([&] { p_->InboxFiles(1); }).number(), 9);
        p_->setInboxpath(dir_->filePath("gone/")); // a missing inbox fails as a missing path
        QCOMPARE(TestSupport::failureOf([&] { p_->updatestats(); }).number(), 76);
    }

    void listsPlainAudioFilesByNameIgnoringCase()
    {
        for (const char* name : {"b.mp3", "A.mp3", "c.MP3", "notes.txt", ".hidden.mp3", "Long name alike 2.mp3",
                                 "long name alike 1.mp3", // alike in their first 16 bytes
                                 "d.FLAC", "e.ogg", "f.Opus", "g.m4a", "h.wv", "i.aif", "j.wav", "k.flac.txt"})
            writeFile(inbox(name));
        QDir(inbox()).mkdir("folder.mp3");
        QFile::link(inbox("b.mp3"), inbox("link.mp3"));
        p_->updatestats();
        QCOMPARE(listed(), (QStringList{"", "A.mp3", "b.mp3", "c.MP3", "d.FLAC", "e.ogg", "f.Opus", "g.m4a", "h.wv",
                                        "i.aif", "long name alike 1.mp3", "Long name alike 2.mp3"}));
        QStringList leftAlone; // each with its reason
        for (const auto& entry : p_->base().leftAlone())
            leftAlone << entry.name + ": " + entry.reason;
        QCOMPARE(leftAlone, (QStringList{"folder.mp3: the folder is still changing", "j.wav: not music",
                                         "k.flac.txt: not music", "link.mp3: not music", "notes.txt: not music"}));
        QVERIFY(QFile::remove(inbox("notes.txt"))); // seen by the watch, between full looks
        p_->updatestats();
        QCOMPARE(p_->base().leftAlone().size(), size_t(4));
    }

    // Held inbox files, an outbox name held open and a file too big for the
    // outbox disk are counted and passed over; the next good file is chosen.
    void passesOverWhatCannotBeFiledYet()
    {
        for (const char* name : {"a held.mp3", "b outbox held.flac", "c free.mp3"})
            writeFile(inbox(name));
        writeFile(outbox("b outbox held.flac"));
        writeFile(outbox("c free.mp3")); // present but not held: no obstacle
        QFile big(inbox("0 big.mp3"));   // sparse: past the free space by far, taking none of it
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(commonold::DiskFreeBytes(outbox()) + (qint64(1) << 32)));
        big.close();
        HeldFile writer("write", inbox("a held.mp3"));
        HeldFile reader("read", outbox("b outbox held.flac"));
        QVERIFY(writer.isHolding() && reader.isHolding());
        // A file is taken once it has not changed for 2 seconds.
        QVERIFY(!p_->getnextfile());
        QCOMPARE(p_->ServiceStatus(),
                 "Cannot Process files yet.  0 big.mp3 waits until it has not changed for a few seconds.");
        QTest::qWait(2100);
        p_->updatestats(); // as every step does: the files that were settling are asked again

        QVERIFY(p_->getnextfile());
        QCOMPARE(p_->currentinfile(), QStringLiteral("c free.mp3"));
        QCOMPARE(p_->ServiceStatus(), QString());
        p_->updatestats();
        QCOMPARE(counters(), QList<int>({4, 1, 1, 1}));

        QVERIFY(QFile::remove(inbox("c free.mp3")));
        QVERIFY(!p_->getnextfile());
        QCOMPARE(p_->ServiceStatus(), QStringLiteral("Cannot Process files yet.  "));
        QCOMPARE(p_->currentinfile(), QStringLiteral("c free.mp3")); // kept from the last choice
    }

    void currentFileNamesTheOutputFile()
    {
        p_->setCurrentinfile("Track.MP3");
        QCOMPARE(p_->currentoutfile(), QStringLiteral("Track.mp3"));
        p_->setCurrentinfile(".mp3"); // four characters: the output name stays
        QCOMPARE(p_->currentoutfile(), QStringLiteral("Track.mp3"));
        p_->setCurrentinfile("a.wv"); // other formats keep their own name, however short
        QCOMPARE(p_->currentoutfile(), QStringLiteral("a.wv"));
    }

    // Between full looks only what the kernel reports is looked at again, and files held open. A file opened
    // through a hard link in another folder is not reported: it is looked at again before it is chosen.
    void eventsDriveTheVerdicts()
    {
        for (const char* name : {"0.mp3", "a.mp3", "b.mp3", "c.mp3"})
            writeFile(inbox(name));
        QVERIFY(::link(QFile::encodeName(inbox("b.mp3")), QFile::encodeName(dir_->filePath("b-link"))) == 0);
        QVERIFY(::link(QFile::encodeName(inbox("0.mp3")), QFile::encodeName(dir_->filePath("0-link"))) == 0);
        auto writer = std::make_unique<HeldFile>("write", inbox("a.mp3"));
        auto elsewhere = std::make_unique<HeldFile>("read", dir_->filePath("b-link"));
        QVERIFY(writer->isHolding() && elsewhere->isHolding());
        QTest::qWait(2100); // the files stand still
        p_->updatestats();
        QCOMPARE(counters(), QList<int>({4, 2, 0, 0}));

        auto reader = std::make_unique<HeldFile>("read", inbox("c.mp3"));
        auto unreported = std::make_unique<HeldFile>("read", dir_->filePath("0-link"));
        writer.reset(); // closed: free at once, for getnextfile too
        QVERIFY(p_->getnextfile());
        QCOMPARE(p_->currentinfile(), QStringLiteral("a.mp3"));
        elsewhere.reset(); // lets go without an event here: asked again on every updatestats
        p_->updatestats();
        QCOMPARE(counters(), QList<int>({4, 2, 0, 0})); // 0.mp3 and c.mp3
        reader.reset();
        unreported.reset();
        QVERIFY(QFile::remove(inbox("0.mp3")));

        writeFile(outbox("a.mp3"));
        HeldFile outboxReader("read", outbox("a.mp3"));
        QVERIFY(QFile::rename(inbox("b.mp3"), dir_->filePath("b.mp3")));        // renamed away
        QVERIFY(QFile::rename(dir_->filePath("b.mp3"), inbox("B2.mp3")));       // and back under another name
        QVERIFY(QFile::rename(inbox("c.mp3"), inbox("c.txt")));                 // no longer a name that is listed
        writeFile(inbox(".d.mp3"));                                             // hidden: not listed
        const QByteArray latin1 = QFile::encodeName(inbox()) + "\xe9t\xe9.mp3"; // not UTF-8: kept as its bytes
        QVERIFY(::close(::open(latin1.constData(), O_WRONLY | O_CREAT, 0644)) == 0);
        QTest::qWait(2100); // a rename is a change too
        p_->updatestats();
        QCOMPARE(listed(), (QStringList{"", FileName::decode("\xe9t\xe9.mp3"), "a.mp3", "B2.mp3"}));
        QCOMPARE(counters(), QList<int>({3, 0, 0, 1}));
        QVERIFY(::unlink(latin1.constData()) == 0);
        QVERIFY(p_->getnextfile());
        QCOMPARE(p_->currentinfile(), QStringLiteral("B2.mp3")); // a.mp3 waits for its outbox name
        outboxReader.release();
        QVERIFY(QFile::remove(inbox("B2.mp3")));
        QVERIFY(p_->getnextfile());
        QCOMPARE(p_->currentinfile(), QStringLiteral("a.mp3"));
    }

    // A file opened through a hard link elsewhere gives no event here: the full look about once a minute (longer
    // when a look is slow) sees it.
    void aFullLookNowAndThen()
    {
        writeFile(inbox("a.mp3"));
        QVERIFY(::link(QFile::encodeName(inbox("a.mp3")), QFile::encodeName(dir_->filePath("a-link"))) == 0);
        p_->updatestats();
        HeldFile writer("write", dir_->filePath("a-link"));
        QVERIFY(writer.isHolding());
        QTRY_VERIFY_WITH_TIMEOUT((p_->updatestats(), counters() == QList<int>({1, 1, 0, 0})), 90000);
    }

    // The scan's own opening of a file is no news; another program's is.
    void ownLooksAreNotNews()
    {
        writeFile(inbox("a.mp3"));
        FolderWatch watch;
        QVERIFY(watch.watch(inbox()));
        ScanFolder folder(inbox(), &watch);
        QVERIFY(folder.check("a.mp3", nullptr).free);
        FolderWatch::Changes changes;
        watch.collect(changes);
        QVERIFY(changes.names.isEmpty() && !changes.lookAgain);
        HeldFile("read", inbox("a.mp3")).release();
        watch.collect(changes);
        QCOMPARE(changes.names, QSet<QByteArray>{"a.mp3"});
    }

    // More files arrive at once than the kernel keeps events for: the lost
    // events are made up for by a full look. The counters count past 32767.
    // In memory where it can be: creating so many files on a disk is slow.
    void aFloodOfFilesIsListedInFull()
    {
        QTemporaryDir memory(QFileInfo("/dev/shm").isWritable() ? "/dev/shm/tovrel-XXXXXX" : dir_->filePath("flood"));
        p_->setInboxpath(memory.path() + "/");
        p_->updatestats();
        QFile limit("/proc/sys/fs/inotify/max_queued_events");
        QVERIFY(limit.open(QIODevice::ReadOnly));
        const int files = qMax(32769, limit.readAll().trimmed().toInt() / 2 + 100); // three events each
        for (int i = 0; i < files; ++i)
            QVERIFY(QFile(memory.filePath(QString::number(i) + ".mp3")).open(QIODevice::WriteOnly));
        p_->updatestats();
        QCOMPARE(p_->inboxcount(), files);
        QVERIFY(files < 99990);
        QCOMPARE(p_->InboxFiles(files), QStringLiteral("9999.mp3")); // last by name
    }

    // Where no watch can be set the whole inbox is looked at on every pass. Run
    // again in a user namespace whose inotify instance limit is 0.
    void withoutAWatchEveryPassLooksAtEverything()
    {
        if (!qEnvironmentVariableIsSet("TOVREL_IN_NAMESPACE")) {
            QProcess child;
            child.setProcessChannelMode(QProcess::ForwardedChannels);
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("TOVREL_IN_NAMESPACE", "1");
            child.setProcessEnvironment(environment);
            child.start("unshare", {"--user", "--map-root-user", "sh", "-c",
                                    "echo 0 >/proc/sys/user/max_inotify_instances && exec \"$0\" \"$1\"",
                                    QCoreApplication::applicationFilePath(), QTest::currentTestFunction()});
            QVERIFY(child.waitForFinished(60000));
            QCOMPARE(child.exitCode(), 0);
            return;
        }
        QVERIFY(!FolderWatch().watch(inbox()));
        writeFile(inbox("a.mp3"));
        p_->updatestats();
        writeFile(inbox("b.mp3"));
        QVERIFY(QFile::remove(inbox("a.mp3")));
        HeldFile reader("read", inbox("b.mp3"));
        p_->updatestats();
        QCOMPARE(listed(), (QStringList{"", "b.mp3"}));
        QCOMPARE(counters(), QList<int>({1, 1, 0, 0}));
    }

    // Seen by an ordinary account: a file it could not remove after the copy is
    // not taken, nor is another account's file that changed just now (its
    // writer cannot be seen); the first in line says why.
    void holdsWhatItCannotRemoveOrSeeWritten_data()
    {
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<bool>("ownFile");
        QTest::addColumn<QString>("answer");
        const QString cannotRemove = "Cannot Process files yet.  a.mp3 cannot be removed from the inbox, so it is left "
                                     "alone. 1",
                      settling = "Cannot Process files yet.  a.mp3 waits until it has not changed for a few seconds. 1";
        QTest::newRow("read-only inbox") << 0755 << false << cannotRemove;
        QTest::newRow("another's file, shared folder") << 01777 << false << cannotRemove;
        QTest::newRow("own file, shared folder") << 01777 << true << "chosen a.mp3 0";
        QTest::newRow("another's file just written") << 0777 << false << settling;
        // Copied keeping its times (cp -p): an old modification time, yet changed just now.
        QTest::newRow("another's file just written, old times") << 0777 << false << settling;
    }

    void holdsWhatItCannotRemoveOrSeeWritten()
    {
        QFETCH(int, folderMode);
        QFETCH(bool, ownFile);
        if (::geteuid() != 0)
            QSKIP("needs root to act as another user");
        QTemporaryDir shared("/tmp/tovrel-held-XXXXXX");
        QDir(shared.path()).mkpath("inbox");
        QDir(shared.path()).mkpath("outbox");
        const QByteArray inbox = QFile::encodeName(shared.filePath("inbox"));
        writeFile(shared.filePath("inbox/a.mp3"));
        for (const auto& [path, mode] : {std::pair{QFile::encodeName(shared.path()), 0755},
                                         {QFile::encodeName(shared.filePath("outbox")), 0777},
                                         {inbox, folderMode},
                                         {inbox + "/a.mp3", 0644}})
            QVERIFY(::chmod(path, mode_t(mode)) == 0);
        if (ownFile)
            QVERIFY(::chown(inbox + "/a.mp3", 65534, 65534) == 0);
        const struct timespec old[2] = {{988000000, 0}, {988000000, 0}};
        if (QByteArray(QTest::currentDataTag()).contains("old times"))
            QVERIFY(::utimensat(AT_FDCWD, inbox + "/a.mp3", old, 0) == 0);
        QTest::qWait(2100); // changed 2 seconds ago: settled for those who see every writer
        const QString answer = TestSupport::outputAsOrdinaryAccount(
            {QCoreApplication::applicationFilePath(), "heldProbe", inbox, shared.filePath("outbox")});
        if (answer.isEmpty())
            QSKIP("the test executable cannot be run as another user from this folder");
        QTEST(answer, "answer");
    }
};

// Run as "test_scan heldProbe INBOX OUTBOX", the executable chooses the next
// file and answers the choice or the status, then the count of held files.
int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && qstrcmp(argv[1], "heldProbe") == 0) {
        processor engine;
        engine.setInboxpath(QFile::decodeName(argv[2]) + "/");
        engine.setOutboxpath(QFile::decodeName(argv[3]) + "/");
        const bool chosen = engine.getnextfile();
        engine.updatestats();
        std::printf("%s %d\n", qPrintable(chosen ? "chosen " + engine.currentinfile() : engine.ServiceStatus()),
                    engine.inboxlockcount());
        return 0;
    }
    TestScan scan;
    return QTest::qExec(&scan, argc, argv);
}
#include "test_scan.moc"
