#include "Mp3Fixture.h"
#include "TestSupport.h"

#include "engine/FilingService.h"
#include "engine/OutboxRefile.h"
#include "engine/PutBack.h"
#include "engine/PutBackNotes.h"

#include <QtTest>

#include <sys/mount.h>
#include <tuple>
#include <unistd.h>

namespace {

// A filing service on the test's thread, with no window and no settings file,
// its folders in a temporary root, and what it told.
struct Driven {
    explicit Driven(bool on = true)
    {
        for (const QString& folder : {inbox, outbox, errors})
            QDir().mkpath(folder);
        QObject::connect(&service, &FilingService::statusChanged, [this](const QString& text) {
            status = text;
            if (text != "Idle..." && (statuses.isEmpty() || statuses.last() != text))
                statuses << text;
        });
        QObject::connect(&service, &FilingService::countsChanged, [this](const FilingService::Counts& told) {
            counts =
                QString(" | %1 %2 %3 %4").arg(told.inbox).arg(told.inboxLocked).arg(told.tooBig).arg(told.outboxLocked);
        });
        QObject::connect(&service, &FilingService::inboxListed, [this](const FilingService::Listing& listing) {
            listed = listing.names;
            for (const InboxVerdicts::LeftAlone& entry : listing.leftAlone)
                listed << entry.name + " (" + entry.reason + ")";
        });
        QObject::connect(&service, &FilingService::backlogChanged, [this](int done, int total) {
            if (total > 0 && (backlog.isEmpty() || backlog.last() != QString("%1 of %2").arg(done).arg(total)))
                backlog << QString("%1 of %2").arg(done).arg(total);
        });
        service.configure({on, inbox + "/", outbox + "/", errors + "/", kDefaultFolderFormat, {}});
        service.run(on);
        service.pausePolling(); // the test takes the steps
    }
    // One polling step: the status and the four counters.
    QString tick()
    {
        service.step();
        return status + counts;
    }
    // A polling step, done once the file it handed over is filed: the status then.
    QString filingStep()
    {
        tick();
        return QTest::qWaitFor([&] { return service.fileInHand().isEmpty(); }, 60000) ? status : "still filing";
    }

    QTemporaryDir root;
    const QString inbox = root.path() + "/inbox", outbox = root.path() + "/outbox", errors = root.path() + "/errors";
    FilingService service;
    QString status, counts;
    QStringList statuses, listed, backlog;
};

} // namespace

class TestService : public QObject {
    Q_OBJECT

private slots:
    void init() { QFile::remove(History().filePath()); }

    // Off: the inbox listed, nothing filed. On: it drains in name order, not a file a step, a bad one set aside.
    void backlogDrainsInOrderWithAFailureInTheMiddle()
    {
        Driven driven(false);
        QCOMPARE(driven.tick(), "Idle... | 0 0 0 0");
        const QString filed = driven.outbox + "/Alpha/First/";
        for (int track : {1, 3, 4, 6}) // 2 is no music, 5 is in the outbox already, 6's name is taken there
            QVERIFY(Mp3Fixture::write(driven.inbox + QString("/%1.mp3").arg(track), "Alpha", "First", "Song", track));
        TestSupport::writeFile(driven.inbox + "/2.mp3", "not audio at all");
        const QByteArray song = Mp3Fixture::build({"Alpha", "First", "Again", "5"});
        for (const QString& path : {driven.inbox + "/5.mp3", filed + "5.mp3"})
            TestSupport::writeFile(path, song);
        TestSupport::writeFile(filed + "6.mp3", "another song");
        QTest::qWait(1200); // held until they have not changed for 2 seconds: a writer may pause for a second
        QCOMPARE(driven.tick(), "Idle... | 6 6 0 0");
        QTest::qWait(900);
        TestSupport::writeFile(driven.inbox + "/notes.txt");
        QCOMPARE(driven.tick(), "Idle... | 6 0 0 0");
        QCOMPARE(driven.listed,
                 QStringList({"1.mp3", "2.mp3", "3.mp3", "4.mp3", "5.mp3", "6.mp3", "notes.txt (not music)"}));

        driven.service.findChild<QTimer*>("Timer")->start(3600 * 1000); // a filed file starts the next step
        driven.service.setOn(true);
        driven.service.step();
        QTRY_COMPARE(driven.statuses.size(), 10);
        QCOMPARE(driven.statuses,
                 QStringList({"Processing 1.mp3", "Processing 2.mp3",
                              "Cannot file 2.mp3: Invalid file format. Moved to the errors folder.", "Processing 3.mp3",
                              "Processing 4.mp3", "Processing 5.mp3",
                              "5.mp3 is already in the outbox as 5.mp3: removed from the inbox.", "Processing 6.mp3",
                              "6.mp3 was filed as 6 (2).mp3: another file had its name.",
                              "No music waiting; 1 other file is left alone."}));
        QCOMPARE(driven.backlog, QStringList({"0 of 6", "1 of 6", "2 of 6", "3 of 6", "4 of 6", "5 of 6", "6 of 6"}));
        QVERIFY(QDir(driven.inbox).mkdir("Scans"));
        QCOMPARE(driven.tick(), "No music waiting; 2 other files are left alone. | 0 0 0 0");
        QCOMPARE(TestSupport::readFile(driven.errors + "/Invalid file format/2.mp3"), QByteArray("not audio at all"));
        QVERIFY(driven.service.report().contains("\n  " + QDateTime::currentDateTime().toString("yyyy-MM-dd")));
    }

