// The inbox scan: what is listed and counted, which file is chosen next, and the checks made of each file.
#include "TestSupport.h"

#include "engine/FileName.h"
#include "engine/FolderWatch.h"
#include "engine/ScanFolder.h"
#include "engine/commonold.h"
#include "engine/processor.h"

#include <QtTest>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace commonold;
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
    // After a look, as every step makes: listed, held in the inbox, too big, waiting for a held outbox name.
    QList<int> counters()
    {
        p_->updatestats();
        return {p_->inboxcount(), p_->inboxlockcount(), p_->toobigcount(), p_->outboxlockcount()};
    }
    QString next() { return p_->getnextfile() ? p_->currentinfile() : QString(); }

private slots:
    // Under /tmp and open to all, so that the ordinary account can reach it.
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>("/tmp/tovrel-scan-XXXXXX");
        QVERIFY(::chmod(QFile::encodeName(dir_->path()), 0755) == 0);
        QVERIFY(QDir().mkpath(inbox()) && QDir().mkpath(outbox()));
        p_ = std::make_unique<processor>();
        p_->setInboxpath(inbox());
        p_->setOutboxpath(outbox());
    }

    void listsPlainAudioFilesByNameIgnoringCase()
    {
        QCOMPARE(TestSupport::failureOf([&] { p_->InboxFiles(0); }).number(), 9); // nothing listed yet
        for (const char* name : {"b.mp3", "A.mp3", "c.MP3", "notes.txt", ".hidden.mp3", "Long name alike 2.mp3",
                                 "long name alike 1.mp3", // alike in their first 16 bytes
                                 "d.FLAC", "e.ogg", "f.Opus", "g.m4a", "h.wv", "i.aif", "j.wav", "k.flac.txt"})
            writeFile(inbox(name));
        QDir(inbox()).mkdir("folder.mp3");
        QFile::link(inbox("b.mp3"), inbox("link.mp3"));
        p_->updatestats();
        QCOMPARE(listed(), (QStringList{"", "A.mp3", "b.mp3", "c.MP3", "d.FLAC", "e.ogg", "f.Opus", "g.m4a", "h.wv",
                                        "i.aif", "long name alike 1.mp3", "Long name alike 2.mp3"}));
        QCOMPARE(TestSupport::failureOf([&] { p_->InboxFiles(12); }).number(), 9);
        QStringList leftAlone; // each with its reason
        for (const auto& entry : p_->base().leftAlone())
            leftAlone << entry.name + ": " + entry.reason;
        QCOMPARE(leftAlone, (QStringList{"folder.mp3: the folder is still changing", "j.wav: not music",
                                         "k.flac.txt: not music", "link.mp3: not music", "notes.txt: not music"}));
        QVERIFY(QFile::remove(inbox("notes.txt"))); // seen by the watch, between full looks
        p_->updatestats();
        QCOMPARE(p_->base().leftAlone().size(), size_t(4));
        p_->setInboxpath(dir_->filePath("gone/")); // a missing inbox fails as a missing path
        QCOMPARE(TestSupport::failureOf([&] { p_->updatestats(); }).number(), 76);
    }

    // A held file and one too big for the outbox disk are counted and passed over; the next good file is chosen.
    void passesOverWhatCannotBeFiledYet()
    {
        writeFile(inbox("a held.mp3"));
        HeldFile writer("write", inbox("a held.mp3"));
        QVERIFY(writer.isHolding());
        writeFile(inbox("c free.mp3"));
        QFile big(inbox("0 big.mp3")); // sparse: past the free space by far, taking none of it
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(DiskFreeBytes(outbox()) + (qint64(1) << 32)));
        big.close();
        // A file is taken once it has not changed for 2 seconds: not after 1.2 seconds, yet after 2.1.
        QTest::qWait(1200);
        QVERIFY(!p_->getnextfile());
        QCOMPARE(p_->ServiceStatus(),
                 "Cannot Process files yet.  0 big.mp3 waits until it has not changed for a few seconds.");
        QTest::qWait(900);
        p_->updatestats(); // as every step does: the files that were settling are asked again

        QCOMPARE(next(), QStringLiteral("c free.mp3"));
        QCOMPARE(p_->ServiceStatus(), QString());
        QCOMPARE(counters(), QList<int>({3, 1, 1, 0}));

        QVERIFY(QFile::remove(inbox("c free.mp3")));
        QVERIFY(!p_->getnextfile());
        QCOMPARE(p_->ServiceStatus(), QStringLiteral("Cannot Process files yet.  "));
        QCOMPARE(p_->currentinfile(), QStringLiteral("c free.mp3")); // kept from the last choice
        // ".mp3" is no name: the output name stays. Other formats keep their own name, however short.
        for (const auto& [in, out] : {std::pair{"Track.MP3", "Track.mp3"}, {".mp3", "Track.mp3"}, {"a.wv", "a.wv"}}) {
            p_->setCurrentinfile(in);
            QCOMPARE(p_->currentoutfile(), QString(out));
        }
    }

    // Between full looks only what the kernel reports is looked at again, and files held open. A file opened
    // through a hard link in another folder is not reported: it is looked at again before it is chosen.
    void eventsDriveTheVerdicts()
    {
        for (const char* name : {"0.mp3", "a.mp3", "b.mp3", "c.mp3"})
            writeFile(inbox(name));
        FolderWatch watch; // the scan's own opening of a file is no news; another program's is
        QVERIFY(watch.watch(inbox()));
        QVERIFY(ScanFolder(inbox(), &watch).check("a.mp3", nullptr).free);
        FolderWatch::Changes changes;
        watch.collect(changes);
        QVERIFY(changes.names.isEmpty() && !changes.lookAgain);
        HeldFile("read", inbox("a.mp3")).release();
        watch.collect(changes);
        QCOMPARE(changes.names, QSet<QByteArray>{"a.mp3"});
        QVERIFY(::link(QFile::encodeName(inbox("b.mp3")), QFile::encodeName(dir_->filePath("b-link"))) == 0);
        QVERIFY(::link(QFile::encodeName(inbox("0.mp3")), QFile::encodeName(dir_->filePath("0-link"))) == 0);
        auto writer = std::make_unique<HeldFile>("write", inbox("a.mp3"));
        auto elsewhere = std::make_unique<HeldFile>("read", dir_->filePath("b-link"));
        QVERIFY(writer->isHolding() && elsewhere->isHolding());
        QTest::qWait(2100); // the files stand still
        QCOMPARE(counters(), QList<int>({4, 2, 0, 0}));

        auto reader = std::make_unique<HeldFile>("read", inbox("c.mp3"));
        auto unreported = std::make_unique<HeldFile>("read", dir_->filePath("0-link"));
        writer.reset(); // closed: free at once, for getnextfile too
        QCOMPARE(next(), QStringLiteral("a.mp3"));
        elsewhere.reset(); // lets go without an event here: asked again on every updatestats
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
        QCOMPARE(counters(), QList<int>({3, 0, 0, 1}));
        QCOMPARE(listed(), (QStringList{"", FileName::decode("\xe9t\xe9.mp3"), "a.mp3", "B2.mp3"}));
        QVERIFY(::unlink(latin1.constData()) == 0);
        QCOMPARE(next(), QStringLiteral("B2.mp3")); // a.mp3 waits for its outbox name
        outboxReader.release();
        QVERIFY(QFile::remove(inbox("B2.mp3")));
        QCOMPARE(next(), QStringLiteral("a.mp3"));
    }

    // A file that stood still, then is held through a hard link elsewhere, gives no event here: only the full look,
    // about once a minute, sees it held.
    void aFullLookNowAndThen()
    {
        writeFile(inbox("a.mp3"));
        QVERIFY(::link(QFile::encodeName(inbox("a.mp3")), QFile::encodeName(dir_->filePath("a-link"))) == 0);
        QTest::qWait(2100);
        p_->updatestats();
        HeldFile writer("write", dir_->filePath("a-link"));
        QVERIFY(writer.isHolding());
        QCOMPARE(counters(), QList<int>({1, 0, 0, 0}));
        QTRY_VERIFY_WITH_TIMEOUT(counters() == QList<int>({1, 1, 0, 0}), 75000);
    }

    // More files at once than the kernel keeps events for: a full look makes up for them. Counters pass 32767.
    void aFloodOfFilesIsListedInFull()
    {
        QTemporaryDir memory(QFileInfo("/dev/shm").isWritable() ? "/dev/shm/tovrel-XXXXXX" : dir_->filePath("flood"));
        p_->setInboxpath(memory.path() + "/");
        p_->updatestats();
        const QByteArray limit = TestSupport::readFile("/proc/sys/fs/inotify/max_queued_events");
        const int files = qMax(32769, limit.trimmed().toInt() / 2 + 100); // three events each
        for (int i = 0; i < files; ++i)
            QVERIFY(QFile(memory.filePath(QString::number(i) + ".mp3")).open(QIODevice::WriteOnly));
        QCOMPARE(counters().first(), files);
        QCOMPARE(p_->InboxFiles(files), QStringLiteral("9999.mp3")); // last by name
    }

    // Where no watch can be set every pass looks at the whole inbox: run again where no inotify instance may be made.
    void withoutAWatchEveryPassLooksAtEverything()
    {
        const QString limit = "/proc/sys/user/max_inotify_instances";
        if (TestSupport::readFile(limit).trimmed() != "0") {
            QVERIFY(QProcess::execute("unshare",
                                      {"--user", "--map-root-user", "sh", "-c",
                                       "echo 0 >" + limit + " && exec \"$0\" \"$1\"",
                                       QCoreApplication::applicationFilePath(), QTest::currentTestFunction()}) == 0);
            return;
        }
        QVERIFY(!FolderWatch().watch(inbox()));
        writeFile(inbox("a.mp3"));
        p_->updatestats();
        writeFile(inbox("b.mp3"));
        QVERIFY(QFile::remove(inbox("a.mp3")));
        HeldFile reader("read", inbox("b.mp3"));
        QCOMPARE(counters(), QList<int>({1, 1, 0, 0}));
        QCOMPARE(listed(), (QStringList{"", "b.mp3"}));
    }

    // Seen by an ordinary account: a file it could not remove after the copy is not taken, nor is another
    // account's file that changed just now (its writer cannot be seen); the first in line says why.
    void holdsWhatItCannotRemoveOrSeeWritten_data()
    {
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<QString>("answer");
        const QString yet = "Cannot Process files yet.  a.mp3 ",
                      cannotRemove = yet + "cannot be removed from the inbox, so it is left alone. 1";
        QTest::newRow("read-only inbox") << 0755 << cannotRemove;
        QTest::newRow("another's file, shared folder") << 01777 << cannotRemove;
        QTest::newRow("own file, shared folder") << 01777 << "chosen a.mp3 0";
        QTest::newRow("another's, just written") << 0777 << yet + "waits until it has not changed for a few seconds. 1";
    }

    void holdsWhatItCannotRemoveOrSeeWritten()
    {
        QFETCH(int, folderMode);
        if (::geteuid() != 0)
            QSKIP("needs root to act as another user");
        const QByteArray song = QFile::encodeName(inbox("a.mp3"));
        writeFile(inbox("a.mp3"));
        QVERIFY(::chmod(QFile::encodeName(outbox()), 0777) == 0 &&
                ::chmod(QFile::encodeName(inbox()), mode_t(folderMode)) == 0 && ::chmod(song, 0644) == 0);
        if (QByteArray(QTest::currentDataTag()).startsWith("own"))
            QVERIFY(::chown(song, 65534, 65534) == 0);
        // As copied keeping its times (cp -p): an old modification time, yet changed just now.
        const struct timespec old[2] = {{988000000, 0}, {988000000, 0}};
        QVERIFY(::utimensat(AT_FDCWD, song, old, 0) == 0);
        QTest::qWait(2100); // changed 2 seconds ago: settled for those who see every writer
        const QString answer = TestSupport::outputAsOrdinaryAccount(
            {QCoreApplication::applicationFilePath(), "heldProbe", inbox(), outbox()});
        if (answer.isEmpty())
            QSKIP("the test executable cannot be run as another user from this folder");
        QTEST(answer, "answer");
    }

    // A name is never a pattern. Room is kept with a strict margin of 1,000,000 bytes, and none is where unknown. Held
    // by any means, a file is not free till let go; not let lease another's, it looks in /proc for its user's holders
    // (open files and mappings: the two tables it reads).
    void fileChecks()
    {
        const QString song = inbox("s[o]ng?.mp3");
        writeFile(song);
        QDir(inbox()).mkdir(".hidden");
        QVERIFY(FileExists(song) && FileExists(inbox(".hidden")) && IsFolderValid(inbox(".hidden")));
        QVERIFY(!FileExists(inbox("*.mp3")) && !FileExists(inbox("missing/a")) && !IsFolderValid(inbox("missing")));
        QVERIFY(IsFolderValid(inbox()) && IsFolderValid(dir_->filePath("inbox")) && IsFolderValid(""));
        QVERIFY(IsFolderValid("/") && !IsFolderValid(song) && !IsFolderValid(song + "/x"));
        QVERIFY(!FitsInFreeSpace(1000000, 2000000) && FitsInFreeSpace(999999, 2000000));
        QVERIFY(HasRoomFor(0, inbox()) && !HasRoomFor(1e15, inbox()) && !HasRoomFor(0, inbox("missing")));
        QCOMPARE(DiskFreeBytes(inbox("missing/folder")), 0);
        QVERIFY(!FileIsFree(inbox("missing.mp3")) && !FileIsFree(inbox()) && ::chmod(qPrintable(song), 0644) == 0);
        for (const QString mode : {"read", "write", "mmap", "flock"}) {
            HeldFile holder(mode, song);
            QVERIFY2(holder.isHolding() && !FileIsFree(song), qPrintable(mode));
            holder.release();
            QVERIFY(FileIsFree(song));
            if ((mode != "read" && mode != "mmap") || ::geteuid() != 0) // root acts as another user
                continue;
            HeldFile other(mode, song, TestSupport::asOrdinaryAccount());
            QVERIFY(other.isHolding());
            QCOMPARE(TestSupport::outputAsOrdinaryAccount(
                         {QCoreApplication::applicationFilePath(), "isFileFreeProbe", song}),
                     QStringLiteral("held"));
        }
    }
};

// Run as another account: "test_scan heldProbe INBOX OUTBOX" chooses the next file and answers the choice or the
// status, then the count of held files; "test_scan isFileFreeProbe PATH" answers "free", "held" or "settling".
int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "isFileFreeProbe") == 0) {
        const FileCheck check = CheckFile(QFile::decodeName(argv[2]));
        return std::puts(check.free ? "free" : check.settling ? "settling" : "held") < 0;
    }
    if (argc == 4 && qstrcmp(argv[1], "heldProbe") == 0) {
        processor engine;
        engine.setInboxpath(QFile::decodeName(argv[2]));
        engine.setOutboxpath(QFile::decodeName(argv[3]));
        const bool chosen = engine.getnextfile();
        engine.updatestats();
        return std::printf("%s %d\n", qPrintable(chosen ? "chosen " + engine.currentinfile() : engine.ServiceStatus()),
                           engine.inboxlockcount()) < 0;
    }
    TestScan scan;
    return QTest::qExec(&scan, argc, argv);
}
#include "test_scan.moc"
