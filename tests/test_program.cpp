// The program as a user starts it and lives with it: its command line, one
// program per user and settings file, the first start of an installed program
// by an ordinary account without a display, the history and the notices.
#include "Mp3Fixture.h"
#include "TestSupport.h"

#include "config/SettingsStore.h"
#include "engine/FileInHand.h"
#include "engine/FileName.h"
#include "engine/History.h"
#include "engine/SafeMove.h"
#include "window/ErrorNotices.h"
#include "window/SingleInstance.h"

#include <QtTest>

#include <unistd.h>

namespace {

// Starts the program; `runAs` in front runs it as another account.
std::unique_ptr<QProcess> start(const QStringList& arguments = {}, const QStringList& runAs = {})
{
    auto program = std::make_unique<QProcess>();
    const QStringList command =
        runAs + QStringList(runAs.isEmpty() ? TOVREL_PATH : TestSupport::reachableByOrdinaryAccount(TOVREL_PATH)) +
        arguments;
    program->start(command.first(), command.mid(1));
    program->waitForStarted();
    return program;
}

// Ends the program as the system asks it to; gives its exit status.
int terminate(QProcess& program)
{
    program.terminate();
    return program.waitForFinished(10000) ? program.exitCode() : -1;
}

} // namespace

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
        QTest::addColumn<int>("status"); // 0: the text on standard output, 2: on standard error
        QTest::addColumn<QString>("text");
        const QString usage = "Usage: tovrel [options]\n";
        QTest::newRow("--help") << QStringList{"--minimized", "--help"} << 0 << usage;
        QTest::newRow("--version") << QStringList{"--version"} << 0 << "tovrel " TOVREL_VERSION "\n";
        QTest::newRow("unknown option") << QStringList{"--minimised"} << 2
                                        << "tovrel: Unknown option 'minimised'.\n" + usage;
        QTest::newRow("an argument") << QStringList{"song.mp3"} << 2
                                     << "tovrel: unexpected argument 'song.mp3'.\n" + usage;
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
        QVERIFY2((status ? err : out).startsWith(text) && (status ? out : err).isEmpty(), qPrintable(out + err));
        QCOMPARE((out + err).contains("--minimized"), text.contains("Usage"));
        QVERIFY(QFile::remove(folder("inbox/waiting.mp3")));
        QVERIFY(!QFileInfo::exists(folder("errors")) && !QFileInfo::exists(folder("outbox")));
    }

    // A program killed outright leaves its lock and socket behind; the next start runs all the same, and a start
    // after that reaches it and ends, also from a shell without XDG_RUNTIME_DIR. A program for other settings is not
    // in the way. A file whose tags were being read when it died is sent to the errors folder, with its log and a
    // history line, before anything else is read; a song of chapters nested deeper than a stack goes is filed.
    void aCrashDoesNotBlockTheNextStart()
    {
        QVERIFY(QDir().mkpath(folder("run")) &&
                QFile::setPermissions(folder("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder("run")));
        const auto crashed = start();
        QVERIFY(filesASong("1.mp3"));
        const QString partial = folder("outbox/.tovrel-partial/") + QString::number(crashed->processId()) + "-1";
        crashed->kill();
        QVERIFY(crashed->waitForFinished());
        // What it left at the crash: a partial copy, and an inbox file caught in its removal, which comes back.
        TestSupport::writeFile(partial, "partial");
        QVERIFY(Mp3Fixture::write(folder("inbox/.tovrel-removing/back.mp3"), "Artist", "Album", "Song", 1));
        TestSupport::writeFile(folder("inbox/nested.mp3"), Mp3Fixture::nestedChapters(20000));
        QVERIFY(Mp3Fixture::write(folder("inbox/stopped.mp3"), "Artist", "Album", "Song", 1));
        QFile inHand(folder("inbox/stopped.mp3"));
        QVERIFY(inHand.open(QIODevice::ReadOnly));
        FileInHand().take(folder("inbox/"), "stopped.mp3", inHand.handle()); // as the reader notes it
        const auto next = start({"--minimized"});
        QVERIFY(filesASong("2.mp3"));
        const QString stopped = folder("errors/The tag reader stopped on this file/stopped.mp3");
        QVERIFY(QFileInfo::exists(stopped) && QFileInfo::exists(stopped + ".txt"));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(folder("outbox/Nest/Nest/nested.mp3")), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(folder("outbox/Artist/Album/back.mp3")), 10000);
        QVERIFY(!QFileInfo::exists(partial));
        // The inbox moved away and made again is the inbox watched.
        QVERIFY(QDir().rename(folder("inbox"), folder("inbox-old")) && QDir().mkdir(folder("inbox")));
        QVERIFY(filesASong("3.mp3"));
        const QString history = TestSupport::readFile(History().filePath());
        QVERIFY(history.indexOf("\terror\tstopped.mp3\t" + stopped + " (The tag reader stopped on this file)") <
                history.indexOf("\tfiled\tnested.mp3\t" + folder("outbox/Nest/Nest/nested.mp3")));
        const auto again = start({}, {"env", "-u", "XDG_RUNTIME_DIR"});
        QVERIFY(again->waitForFinished(10000));
        QCOMPARE(again->exitCode(), 0);
        QVERIFY(!again->readAllStandardError().contains("does not answer"));
        QVERIFY(!SingleInstance(SettingsStore::filePath()).isFirst() && SingleInstance(folder("other.ini")).isFirst());
        QCOMPARE(terminate(*next), 0);
    }

    // An ordinary account with an empty home, no display and the program in a folder it cannot write: the program
    // says so in one line, creates its folders in the music folder and files a song there, without a message.
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

    // One tab-separated line per file, whatever its name holds; none for a move that was abandoned. Once at its size,
    // the log becomes history.log.1, replacing the older one.
    void historyHasOneLinePerFile()
    {
        QTemporaryDir root;
        History history(root.filePath("state/tovrel"));
        TestSupport::writeFile(history.filePath() + ".1", "oldest");
        TestSupport::writeFile(history.filePath(), QByteArray(History::kRotateAtBytes, 'x'));
        using Outcome = MoveResult::Outcome;
        history.record("a.mp3", {Outcome::Filed, "a.mp3", true, "/out/A/B/", {}});
        history.record("b\tc.mp3", {Outcome::Duplicate, "b.mp3", false, "/out/A/B/", "it is immutable"});
        for (const char* why : {"Invalid file format; left in the inbox", "Invalid file format; left in the inbox",
                                "Disk full; left in the inbox"})
            history.recordFailure("g.mp3", why); // once for each reason, not at every try
        history.record("d\ne.mp3", {Outcome::Filed, "d (2).mp3", true, "/err/Invalid file format/", {}},
                       "Invalid file format");
        history.record("f.mp3", {Outcome::Abandoned, {}, false, {}, {}});
        history.record(FileName::decode("\xffz.mp3"),
                       {Outcome::Filed, FileName::decode("\xffz.mp3"), true, "/out/", {}});
        QCOMPARE(TestSupport::readFile(history.filePath() + ".1"), QByteArray(History::kRotateAtBytes, 'x'));
        QStringList withoutTimes;
        for (const QString& line : QString::fromUtf8(TestSupport::readFile(history.filePath())).split('\n')) {
            QVERIFY(line.isEmpty() || QDateTime::fromString(line.section('\t', 0, 0), Qt::ISODate).isValid());
            withoutTimes << line.section('\t', 1);
        }
        QCOMPARE(withoutTimes,
                 QStringList({"filed\ta.mp3\t/out/A/B/a.mp3",
                              "duplicate\tb\\tc.mp3\tsame as /out/A/B/b.mp3; could not be removed from the inbox "
                              "(it is immutable)",
                              "error\tg.mp3\tInvalid file format; left in the inbox",
                              "error\tg.mp3\tDisk full; left in the inbox",
                              "error\td\\ne.mp3\t/err/Invalid file format/d (2).mp3 (Invalid file format)",
                              "filed\t\uFFFDz.mp3\t/out/\uFFFDz.mp3", ""}));
    }

    // The first file starts the wait; one notice then sums up every file since, so a steady stream of failures gives
    // one notice a while, and every file is counted once.
    void noticesSumUpAtMostOneAWhile()
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
    }
};

QTEST_GUILESS_MAIN(TestProgram)
#include "test_program.moc"