    void fileThatCannotBeFiledWaitsOrIsSetAside_data()
    {
        QTest::addColumn<QString>("obstacle");
        QTest::addColumn<QString>("status");   // of the first step; %1 is the temporary root
        QTest::addColumn<bool>("othersFiled"); // whether 2.mp3, bound elsewhere, is filed meanwhile
        QTest::addColumn<QString>("last");     // three steps after the obstacle went, if it can go
        const auto row = [](const char* obstacle, const QString& status, bool othersFiled = true,
                            const QString& last = "No files in inbox.   | 0 0 0 0") {
            QTest::newRow(obstacle) << QString(obstacle) << status << othersFiled << last;
        };
        const QString waits = "1.mp3 waits in the inbox: cannot write to %1/outbox/";
        row("file", waits + "Artist (File already exists)."); // where a folder should be
        row("read-only", waits + " (Permission denied).", false);
        row("no inodes", waits + " (Disk full).", false);
        row("read-only errors", "Cannot file 1.mp3: Invalid file format. Left in the inbox: cannot write to %1/errors/ "
                                "(Permission denied).");
        // Copied but not removable from the inbox: set aside, named once, recorded once, counted as held.
        const QString aside = "1.mp3 was filed, but it could not be removed from the inbox (%1), so it is left alone.";
        const QString held = "Cannot Process files yet.  1.mp3 cannot be removed from the inbox (%1), so it is left "
                             "alone. | %2 %2 0 0";
        for (const auto& [obstacle, why, files] :
             {std::tuple{"immutable", "it is immutable", 1},
              {"a name in the way", ".tovrel-removing in the inbox is in the way", 2}})
            row(obstacle, aside.arg(why), true, held.arg(why).arg(files));
    }

    // A file a destination cannot take waits untouched while others go on; one that cannot be removed is set aside.
    void fileThatCannotBeFiledWaitsOrIsSetAside()
    {
        QFETCH(QString, obstacle);
        Driven driven;
        const bool toErrors = obstacle == "read-only errors",
                   mounted = obstacle == "no inodes" || obstacle.startsWith("read-only");
        const QString mountPoint = toErrors ? driven.errors : driven.outbox, first = driven.inbox + "/1.mp3";
        const auto mountTmpfs = [&](unsigned long flags, const char* options) {
            return ::mount("tmpfs", QFile::encodeName(mountPoint), "tmpfs", flags, options) == 0;
        };
        if (mounted && (::geteuid() != 0 || !mountTmpfs(obstacle == "no inodes" ? 0 : MS_RDONLY, "nr_inodes=2")))
            QSKIP("needs root to mount a file system");
        const auto undo = qScopeGuard([&] {
            ::umount2(QFile::encodeName(mountPoint), MNT_DETACH);
            QProcess::execute("chattr", {"-i", first});
        });
        if (obstacle == "no inodes" || obstacle == "file")
            TestSupport::writeFile(driven.outbox + (obstacle == "file" ? "/Artist" : "/filler"));
        const QByteArray song =
            toErrors ? QByteArray("not audio") : Mp3Fixture::build({"Artist", "Album", "Song", "1"});
        TestSupport::writeFile(first, song);
        QVERIFY(Mp3Fixture::write(driven.inbox + "/2.mp3", "Other", "Album", "Song", 2));
        if (obstacle == "immutable" && QProcess::execute("chattr", {"+i", first}) != 0)
            QSKIP("needs root and a file system with immutable files");
        if (obstacle == "a name in the way") // the hidden folder's name and the one that stands in for it
            for (const QString& name : {QString(), "-" + QString::number(::geteuid())})
                TestSupport::writeFile(driven.inbox + "/.tovrel-removing" + name, "stale");
        QTest::qWait(2100); // taken once they have not changed for 2 seconds

        QFETCH(QString, status);
        QCOMPARE(driven.filingStep(), status.replace("%1", driven.root.path()));
        QCOMPARE(TestSupport::readFile(first), song);
        driven.filingStep();
        QTEST(QFileInfo::exists(driven.outbox + "/Other/Album/2.mp3"), "othersFiled");
        if (mounted || obstacle == "file")
            QVERIFY(mounted ? mountTmpfs(MS_REMOUNT, "nr_inodes=99") : QFile::remove(driven.outbox + "/Artist"));
        for (int step = 0; step < 3; ++step)
            driven.filingStep();
        QTEST(driven.tick(), "last");
        const QString filed =
            toErrors ? driven.errors + "/Invalid file format/1.mp3" : driven.outbox + "/Artist/Album/1.mp3";
        QCOMPARE(TestSupport::readFile(filed), song);
        const QByteArray history = TestSupport::readFile(History().filePath()); // the errors folder's refusal too
        QCOMPARE(history.count("\t1.mp3\t"), toErrors ? 2 : 1);
        QCOMPARE(history.count("\t1.mp3\t" + filed.toUtf8()), 1);
        if (obstacle == "a name in the way") { // once the names are gone, Stop and Start try the file again
            QVERIFY(QFile::remove(driven.inbox + "/.tovrel-removing") &&
                    QFile::remove(driven.inbox + "/.tovrel-removing-" + QString::number(::geteuid())));
            driven.service.setOn(false);
            driven.service.setOn(true);
            driven.filingStep(); // the first step after Start files it
            QVERIFY(!QFileInfo::exists(first));
        }
    }

