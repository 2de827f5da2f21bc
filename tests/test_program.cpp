// The program as a user starts, lives with and ends it, and the history and notices it keeps.
#include "Mp3Fixture.h"
#include "TestSupport.h"

#include "config/SettingsStore.h"
#include "engine/FileInHand.h"
#include "engine/FileName.h"
#include "engine/History.h"
#include "engine/SafeMove.h"
#include "window/ErrorNotices.h"
#include "window/SingleInstance.h"
#include "window/TerminationSignals.h"

#include <QtTest>

#include <cerrno>
#include <csignal>
#include <unistd.h>

// Starts the program; a `command` given runs it, as another account.
static std::unique_ptr<QProcess> start(const QStringList& arguments = {}, QStringList command = {})
{
    auto program = std::make_unique<QProcess>();
    command << (command.isEmpty() ? TOVREL_PATH : TestSupport::reachableByOrdinaryAccount(TOVREL_PATH)) << arguments;
    program->start(command.first(), command.mid(1));
    program->waitForStarted();
    return program;
}

// Ends the program as the system asks it to; gives its exit status, -1 when it did not end by itself.
static int terminate(QProcess& program)
{
    program.terminate();
    return program.waitForFinished(10000) && program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
}

class TestProgram : public QObject {
    Q_OBJECT

    QTemporaryDir root_;
    QString folder(const QString& name) const { return root_.filePath(name); }

    // Drops a song into the inbox and waits until the service has filed it.
    bool filesASong(const QString& name)
    {
        return Mp3Fixture::write(folder("inbox/") + name, "Artist", "Album", "Song", 1) &&
               QTest::qWaitFor([&] { return QFileInfo::exists(folder("outbox/Artist/Album/") + name); }, 10000);
    }

private slots:
    void initTestCase()
    {
        TestSupport::clearSettingsWithFoldersIn(root_.path());
        QVERIFY(QDir().mkpath(folder("inbox")));
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status"); // 2: the text on standard error, else on standard output
        QTest::addColumn<QString>("text");
        const QString usage = "Usage: tovrel [options] [PATH...]\n";
        QTest::newRow("--help") << QStringList{"--minimized", "--help"} << 0 << usage;
        QTest::newRow("--version") << QStringList{"--version"} << 0 << "tovrel " TOVREL_VERSION "\n";
        QTest::newRow("unknown") << QStringList{"--minimised"} << 2 << "tovrel: Unknown option 'minimised'.\n" + usage;
        QTest::newRow("argument") << QStringList{"a.mp3"} << 2 << "tovrel: unexpected argument 'a.mp3'.\n" + usage;
        QTest::newRow("folder, no --headless") << QStringList{"--outbox", "/tmp"} << 2 << "tovrel: --inbox, --outbox";
        QTest::newRow("nested") << QStringList{"--headless", "--outbox", folder("inbox/sub")} << 2
                                << "tovrel: Can't have one location inside another: the outbox " +
                                       folder("inbox/sub/") + " is inside the inbox " + folder("inbox/") + ".\n";
        QTest::newRow("no parent") << QStringList{"--headless", "--outbox", folder("no/outbox")} << 2
                                   << "tovrel: Cannot use " + folder("no/outbox/") +
                                          " as the outbox: cannot write to " + folder("no/") + " (File not found).\n";
        QTest::newRow("--status") << QStringList{"--status"} << 3 << "Tovrel is not running for this account";
    }

