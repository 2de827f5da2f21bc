// The program as a user starts it: its command line, one program per user and
// settings file, and the first start of an installed program by an ordinary
// account without a display.
#include "Mp3Fixture.h"
#include "TestSupport.h"

#include "config/SettingsStore.h"
#include "window/SingleInstance.h"

#include <QtTest>

#include <csignal>
#include <unistd.h>

namespace {

// Runs the program with `arguments` to its end; gives its status, standard output and standard error.
struct Run {
    int status = -1;
    QString out, err;
};
Run run(const QStringList& arguments, QProcessEnvironment environment = QProcessEnvironment::systemEnvironment())
{
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(TOVREL_PATH), arguments);
    if (!program.waitForFinished(10000)) {
        program.kill();
        program.waitForFinished();
        return {};
    }
    return {program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1,
            QString::fromLocal8Bit(program.readAllStandardOutput()),
            QString::fromLocal8Bit(program.readAllStandardError())};
}

} // namespace

class TestProgram : public QObject {
    Q_OBJECT

    QTemporaryDir root_;
    QString folder(const QString& name) const { return root_.filePath(name); }

    // A running program, ended by SIGTERM at the end of the test unless killed before.
    struct Running {
        QProcess program;
        Running(const QStringList& arguments = {})
        {
            program.start(QStringLiteral(TOVREL_PATH), arguments);
            program.waitForStarted();
        }
        ~Running()
        {
            if (program.state() == QProcess::NotRunning)
                return;
            ::kill(pid_t(program.processId()), SIGTERM);
            program.waitForFinished(10000);
        }
    };

    // Drops a song into the inbox and waits until the service has filed it.
    bool filesASong(const QString& name)
    {
        if (!Mp3Fixture::write(folder("inbox/") + name, "Artist", "Album", "Song", 1))
            return false;
        return QTest::qWaitFor([&] { return QFileInfo::exists(folder("outbox/Artist/Album/") + name); }, 10000);
    }

private slots:
    void initTestCase()
    {
        TestSupport::clearSettings();
        SettingsStore::write(Setting::InboxPath, folder("inbox"));
        SettingsStore::write(Setting::OutboxPath, folder("outbox"));
        SettingsStore::write(Setting::ErrorsPath, folder("errors"));
        QVERIFY(QDir().mkpath(folder("inbox")));
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        const QString usage = "Usage: tovrel [options]\n";
        QTest::newRow("--help") << QStringList{"--help"} << 0 << usage << "";
        QTest::newRow("-h") << QStringList{"-h", "--minimized"} << 0 << usage << "";
        QTest::newRow("--version") << QStringList{"--version"} << 0 << "tovrel " TOVREL_VERSION "\n"
                                   << "";
        QTest::newRow("unknown option") << QStringList{"--minimised"} << 2 << ""
                                        << "tovrel: Unknown option 'minimised'.\n" + usage;
        QTest::newRow("an argument") << QStringList{"song.mp3"} << 2 << ""
                                     << "tovrel: unexpected argument 'song.mp3'.\n" + usage;
    }

    // Help, version and mistakes end the program before it files anything.
    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        TestSupport::writeFile(folder("inbox/waiting.mp3"), "not audio");
        const Run ran = run(arguments);
        QCOMPARE(ran.status, status);
        QVERIFY2(out.isEmpty() ? ran.out.isEmpty() : ran.out.startsWith(out), qPrintable(ran.out));
        QVERIFY2(err.isEmpty() ? ran.err.isEmpty() : ran.err.startsWith(err), qPrintable(ran.err));
        QCOMPARE((ran.out + ran.err).contains("--minimized"), (out + err).contains("Usage"));
        QVERIFY(QFileInfo::exists(folder("inbox/waiting.mp3")));
        QVERIFY(!QFileInfo::exists(folder("errors")) && !QFileInfo::exists(folder("outbox")));
        QFile::remove(folder("inbox/waiting.mp3"));
    }

    // A second start asks the running program (here this test) to show its window and ends; one for other settings
    // runs.
    void secondStartShowsTheFirstAndEnds()
    {
        SingleInstance first(SettingsStore::filePath());
        QVERIFY(first.isFirst());
        QSignalSpy shown(&first, &SingleInstance::showRequested);
        QProcess second;
        second.start(QStringLiteral(TOVREL_PATH), {});
        QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 10000);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(!SingleInstance(SettingsStore::filePath()).isFirst());
        QVERIFY(SingleInstance(folder("other.ini")).isFirst());
    }

    // A program killed outright leaves its lock and socket behind; the next start runs all the same, and a start
    // after that finds it.
    void aCrashDoesNotBlockTheNextStart()
    {
        {
            Running crashed;
            QVERIFY(filesASong("1.mp3"));
            crashed.program.kill();
            QVERIFY(crashed.program.waitForFinished());
        }
        Running next({"--minimized"});
        QVERIFY(filesASong("2.mp3"));
        const Run again = run({});
        QCOMPARE(again.status, 0);
        QVERIFY2(!again.err.contains("does not answer"), qPrintable(again.err));
        QCOMPARE(next.program.state(), QProcess::Running);
    }

    // An ordinary account with an empty home, no display and the program in a folder it cannot write: the program
    // says so in one line, creates its folders in the music folder and files a song there, without a message.
    void firstStartOfAnInstalledProgram()
    {
        if (::getuid() != 0)
            QSKIP("needs root to start the program as another account");
        QTemporaryDir home;
        QVERIFY(::chown(qPrintable(home.path()), 65534, 65534) == 0);
        QProcessEnvironment environment;
        environment.insert("PATH", "/usr/bin:/bin");
        environment.insert("HOME", home.path());
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", TOVREL_PATH});
        const QString music = home.path() + "/Music/Tovrel/";
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(music + "inbox").isDir() && QFileInfo(music + "errors").isDir(), 10000);
        // The song is the account's own, as a song it saved would be.
        QVERIFY(Mp3Fixture::write(home.filePath("song.mp3"), "Artist", "Album", "Song", 1));
        QVERIFY(::chown(qPrintable(home.filePath("song.mp3")), 65534, 65534) == 0);
        QVERIFY(QFile::rename(home.filePath("song.mp3"), music + "inbox/song.mp3"));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(music + "outbox/Artist/Album/song.mp3"), 10000);
        ::kill(pid_t(program.processId()), SIGTERM);
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitCode(), 0);
        const QStringList lines = QString::fromLocal8Bit(program.readAllStandardError()).split('\n');
        QCOMPARE(lines.filter("No display").size(), 1);
        QVERIFY(
            TestSupport::readFile(home.path() + "/.local/state/tovrel/history.log").contains("\tfiled\tsong.mp3\t"));
    }
};

QTEST_GUILESS_MAIN(TestProgram)
#include "test_program.moc"