    // An album's companion that cannot leave the inbox is told once, and the status keeps saying it for a while.
    void companionLeftInTheInboxIsToldAWhile()
    {
        Driven driven;
        QVERIFY(Mp3Fixture::write(driven.inbox + "/Held/01.mp3", "Artist", "Album", "Song", 1));
        TestSupport::writeFile(driven.inbox + "/Held/cover.jpg", "jpeg");
        const auto undo = qScopeGuard([&] { QProcess::execute("chattr", {"-i", driven.inbox + "/Held/cover.jpg"}); });
        if (QProcess::execute("chattr", {"+i", driven.inbox + "/Held/cover.jpg"}) != 0)
            QSKIP("needs root and a file system with immutable files");
        driven.tick(); // the listing tells the folder's state as it changes
        QCOMPARE(driven.listed, QStringList({"Held/01.mp3", "Held (the folder is still changing)"}));
        QTest::qWait(3100); // an album folder is taken once it has stood still
        QCOMPARE(driven.filingStep(), "Processing Held/01.mp3");
        QCOMPARE(driven.listed, QStringList({"Held/01.mp3", "Held (album: its songs are filed one by one)"}));
        const QString told = "Held/cover.jpg was filed, but it could not be removed from the inbox (it is immutable), "
                             "so it is left alone.";
        QCOMPARE(driven.filingStep(), told);
        QCOMPARE(driven.tick(), told + " | 0 0 0 0");
        QVERIFY(QFileInfo::exists(driven.outbox + "/Artist/Album/cover.jpg"));
    }