    // Help, version and mistakes end the program before it files anything.
    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, text);
        TestSupport::writeFile(folder("inbox/waiting.mp3"), "not audio");
        const auto program = start(arguments);
        QVERIFY(program->waitForFinished(10000));
        QCOMPARE(program->exitCode(), status);
        const QString out = program->readAllStandardOutput(), err = program->readAllStandardError();
        QVERIFY2((status == 2 ? err : out).startsWith(text) && (status == 2 ? out : err).isEmpty(),
                 qPrintable(out + err));
        QCOMPARE((out + err).contains("--minimized"), text.contains("Usage"));
        QVERIFY(QFile::remove(folder("inbox/waiting.mp3")));
        QVERIFY(!QFileInfo::exists(folder("errors")) && !QFileInfo::exists(folder("outbox")));
    }

    // Headless, started whatever the start-up state, with its own folders and formats: a line per outcome (a put
    // back asked by another start among them) and no other
    // noise, asked by --status, named to a desktop start, ended by SIGTERM within 5 s.
    void headlessServiceTellsItsOutcomes()
    {
        QVERIFY(QDir().mkpath(folder("h")));
        SettingsStore::write(Setting::State, "False");
        const auto restore = qScopeGuard([] { SettingsStore::write(Setting::State, "True"); });
        const auto service = start({"--headless", "--outbox", folder("h/out"), "--errors", folder("h/errors"),
                                    "--format", "%al/Disc %d", "--name-format", "%t - %s"});
        QVERIFY(service->waitForReadyRead(10000));
        const QByteArray first = service->readAllStandardOutput();
        QVERIFY2(first.startsWith("Filing " + folder("inbox/").toUtf8()), first + service->readAllStandardError());
        QVERIFY(Mp3Fixture::write(folder("inbox/song.mp3"), "Artist", "Album", "Song", 1));
        TestSupport::writeFile(folder("inbox/bad.mp3"), "not audio");
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(folder("h/out/Album/01 - Song.mp3")), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(folder("h/errors/Invalid file format/bad.mp3")), 10000);
        QProcess status;
        status.start(TOVREL_PATH, {"--status"});
        QVERIFY(status.waitForFinished(10000) && status.exitCode() == 0);
        const QString report = status.readAllStandardOutput();
        QVERIFY2(report.startsWith("Tovrel is running without a window (process " +
                                   QString::number(service->processId()) + ").\nService: started\n") &&
                     report.contains("\tfiled\tsong.mp3\t" + folder("h/out/Album/01 - Song.mp3\n")),
                 qPrintable(report));
        QProcess back; // asked of the running service, its line relayed
        back.start(TOVREL_PATH, {"--put-back", folder("h/out/Album/01 - Song.mp3")});
        QVERIFY(back.waitForFinished(10000) && back.exitCode() == 0);
        QVERIFY(back.readAllStandardOutput().contains("\tput back\tsong.mp3\t" + folder("inbox/song.mp3").toUtf8()));
        QVERIFY(QFile::rename(folder("inbox/song.mp3"), folder("h/out/Album/01 - Song.mp3"))); // for the next test
        const auto desktop = start();
        QByteArray told; // each evaluation reads on
        QTRY_VERIFY_WITH_TIMEOUT((told += desktop->readAllStandardError()).contains("runs without a window"), 10000);
        desktop->kill();
        desktop->waitForFinished();
        QElapsedTimer ending;
        ending.start();
        QCOMPARE(terminate(*service), 0);
        QVERIFY(ending.elapsed() < 5000);
        const QStringList lines = QString(service->readAllStandardOutput()).split('\n');
        QCOMPARE(lines.size(), 5);
        QVERIFY(
            lines.filter(QRegularExpression("^[\\d-]{10}T[\\d:]{8}\t(filed\tsong|error\tbad|put back\tsong)\\.mp3\t"))
                .size() == 3);
        QCOMPARE(lines.mid(3), QStringList({"Stopped.", ""}));
        QCOMPARE(service->readAllStandardError(), QByteArray());
    }

    // After the headless run: --refile moves its song to the new format's place and removes the emptied folder;
    // --put-back returns it under the name it was filed under, followed back through the re-filing.
    void refileAndPutBackFromTheCommandLine()
    {
        const QStringList folders{"--outbox", folder("h/out"), "--errors", folder("h/errors")};
        const auto run = [](const QStringList& arguments) {
            QProcess program;
            program.start(TOVREL_PATH, arguments);
            program.waitForFinished(20000);
            return QString::number(program.exitCode()) + " " + program.readAllStandardOutput().replace('\t', ' ') +
                   program.readAllStandardError();
        };
        const QString time = "^0 [\\d-]{10}T[\\d:]{8} ";
        const QString refiled = run(QStringList{"--refile", "--format", "%ar"} + folders);
        QVERIFY2(QRegularExpression(time + "refiled " +
                                    QRegularExpression::escape(folder("h/out/Album/01 - Song.mp3 ") +
                                                               folder("h/out/Artist/01 - Song.mp3\n")) +
                                    "$")
                     .match(refiled)
                     .hasMatch(),
                 qPrintable(refiled));
        QVERIFY(!QFileInfo::exists(folder("h/out/Album")));
        const QString put = run(QStringList{"--put-back", folder("h/out/Artist/01 - Song.mp3")} + folders);
        QVERIFY2(put.contains(" put back song.mp3 " + folder("inbox/song.mp3") + " (from "), qPrintable(put));
        QVERIFY(QFileInfo::exists(folder("inbox/song.mp3")) &&
                !QFileInfo::exists(folder("h/out/Artist/01 - Song.mp3")));
        QVERIFY(QFile::remove(folder("inbox/song.mp3")));
    }

    // After a kill the next start runs, and one after that (also without XDG_RUNTIME_DIR) reaches it and ends. The file
    // whose tags were being read at the crash goes to the errors folder first; one that crashes the tag reader goes
    // there without a restart.
    void aCrashDoesNotBlockTheNextStart()
    {
        QVERIFY(QDir().mkdir(folder("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder("run")));
        const auto crashed = start();
        QVERIFY(filesASong("1.mp3"));
        crashed->kill();
        QVERIFY(crashed->waitForFinished());
        // What it left at the crash: an inbox file caught in its removal, which comes back.
        QVERIFY(Mp3Fixture::write(folder("inbox/.tovrel-removing/back.mp3"), "Artist", "Album", "Song", 1));
        QVERIFY(Mp3Fixture::write(folder("inbox/Drop/stopped.mp3"), "Artist", "Album", "Song", 1));
        QFile inHand(folder("inbox/Drop/stopped.mp3"));
        QVERIFY(inHand.open(QIODevice::ReadOnly));
        FileInHand().take(folder("inbox/"), "Drop/stopped.mp3", inHand.handle()); // as the reader notes it
        const auto next = start({"--minimized"});
        QVERIFY(filesASong("2.mp3"));
        const QString stopped = folder("errors/The tag reader stopped on this file/stopped.mp3");
        QVERIFY(QFileInfo::exists(stopped) && QFileInfo::exists(stopped + ".txt"));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(folder("outbox/Artist/Album/back.mp3")), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(folder("inbox/Drop")), 10000); // the album it was taken from
        // A file that takes the tag reader down, and ones that would without its guard, cost only themselves.
        for (const char* format : {"flac", "aiff"})
            TestSupport::writeFile(folder("inbox/nest.") + format, Mp3Fixture::nestedChapters(20000, format));
        TestSupport::writeFile(folder("inbox/atoms.m4a"), Mp3Fixture::nestedAtoms(300000));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(folder("errors/The tag reader stopped on this file/atoms.m4a")) &&
                                     QDir(folder("outbox/Nest/Nest")).entryList(QDir::Files).size() == 2,
                                 10000);
        QVERIFY(filesASong("4.mp3") && next->state() == QProcess::Running);
        // The inbox moved away and made again is the inbox watched.
        QVERIFY(QDir().rename(folder("inbox"), folder("inbox-old")) && QDir().mkdir(folder("inbox")));
        QVERIFY(filesASong("3.mp3"));
        const QString history = TestSupport::readFile(History().filePath());
        const qsizetype error =
            history.indexOf("\terror\tDrop/stopped.mp3\t" + stopped + " (The tag reader stopped on this file)");
        QVERIFY(error >= 0 && error < history.indexOf("\tfiled\tback.mp3\t" + folder("outbox/Artist/Album/back.mp3")));
        const auto again = start({}, {"env", "-u", "XDG_RUNTIME_DIR"});
        QVERIFY(again->waitForFinished(10000) && again->exitCode() == 0);
        QVERIFY(!again->readAllStandardError().contains("does not answer"));
        QVERIFY(!SingleInstance(SettingsStore::filePath()).isFirst() && SingleInstance(folder("other.ini")).isFirst());
        QCOMPARE(terminate(*next), 0);
    }

    // An ordinary account, no display, a program it cannot write beside: one line said, filing in the music folder.
    void firstStartOfAnInstalledProgram()
    {
        if (::getuid() != 0)
            QSKIP("needs root to start the program as another account");
        QTemporaryDir home;
        QVERIFY(::chown(qPrintable(home.path()), 65534, 65534) == 0);
        const auto program = start({}, QStringList{"env", "-i", "PATH=/usr/bin:/bin", "HOME=" + home.path()} +
                                           TestSupport::asOrdinaryAccount());
        const QString music = home.path() + "/Music/Tovrel/";
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(music + "inbox").isDir() && QFileInfo(music + "errors").isDir(), 10000);
        // The song is the account's own, as a song it saved would be.
        QVERIFY(Mp3Fixture::write(home.filePath("song.mp3"), "Artist", "Album", "Song", 1));
        QVERIFY(::chown(qPrintable(home.filePath("song.mp3")), 65534, 65534) == 0);
        QVERIFY(QFile::rename(home.filePath("song.mp3"), music + "inbox/song.mp3"));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(music + "outbox/Artist/Album/song.mp3"), 10000);
        QCOMPARE(terminate(*program), 0);
        QCOMPARE(QString(program->readAllStandardError()).count("No display"), 1);
        QVERIFY(TestSupport::readFile(home.path() + "/.local/state/tovrel/history.log").contains("\tfiled\tsong.mp3"));
    }

    // One line per file, whatever its name holds, none for an abandoned move; a full log becomes history.log.1.
    void historyHasOneLinePerFile()
    {
        History history(folder("state/tovrel"));
        TestSupport::writeFile(history.filePath() + ".1", "oldest");
        TestSupport::writeFile(history.filePath(), QByteArray(History::kRotateAtBytes, 'x'));
        using Outcome = MoveResult::Outcome;
        const QString odd = FileName::decode("\xffz.mp3");
        history.record("a.mp3", {Outcome::Filed, "a.mp3", true, "/o/", {}});
        history.record("b\tc.mp3", {Outcome::Duplicate, "b.mp3", false, "/o/", "held"});
        for (const char* why : {"busy", "busy", "full"})
            history.recordFailure("g.mp3", why); // once for each reason, not at every try
        history.record("d\ne.mp3", {Outcome::Filed, "d (2).mp3", true, "/e/Bad/", {}}, "Bad");
        history.record("f.mp3", {Outcome::Abandoned, {}, false, {}, {}});
        history.record(odd, {Outcome::Filed, odd, true, "/o/", {}});
        QCOMPARE(TestSupport::readFile(history.filePath() + ".1"), QByteArray(History::kRotateAtBytes, 'x'));
        const QRegularExpression time("^[\\d-]{10}T[\\d:]{8}[^\\t]*\\t", QRegularExpression::MultilineOption);
        QCOMPARE(QString(TestSupport::readFile(history.filePath())).replace(time, "|").split('\n'), // "|": a time
                 QStringList({"|filed\ta.mp3\t/o/a.mp3",
                              "|duplicate\tb\\tc.mp3\tsame as /o/b.mp3; could not be removed from the inbox (held)",
                              "|error\tg.mp3\tbusy", "|error\tg.mp3\tfull", "|error\td\\ne.mp3\t/e/Bad/d (2).mp3 (Bad)",
                              "|filed\t\uFFFDz.mp3\t/o/\uFFFDz.mp3", ""}));
    }

    // From the first file on, one notice a while sums up every file since, each counted once.
    void burstsOfNoticesAndRequests()
    {
        ErrorNotices notices(300);
        QElapsedTimer clock;
        clock.start();
        QList<qint64> times;
        QStringList texts;
        connect(&notices, &ErrorNotices::notice, this,
                [&](const QString& text) { times << clock.elapsed(), texts << text; });
        for (int file = 0; file < 3; ++file)
            notices.fileErrorFiled();
        QTRY_COMPARE(texts, QStringList{"3 files could not be filed; they are in the errors folder."});
        for (int file = 0; file < 8; ++file, QTest::qWait(100))
            notices.fileErrorFiled();
        QVERIFY(texts.size() >= 3); // not only once the stream has ended
        QTest::qWait(400);
        int files = 0;
        for (int notice = 1; notice < texts.size(); ++notice) {
            QVERIFY(times.at(notice) - times.at(notice - 1) >= 270); // a coarse timer may fire up to 5% early
            files += texts.at(notice).section(' ', 0, 0).toInt();
        }
        QVERIFY(times.first() >= 270 && files == 8);
        QCOMPARE(ErrorNotices::text(1), "1 file could not be filed; it is in the errors folder.");
        // A burst of any of the signals is one request; the handler keeps errno and never blocks.
        TerminationSignals termination;
        for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
            QSignalSpy requests(&termination, &TerminationSignals::terminationRequested);
            errno = EDOM;
            for (int raised = 0; raised < 5000; ++raised)
                std::raise(signalNumber);
            QCOMPARE(errno, EDOM);
            QTest::qWait(100);
            QTRY_COMPARE(requests, QList<QVariantList>{{signalNumber}});
        }
    }

    // Asked to end during a large copy: status 0 within a second, the copy gone, the inbox file whole. Empties root_.
    void signalAbandonsTheCopyAndTheRecovery()
    {
        QVERIFY(QDir(root_.path()).removeRecursively());
        const qint64 size = qint64(2) << 30;
        const Mp3Fixture::Tags tags{"Artist", "Album", "Big", "1"};
        QVERIFY(Mp3Fixture::writeLarge(folder("inbox/big.mp3"), tags, size));
        const auto program = start();
        QTRY_VERIFY_WITH_TIMEOUT(!QDir(folder("outbox/.tovrel-partial")).isEmpty(), 10000); // copying
        QElapsedTimer ending;
        ending.start();
        for (int sent = 0; sent < 3000; ++sent) // far more than the request socket holds
            ::kill(pid_t(program->processId()), SIGTERM);
        QCOMPARE(terminate(*program), 0);
        QVERIFY2(ending.elapsed() < 1000, qPrintable(QString::number(ending.elapsed())));
        QDirIterator files(root_.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        QVERIFY(files.hasNext() && files.next() == folder("inbox/big.mp3") && !files.hasNext());
        QFile big(folder("inbox/big.mp3"));
        QVERIFY(big.open(QIODevice::ReadOnly) && big.size() == size &&
                big.read(4096) == (Mp3Fixture::build(tags) + QByteArray(4096, '\0')).left(4096)); // whole
        // A request to end ends the folder recovery at start-up too. Last: it leaves the inbox on a missing folder.
        SettingsStore::write(Setting::InboxPath, folder("missing/inbox"));
        const auto recovering = start();
        QTest::qWait(1500);
        QCOMPARE(recovering->state(), QProcess::Running);
        QCOMPARE(terminate(*recovering), 0);
        QVERIFY(!QFileInfo::exists(folder("missing")));
    }
};

QTEST_GUILESS_MAIN(TestProgram)
#include "test_program.moc"