    // A library re-filed in a new layout, stopped halfway and run again: each song where its tags put it, companions
    // with them, a taken name numbered, an identical file a duplicate, emptied folders gone, nothing else touched.
    // A song put back waits in the inbox until its tags change, and is then filed where they say.
    void refileTheLibraryAndPutASongBack()
    {
        Driven driven;
        const QString out = driven.outbox + "/";
        const auto song = [](const QString& title, const QString& track, const QStringList& more) {
            return Mp3Fixture::build({"Band", "Double", title, track, more});
        };
        const QMap<QString, QByteArray> library{
            {"Band/Double/01 - One.mp3", song("One", "1", {"TPOS=1/2"})},
            {"Band/Double/01 - Two.mp3", song("Two", "1", {"TPOS=2/2"})},
            {"Band/Double/01 - One.lrc", "lyrics"},
            {"Band/Double/cover.jpg", "picture"},
            {"Band/Double/rip.log", "log"},
            {"Band/notes.txt", "mine"},
            {"Solo/Hits/01 - Hit.mp3", Mp3Fixture::build({"Solo", "Hits", "Hit", "1", {"TPE2=Various Artists"}})},
            {"Solo/Hits/02 - Same.mp3", Mp3Fixture::build({"Solo", "Hits", "Same", "2", {"TPE2=Various Artists"}})},
            {"Various Artists/Hits/01 - Hit.mp3", "another file of that name"},
            {"Various Artists/Hits/02 - Same.mp3",
             Mp3Fixture::build({"Solo", "Hits", "Same", "2", {"TPE2=Various Artists"}})},
            {".tovrel-partial/1-x", "the program's own"}};
        for (auto file = library.cbegin(); file != library.cend(); ++file)
            TestSupport::writeFile(out + file.key(), file.value());
        OutboxRefile refile(out, "%aa\\%al\\Disc %d", {});
        QCOMPARE(refile.countMoves(), 4);
        QStringList moved;
        QHash<QString, QString> history;
        const auto told = [&](const OutboxRefile::Moved& move) {
            const QString to = move.moved.folder + move.moved.name;
            moved << move.from.mid(out.size()) + " > " + (move.failure.isEmpty() ? to.mid(out.size()) : move.failure);
            history.insert(move.from, to);
        };
        QVERIFY(!refile.run(told, [&] { return moved.size() < 1; })); // stopped after the first song
        QVERIFY(refile.run(told, {}, history));
        QCOMPARE(moved, QStringList({"Band/Double/01 - One.mp3 > Band/Double/Disc 1/01 - One.mp3",
                                     "Band/Double/01 - Two.mp3 > Band/Double/Disc 2/01 - Two.mp3",
                                     "Band/Double/01 - One.lrc > Band/Double/Disc 1/01 - One.lrc",
                                     "Band/Double/cover.jpg > Band/Double/Disc 1/cover.jpg",
                                     "Band/Double/cover.jpg > Band/Double/Disc 2/cover.jpg",
                                     "Solo/Hits/01 - Hit.mp3 > Various Artists/Hits/01 - Hit (2).mp3",
                                     "Solo/Hits/02 - Same.mp3 > Various Artists/Hits/02 - Same.mp3",
                                     "Various Artists/Hits/01 - Hit.mp3 > Invalid file format"})); // told, left alone
        QDirIterator all(out, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        QStringList files;
        while (all.hasNext())
            files << all.next().mid(out.size());
        files.sort();
        QCOMPARE(files, QStringList({".tovrel-partial/1-x", "Band/Double/Disc 1/01 - One.lrc",
                                     "Band/Double/Disc 1/01 - One.mp3", "Band/Double/Disc 1/cover.jpg",
                                     "Band/Double/Disc 2/01 - Two.mp3", "Band/Double/Disc 2/cover.jpg",
                                     "Band/Double/rip.log", "Band/notes.txt", "Various Artists/Hits/01 - Hit (2).mp3",
                                     "Various Artists/Hits/01 - Hit.mp3", "Various Artists/Hits/02 - Same.mp3"}));
        QVERIFY(!QFileInfo::exists(out + "Solo"));
        QCOMPARE(refile.countMoves(), 0);

        // Through the service, on its filing thread: a song placed by hand is re-filed with the others.
        TestSupport::writeFile(out + "Loose/b.mp3", Mp3Fixture::build({"Band", "Live", "B", "2"}));
        driven.service.configure({true, driven.inbox + "/", out, driven.errors + "/", "%aa\\%al\\Disc %d", {}});
        driven.service.refile();
        QTRY_COMPARE(driven.status, "The outbox is re-filed.");
        QCOMPARE(driven.backlog.last(), "5 of 6"); // the songs looked at before the last, of all
        QVERIFY(QFileInfo::exists(out + "Band/Live/b.mp3") && !QFileInfo::exists(out + "Loose"));

        PutBackNotes notes;
        const MoveResult back =
            PutBack::file(driven.inbox + "/", out, out + "Band/Double/Disc 2/01 - Two.mp3", "../Drop/./02.mp3", notes);
        QCOMPARE(back.folder + back.name, driven.inbox + "/Drop/02.mp3");
        QVERIFY_THROWS_EXCEPTION(FilingError,
                                 PutBack::file(driven.inbox + "/", out, driven.root.path() + "/x.mp3", {}, notes));
        QTest::qWait(3100); // the album folder stands still
        driven.tick();
        QCOMPARE(driven.filingStep(), "The outbox is re-filed."); // held a while, and nothing filed
        QCOMPARE(driven.listed.first(), "Drop/02.mp3");
        TestSupport::writeFile(driven.inbox + "/Drop/02.mp3", Mp3Fixture::build({"Band", "Live", "Two", "2"}));
        QTest::qWait(3100);
        driven.filingStep();
        QVERIFY(QFileInfo::exists(out + "Band/Live/02.mp3"));
    }
};

QTEST_GUILESS_MAIN(TestService)
#include "test_service.moc"
