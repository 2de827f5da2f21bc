#include "Mp3Fixture.h"
#include "TestSupport.h"

#include "config/SettingsStore.h"
#include "engine/AlbumFolder.h"
#include "engine/FileName.h"
#include "engine/FilingError.h"
#include "engine/FilingWorker.h"
#include "engine/FolderFormat.h"
#include "engine/SafeMove.h"
#include "engine/processor.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <sys/fanotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <tuple>
#include <unistd.h>

using TestSupport::readFile;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(TagValues)
Q_DECLARE_METATYPE(MoveResult::Outcome)
Q_DECLARE_METATYPE(FilingWorker::Outcome)

class TestFiling : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<processor> engine_;

    QString at(const QString& path) const { return dir_->filePath(path); }
    static QStringList entries(const QString& folder)
    {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    QByteArray drop(const QString& name, const QString& artist, const QString& album, const QString& title = "Song")
    {
        const QByteArray bytes = Mp3Fixture::build({artist, album, title, "1"});
        TestSupport::writeFile(at("inbox/" + name), bytes);
        engine_->setCurrentinfile(name);
        return bytes;
    }

private slots:
    void init()
    {
        TestSupport::clearSettings();
        dir_ = std::make_unique<QTemporaryDir>();
        for (const char* folder : {"inbox", "outbox", "errors"})
            QVERIFY(QDir().mkpath(at(folder)));
        engine_ = std::make_unique<processor>();
        engine_->setInboxpath(at("inbox/"));
        engine_->setOutboxpath(at("outbox/"));
        engine_->setErrorspath(at("errors/"));
    }

    // Where x.mp3 goes by its tags.
    void filedPaths_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("nameFormat");
        // artist, album, title, track, album artist, disc, disc total, compilation, date, genre
        QTest::addColumn<TagValues>("tags");
        QTest::addColumn<bool>("windows"); // the file system refuses what Windows refuses
        QTest::addColumn<QString>("path");
        const auto row = [](const char* name, const QString& format, const TagValues& tags, const QString& path,
                            const QString& nameFormat = "", bool windows = false) {
            QTest::newRow(name) << format << nameFormat << tags << windows << path;
        };
        row("path characters removed", "%ar\\%al", {"AC/\\DC", "Back: in <*\"Black\">", "Hells?", 7},
            "ACDC/Back in Black/x.mp3");
        row("three levels", "%ar\\%al\\%t - %s", {"Artist", "Album", "Intro", 3}, "Artist/Album/03 - Intro/x.mp3");
        // Tags are data: a token inside a tag value stays as it is.
        row("tokens inside tags", "%s %al\\%ar", {"B%t", "%s", "T %ar", 5}, "T %ar %s/B%t/x.mp3");
        row("title with a token after a percent", "%t - %s", {"A", "", "100%alcohol", 2}, "02 - 100%alcohol/x.mp3");
        row("capital token, negative track", "%AR %t%", {"A", "", "", -3}, "%AR -03%/x.mp3");
        row("vertical bar, track of three digits", "%ar %t", {"A|B", "", "", 123}, "A|B 123/x.mp3");
        row("artist cleaned to nothing, album left out, track 0", "%ar\\%al\\%t", {"???", "?", "", 0},
            "various/00/x.mp3");
        row("empty format and levels", "\\\\", {"Artist", "Album", "", 1}, "x.mp3");
        row("dots", "%ar\\%al", {"..", ".", "", 1}, "__/_/x.mp3");
        // A leading dot would hide the folder, or reach the program's own hidden folders.
        row("leading dots", "%ar\\%al\\%s", {".38 Special", "...And", ".tovrel-partial", 1},
            "_38 Special/_..And/_tovrel-partial/x.mp3");
        row("album artist", "%aa\\%al", {"Artist One", "Summer Hits", "", 1, "Various Artists"},
            "Various Artists/Summer Hits/x.mp3");
        row("compilation", "%aa\\%al", {"Artist Two", "Summer Hits", "", 1, "", 0, 0, true},
            "Various Artists/Summer Hits/x.mp3");
        row("no album artist", "%aa", {"", "", "", 1}, "various/x.mp3");
        row("disc 2 of 2", "%al\\Disc %d", {"A", "B", "", 1, "", 2, 2}, "B/Disc 2/x.mp3");
        row("disc 3, no total", "%al\\Disc %d", {"A", "B", "", 1, "", 3}, "B/Disc 3/x.mp3");
        row("disc 1 of 1", "%al\\Disc %d", {"A", "B", "", 1, "", 1, 1}, "B/x.mp3");
        row("disc 1, no total", "%al\\Disc %d", {"A", "B", "", 1, "", 1}, "B/x.mp3");
        row("no disc", "%al\\Disc %d", {"A", "B", "", 1, "", 0, 2}, "B/x.mp3");
        row("year and genre", "%g\\%y %al", {"A", "B", "", 1, "", 0, 0, false, "c. 2003-05", "Pop/Rock"},
            "PopRock/2003 B/x.mp3");
        row("no year, no genre", "%ar\\%y%g\\%al", {"A", "B", "", 1, "", 0, 0, false, "203"}, "A/B/x.mp3");
        row("composed", "%ar\\%al", {u"Cre\u0300me"_s, u"Bru\u0302le\u0301e"_s},
            u"Cr\u00e8me/Br\u00fbl\u00e9e/x.mp3"_s);
        row("file name", "%ar", {"A", "", "Intro", 3}, "A/03 - Intro.mp3", "%t - %s");
        row("file name with an empty token", "%ar", {"A", "", "", 3}, "A/x.mp3", "%t - %s");
        row("file name of removed characters", "", {"A", "", "/", 3}, "x.mp3", "%s");
        row("file name cut, extension kept", "", {"", "", QString(300, u'é'), 1}, QString(125, u'é') + ".mp3", "%s");
        row("file name by Windows rules", "", {"", "", "A|B. ", 1}, "A_B__.mp3", "%s", true);
        // Cut to 255 bytes, never inside a character of two or four bytes.
        row("255 bytes kept", "%ar", {QString(255, 'a'), "", "", 1}, QString(255, 'a') + "/x.mp3");
        row("two-byte characters", "%ar", {QString(300, u'é'), "", "", 1}, QString(127, u'é') + "/x.mp3");
        row("four-byte character across the cut", "%ar%al", {QString(253, 'a'), "🎹🎹", "", 1},
            QString(253, 'a') + "/x.mp3");
        row("cut, then Windows rules", "%ar", {QString(254, 'a') + " b", "", "", 1}, QString(254, 'a') + "_/x.mp3", "",
            true);
        row("refused by Windows", "%ar\\%al\\ |\x7f", {"A|B\tC", "Live. . ", "", 1}, "A_B_C/Live____/ __/x.mp3", "",
            true);
    }

    void filedPaths()
    {
        QFETCH(QString, format);
        QFETCH(QString, nameFormat);
        QFETCH(TagValues, tags);
        QFETCH(bool, windows);
        QTEST(FiledPathFor(format, nameFormat, tags, "x.mp3", windows ? NameRules::Windows : NameRules::Posix).path(),
              "path");
    }

    void errorFilingFailureKeepsInboxFileAndLogNamesFit()
    {
        TestSupport::writeFile(at("errors/Disk full"), "a file where the subfolder goes");
        const QByteArray bytes = drop("song.mp3", "A", "B");
        engine_->setProcessing(true);
        QCOMPARE(
            TestSupport::failureOf([&] { engine_->base().ErrorHandle(FilingError::fromErrno(ENOSPC)); }).lastDllError(),
            EEXIST);
        QVERIFY(engine_->processing());
        // Still in the inbox; a description of only removed characters then files it into no subfolder.
        engine_->base().ErrorHandle(FilingError(75, "?/\\:*<>\"", 5));
        QVERIFY(!engine_->processing());
        QCOMPARE(entries(at("errors")), (QStringList{".tovrel-partial", "Disk full", "song.mp3", "song.mp3.txt"}));
        QCOMPARE(readFile(at("errors/song.mp3")), bytes);
        // A log name that would pass 255 bytes loses the end of its stem, cut before a character.
        const QString longest = QString(124, u'é') + ".mp3";
        drop(longest, "A", "B");
        engine_->base().ErrorHandle(FilingError(75, "", 5));
        QVERIFY(QFile::exists(at("errors/" + longest)) &&
                QFile::exists(at("errors/" + QString(123, u'é') + ".mp3.txt")));
    }

    // An outbox on a FAT stick (a loop-mounted image, when the system can mount one) takes the names made for it.
    void windowsFileSystemTakesTheLevels()
    {
        const QString image = at("fat.img");
        if (::geteuid() != 0 || !QFile(image).resize(8 << 20) || QProcess::execute("mkfs.vfat", {"-q", image}) != 0 ||
            QProcess::execute("mount", {"-o", "loop", image, at("outbox")}) != 0)
            QSKIP("needs root, mkfs.vfat and a kernel that mounts vfat");
        const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {at("outbox")}); });
        const QByteArray bytes = drop("x.mp3", "What?|Band. ", "Live\x01");
        engine_->process();
        QCOMPARE(readFile(at("outbox/What_Band__/Live_/x.mp3")), bytes);
    }

    // As root, the inbox file another account's (0640), in folders others may write in (mode 1777). Each setup
    // command runs in the temporary folder, as root or, after "other:", as that account; "private" is a folder
    // only root may enter. What another account plants is never followed nor used: the file waits, or files as it
    // should, and nothing reaches the private folder. An error log gets its file's owner and mode; the errors
    // folder keeps the outbox's margin; a sparse file stays sparse.
    void workerOutcomes_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty for a tagged song; "sparse": 64 MB, "not audio" and a hole
        QTest::addColumn<QStringList>("setup");
        QTest::addColumn<FilingWorker::Outcome>("outcome");
        QTest::addColumn<QString>("landed");
        using Outcome = FilingWorker::Outcome;
        const auto row = [](const char* name, const QByteArray& content, const QStringList& setup, Outcome outcome,
                            const QString& landed) { QTest::newRow(name) << content << setup << outcome << landed; };
        row("filed", {}, {}, Outcome::Filed, "outbox/A/B/x.mp3");
        row("moved to errors", "not audio", {}, Outcome::ErrorFiled, "errors/Invalid file format/x.mp3");
        row("sparse, moved to errors", "sparse", {}, Outcome::ErrorFiled, "errors/Invalid file format/x.mp3");
        row("left in inbox", "not audio", {"echo > 'errors/Invalid file format'"}, Outcome::LeftInInbox, "inbox/x.mp3");
        // A name is never a pattern: whether the file stayed is told by its own name.
        for (const char* name : {"Live [1]?.mp3", "*.mp3", "a]b.mp3", "back\\slash.mp3"})
            row(name, "not audio", {"echo > 'errors/Invalid file format'"}, Outcome::LeftInInbox,
                QString("inbox/") + name);
        row("moved, odd name", "not audio", {}, Outcome::ErrorFiled, "errors/Invalid file format/[x]?.mp3");
        row("errors folder within the margin", QByteArray(100000, 'x'), {"mount -t tmpfs -o size=1m none errors"},
            Outcome::LeftInInbox, "inbox/x.mp3");
        row("other's link in the outbox", {}, {"other: ln -s ../private outbox/A"}, Outcome::Waiting, "inbox/x.mp3");
        row("other's link in the errors folder", "not audio", {"other: ln -s ../private 'errors/Invalid file format'"},
            Outcome::LeftInInbox, "inbox/x.mp3");
        row("own link in the outbox", {}, {"ln -s ../private outbox/A"}, Outcome::Filed, "private/B/x.mp3");
        row("other's link for the inbox file", {},
            {"cp inbox/x.mp3 root-only.mp3", "chmod 600 root-only.mp3", "rm inbox/x.mp3",
             "other: ln -s ../root-only.mp3 inbox/x.mp3"},
            Outcome::LeftInInbox, "inbox/x.mp3");
        row("other's partial folder", {}, {"other: mkdir -m 777 outbox/.tovrel-partial"}, Outcome::Filed,
            "outbox/A/B/x.mp3");
        row("other's partial folders", {}, {"other: mkdir -m 777 outbox/.tovrel-partial outbox/.tovrel-partial-0"},
            Outcome::Waiting, "inbox/x.mp3");
        row("other's file of the removal's name", {}, {"other: touch inbox/.tovrel-removing"}, Outcome::Filed,
            "outbox/A/B/x.mp3");
        // The kernel's copy fails (past the file size limit): the destination's fault, so the file waits.
        row("copy refused in the kernel", {}, {}, Outcome::Waiting, "inbox/x.mp3");
        // An encrypted folder takes names of at most 175 bytes: a longer level or name is cut until it is taken.
        row("encrypted outbox, long names", "long names",
            {"mkdir raw && encfs --standard --extpass='echo pw' \"$PWD/raw\" \"$PWD/outbox\""}, Outcome::Filed,
            "outbox/" + QString(143, 'a') + "/B/" + QString(139, 'n') + ".mp3");
    }

    // The worker on its own thread files a job and says how it went and whether the inbox file is gone.
    void workerOutcomes()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, setup);
        QFETCH(FilingWorker::Outcome, outcome);
        QFETCH(QString, landed);
        const bool longNames = content == "long names";
        const QString name = longNames ? QString(196, 'n') + ".mp3" : landed.section('/', -1); // the inbox file's
        if (name != "x.mp3")
            TestSupport::writeFile(at("inbox/x.mp3"), "another file, whose name the odd one matches as a pattern");
        QByteArray bytes = drop(name, longNames ? QString(200, 'a') : "A", "B");
        if (content == "sparse") {
            QFile sparse(at("inbox/x.mp3"));
            QVERIFY(sparse.open(QIODevice::WriteOnly | QIODevice::Truncate) && sparse.write("not audio") == 9 &&
                    sparse.resize(64 << 20));
            bytes = QByteArray("not audio").leftJustified(64 << 20, '\0');
        } else if (!content.isEmpty() && !longNames) {
            TestSupport::writeFile(at("inbox/" + name), bytes = content);
        }
        const bool root = ::geteuid() == 0;
        if (!root && !setup.isEmpty())
            QSKIP("needs root and another account");
        if (root) {
            QVERIFY(::chmod(QFile::encodeName(dir_->path()), 0755) == 0 &&
                    ::mkdir(QFile::encodeName(at("private")), 0700) == 0);
            for (const char* folder : {"inbox", "outbox", "errors"})
                QVERIFY(::chmod(QFile::encodeName(at(folder)), 01777) == 0);
            QVERIFY(::chown(QFile::encodeName(at("inbox/" + name)), 65534, 65534) == 0 &&
                    ::chmod(QFile::encodeName(at("inbox/" + name)), 0640) == 0);
        }
        if (setup.join(' ').contains("encfs") && QStandardPaths::findExecutable("encfs").isEmpty())
            QSKIP("needs encfs");
        for (const QString& command : setup) {
            const bool other = command.startsWith("other: ");
            QProcess shell;
            shell.setWorkingDirectory(dir_->path());
            const QStringList line = (other ? TestSupport::asOrdinaryAccount() : QStringList()) +
                                     QStringList{"sh", "-c", command.mid(other ? 7 : 0)};
            shell.start(line.first(), line.mid(1));
            QVERIFY2(shell.waitForFinished() && shell.exitCode() == 0, shell.readAllStandardError());
        }
        const auto unmount = qScopeGuard([&] {
            if (setup.join(' ').contains("mount"))
                QProcess::execute("umount", {at("errors")});
            if (setup.join(' ').contains("encfs"))
                QProcess::execute("umount", {at("outbox")});
        });
        struct rlimit limit, before;
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &before) == 0 && ::signal(SIGXFSZ, SIG_IGN) != SIG_ERR);
        limit = {QByteArray(QTest::currentDataTag()).contains("kernel") ? 100 : before.rlim_cur, before.rlim_max};
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
        const auto unlimit = qScopeGuard([&] { ::setrlimit(RLIMIT_FSIZE, &before); });
        FilingWorker worker;
        QThread thread;
        worker.moveToThread(&thread);
        thread.start();
        const auto stop = qScopeGuard([&] {
            thread.quit();
            thread.wait();
        });
        QSignalSpy filed(&worker, &FilingWorker::filed);
        QMetaObject::invokeMethod(&worker, [&worker, job = engine_->job()] { worker.file(job); });
        QVERIFY(filed.wait());
        const auto result = filed.first().first().value<FilingWorker::Result>();
        QCOMPARE(result.name, name);
        QCOMPARE(result.outcome, outcome);
        QCOMPARE(result.leftTheInbox(), !landed.startsWith("inbox"));
        QCOMPARE(readFile(at(landed)), bytes);
        if (!landed.startsWith("private"))
            QCOMPARE(entries(at("private")), QStringList{});
        struct stat file, log;
        QVERIFY(::stat(QFile::encodeName(at(landed)), &file) == 0);
        if (content == "sparse")
            QVERIFY2(file.st_blocks < 2048, qPrintable(QString::number(file.st_blocks)));
        if (outcome == FilingWorker::Outcome::ErrorFiled) {
            QVERIFY(::stat(QFile::encodeName(at(landed + ".txt")), &log) == 0);
            QCOMPARE(std::tuple(log.st_uid, log.st_gid, log.st_mode),
                     std::tuple(file.st_uid, file.st_gid, file.st_mode));
        }
    }

    // The outbox tree and the errors folder never replace a file: a taken name
    // gives "name (2).mp3" and on; the same bytes make the inbox file a duplicate.
    // Each existing entry is "name" (a copy of the new file), "name=text" (other
    // bytes), "name=~" (its bytes with the last one changed) or "name/" (a folder).
    void neverReplacesAnotherFile_data()
    {
        QTest::addColumn<bool>("toErrors");
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("nameFormat");
        const int filed = int(MoveResult::Outcome::Filed), duplicate = int(MoveResult::Outcome::Duplicate);
        const auto row = [](const char* tag, bool toErrors, const QStringList& existing, int outcome,
                            const QString& name, const QStringList& after, const QString& file = "x.mp3",
                            const QString& nameFormat = "") {
            QTest::newRow(tag) << toErrors << existing << outcome << name << after << file << nameFormat;
        };
        row("free", false, {}, filed, "x.mp3", {"x.mp3"});
        row("other song", false, {"x.mp3=disc one"}, filed, "x (2).mp3", {"x (2).mp3", "x.mp3"});
        row("several taken", false, {"x.mp3=a", "x (2).mp3=b", "x (3).mp3/"}, filed, "x (4).mp3",
            {"x (2).mp3", "x (3).mp3", "x (4).mp3", "x.mp3"});
        row("same song", false, {"x.mp3"}, duplicate, "x.mp3", {"x.mp3"});
        row("same size, other last byte", false, {"x.mp3=~"}, filed, "x (2).mp3", {"x (2).mp3", "x.mp3"});
        row("same song second", false, {"x.mp3=a", "x (2).mp3"}, duplicate, "x (2).mp3", {"x (2).mp3", "x.mp3"});
        row("errors, other file", true, {"x.mp3=a", "x.mp3.txt=log"}, filed, "x (2).mp3",
            {"x (2).mp3", "x (2).mp3.txt", "x.mp3", "x.mp3.txt"});
        row("errors, log alone", true, {"x.mp3.txt=log"}, filed, "x (2).mp3",
            {"x (2).mp3", "x (2).mp3.txt", "x.mp3.txt"});
        row("errors, same file", true, {"x.mp3", "x.mp3.txt=log"}, duplicate, "x.mp3", {"x.mp3", "x.mp3.txt"});
        // Every numbered name is compared before a free one is taken.
        row("same song past a gap", false, {"x.mp3=a", "x (3).mp3"}, duplicate, "x (3).mp3", {"x (3).mp3", "x.mp3"});
        // Two long names cut to one log name: the second file and its log are numbered.
        const QString shared(248, 'a');
        row("errors, long names alike", true, {shared + "one.mp3=a", QString(247, 'a') + ".mp3.txt=log"}, filed,
            QString(247, 'a') + " (2).mp3",
            {QString(243, 'a') + " (2).mp3.txt", QString(247, 'a') + " (2).mp3", QString(247, 'a') + ".mp3.txt",
             shared + "one.mp3"},
            shared + "two.mp3");
        // 255 bytes: 125 two-byte letters, "x" and ".mp3". With " (2)" the stem may keep 247 bytes, cut before a
        // letter.
        const QString longest = QString(125, QChar(0xE9)) + "x.mp3", cut = QString(123, QChar(0xE9)) + " (2).mp3";
        row("longest name", false, {longest + "=other"}, filed, cut, {cut, longest}, longest);
        // Named by its tags ("01 - Song.mp3"), then numbered as any name.
        row("named by tags, taken", false, {"01 - Song.mp3=other"}, filed, "01 - Song (2).mp3",
            {"01 - Song (2).mp3", "01 - Song.mp3"}, "x.mp3", "%t - %s");
        row("named by tags, same song", false, {"x.mp3=a", "01 - Song.mp3"}, duplicate, "01 - Song.mp3",
            {"01 - Song.mp3", "x.mp3"}, "x.mp3", "%t - %s");
    }

    void neverReplacesAnotherFile()
    {
        QFETCH(bool, toErrors);
        QFETCH(QStringList, existing);
        const QString folder = at(toErrors ? "errors/File not found/" : "outbox/Artist/Album/");
        QFETCH(QString, file);
        QFETCH(QString, nameFormat);
        SettingsStore::write(Setting::FileNameFormat, nameFormat);
        engine_->loadsettings();
        const QByteArray bytes = drop(file, "Artist", "Album");
        QDir().mkpath(folder);
        for (const QString& entry : existing) {
            const QString name = entry.section('=', 0, 0);
            if (name.endsWith('/'))
                QDir().mkpath(folder + name);
            else if (entry.endsWith("=~"))
                TestSupport::writeFile(folder + name, bytes.chopped(1) + char(~bytes.back()));
            else
                TestSupport::writeFile(folder + name, entry.contains('=') ? entry.section('=', 1).toUtf8() : bytes);
        }
        const MoveResult moved =
            toErrors ? engine_->base().ErrorHandle(FilingError(53, "File not found", 2)) : engine_->process();
        QTEST(int(moved.outcome), "outcome");
        QTEST(moved.name, "name");
        QVERIFY(moved.sourceRemoved);
        QTEST(entries(folder), "after");
        QCOMPARE(readFile(folder + moved.name), bytes);
        if (toErrors && moved.outcome == MoveResult::Outcome::Filed)
            QCOMPARE(readFile(folder + LogNameFor(moved.name)),
                     QByteArray(" 53 \r\nFile not found\r\n 0 \r\n\r\n 2 \r\n"));
        QCOMPARE(entries(at("inbox")), QStringList{});
        QCOMPARE(entries(at(toErrors ? "errors/.tovrel-partial" : "outbox/.tovrel-partial")), QStringList{});
    }

    // One folder as inbox and outbox, with an empty format: the file is not its own duplicate; it stays and waits.
    void destinationThatIsTheSourceKeepsTheFile()
    {
        SettingsStore::write(Setting::FileFormat, "");
        engine_->loadsettings();
        engine_->setOutboxpath(at("inbox/./"));
        const QByteArray bytes = drop("x.mp3", "Artist", "Album");
        QCOMPARE(TestSupport::failureOf([&] { engine_->process(); }).folder(), at("inbox/./"));
        QCOMPARE(readFile(at("inbox/x.mp3")), bytes);
    }

    // A name that is not UTF-8 is listed, filed and removed byte for byte, and
    // the copy keeps the permission bits and times of the original.
    void keepsNameBytesPermissionsAndTimes()
    {
        const QByteArray name = "caf\xe9 \xf0\x9f\x8e\xb5.mp3";
        const QByteArray inbox = QFile::encodeName(at("inbox/"));
        const QByteArray bytes = Mp3Fixture::build({"Artist", "Album", "Song", "1"});
        const int fd = ::open(inbox + name, O_WRONLY | O_CREAT, 0640);
        QVERIFY(fd >= 0 && ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size() && ::close(fd) == 0);
        ::chmod(inbox + name, 0640); // whatever the umask
        const struct timespec times[2] = {{988000000, 5}, {988000000, 123456789}};
        QVERIFY(::utimensat(AT_FDCWD, inbox + name, times, 0) == 0);
        engine_->updatestats();
        QCOMPARE(engine_->InboxFiles(1), FileName::decode(name));
        engine_->setCurrentinfile(engine_->InboxFiles(1));
        QCOMPARE(engine_->process().outcome, MoveResult::Outcome::Filed);
        struct stat filed;
        QVERIFY(::stat(QFile::encodeName(at("outbox/Artist/Album/")) + name, &filed) == 0);
        QCOMPARE(filed.st_mode & 07777, 0640u);
        QCOMPARE(filed.st_mtim.tv_sec, 988000000);
        QCOMPARE(filed.st_mtim.tv_nsec, 123456789);
        QCOMPARE(entries(at("inbox")), QStringList{});
        QVERIFY(::unlink(QFile::encodeName(at("outbox/Artist/Album/")) + name) == 0); // QDir cannot name it
    }

    void namesKeepEveryByte_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("marks"); // replacement marks when shown
        QTest::newRow("ascii") << QByteArray("Song 1.mp3") << 0;
        QTest::newRow("utf-8") << QByteArray("\xc3\xa9t\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5") << 0;
        QTest::newRow("latin-1") << QByteArray("caf\xe9") << 1;
        QTest::newRow("overlong") << QByteArray("\xc0\xaf\xe0\x80\xaf") << 5;
        QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80\xed\xb2\x80") << 6;
        QTest::newRow("cut short") << QByteArray("a\xe2\x82") << 2;
        QTest::newRow("stray bytes") << QByteArray("\x80\xbf\xff\xfe") << 4;
        QTest::newRow("after a pair") << QByteArray("\xf0\x90\x82\x80\x80") << 1;
    }

    void namesKeepEveryByte()
    {
        QFETCH(QByteArray, bytes);
        const QString name = FileName::decode(bytes);
        QCOMPARE(FileName::encode(name), bytes);
        QTEST(int(FileName::forDisplay(name).count(QChar::ReplacementCharacter)), "marks");
    }

    // A file that another program opens for writing, replaces or truncates
    // during the copy stays as that program left it, and no copy is left behind.
    void abandonsTheCopyWhenTheSourceChanges_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("chunks"); // seen by the hook: a writer stops the copy at the next chunk
        // "cancelled while compared": a close while a same-sized file is compared stops the comparison, then the copy
        // at its first chunk; "leased": the open meets a lease of another look, so the file waits, unblamed.
        for (const auto& [change, chunks] : {std::pair{"opened for writing", 1},
                                             {"truncated", 1},
                                             {"cancelled", 1},
                                             {"cancelled while compared", 2},
                                             {"renamed over", 1},
                                             {"leased", 0},
                                             {"name taken meanwhile", 3},
                                             {"replaced after the copy", 3},
                                             {"opened for writing after the copy", 3},
                                             {"touched after the copy", 3}})
            QTest::newRow(change) << QString(change) << chunks;
    }

    void abandonsTheCopyWhenTheSourceChanges()
    {
        QFETCH(QString, change);
        const QString source = at("inbox/big.mp3");
        QByteArray bytes(20 << 20, 'a');
        TestSupport::writeFile(source, bytes);
        const bool after = change.endsWith("after the copy");
        TestSupport::writeFile(at("inbox/other"), after ? QByteArray(bytes).fill('b') : "another file");
        const bool compared = change == "cancelled while compared";
        if (compared)
            TestSupport::writeFile(at("outbox/big.mp3"), QByteArray(bytes).append('b').remove(0, 1));
        QProcess editor;
        const int leased = change == "leased" ? ::open(QFile::encodeName(source), O_RDONLY) : -1;
        std::signal(SIGIO, SIG_IGN); // the lease's holder is told of the open by this signal
        QVERIFY(leased < 0 || ::fcntl(leased, F_SETLEASE, F_WRLCK) == 0);
        // The move is held after the copy, at the open of the folder the file is moved into to be compared before its
        // removal: another file of its size and times put in its place, or the file opened to write or touched, stays.
        const int watch = after ? ::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC | FAN_NONBLOCK, O_RDONLY) : -1;
        if (after && watch < 0)
            QSKIP("Holding the move at an open needs CAP_SYS_ADMIN");
        const auto unwatch = qScopeGuard([&] { ::close(watch); });
        QVERIFY(!after || (QProcess::execute("touch", {"-r", source, at("inbox/other")}) == 0 &&
                           ::fanotify_mark(watch, FAN_MARK_ADD, FAN_OPEN_PERM | FAN_ONDIR | FAN_EVENT_ON_CHILD,
                                           AT_FDCWD, QFile::encodeName(at("inbox")).constData()) == 0));
        const std::jthread listener([&](std::stop_token stop) {
            fanotify_event_metadata events[64];
            for (; after && !stop.stop_requested(); QThread::msleep(5)) {
                ssize_t size = ::read(watch, events, sizeof events);
                for (auto* event = events; FAN_EVENT_OK(event, size); event = FAN_EVENT_NEXT(event, size)) {
                    const bool held = QFile::symLinkTarget(u"/proc/self/fd/%1"_s.arg(event->fd)).endsWith("-removing");
                    if (held && change.startsWith("replaced"))
                        ::rename(QFile::encodeName(at("inbox/other")), QFile::encodeName(source));
                    else if (held && change.startsWith("touched"))
                        ::utimensat(AT_FDCWD, QFile::encodeName(source), nullptr, 0);
                    else if (held && ::link(QFile::encodeName(source), QFile::encodeName(at("link"))) == 0)
                        ::close(::open(QFile::encodeName(at("link")), O_WRONLY | O_NONBLOCK));
                    const fanotify_response allow{event->fd, FAN_ALLOW};
                    ::write(watch, &allow, sizeof allow);
                    ::close(event->fd);
                }
            }
        });
        SafeMove move(source);
        const auto edit = [&](const QString& script) {
            // The editor waits until the copy lets go of the file, then writes.
            editor.start("sh", {"-c", script, source});
            for (int wait = 0; wait < 500 && !readFile("/proc/locks").contains("BREAKING"); ++wait)
                QTest::qWait(10);
        };
        int chunks = 0;
        const auto hook = [&](qint64, qint64) {
            if (++chunks > 1 || compared)
                return !compared;
            if (change == "opened for writing") {
                edit("echo edited >> \"$0\"");
                bytes += "edited\n";
            } else if (change == "truncated") {
                edit(": > \"$0\"; echo new >> \"$0\"");
                bytes = "new\n";
            } else if (change == "name taken meanwhile") {
                TestSupport::writeFile(at("outbox/big.mp3"), "another song");
            } else if (change == "renamed over") {
                ::rename(QFile::encodeName(at("inbox/other")), QFile::encodeName(source));
                bytes = "another file";
            }
            return change != "cancelled";
        };
        const MoveResult moved = move.moveTo({at("outbox/"), at("outbox/"), "big.mp3", {}}, hook);
        if (leased >= 0)
            ::close(leased);
        QTEST(chunks, "chunks");
        QVERIFY(!editor.isOpen() || editor.waitForFinished(5000));
        if (change == "name taken meanwhile") { // the rename refuses to replace it
            QCOMPARE(moved.name, "big (2).mp3");
            QCOMPARE(readFile(at("outbox/big (2).mp3")), bytes);
            QCOMPARE(readFile(at("outbox/big.mp3")), "another song");
            return;
        }
        QCOMPARE(moved.outcome, after ? MoveResult::Outcome::Filed : MoveResult::Outcome::Abandoned);
        QVERIFY(!moved.sourceRemoved);
        QCOMPARE(readFile(source), change.startsWith("replaced") ? QByteArray(bytes).fill('b') : bytes);
        QVERIFY(!after || readFile(at("outbox/big.mp3")) == bytes);
        const QStringList left =
            compared || after ? QStringList{".tovrel-partial", "big.mp3"} : QStringList{".tovrel-partial"};
        QCOMPARE(entries(at("outbox")), leased < 0 ? left : QStringList{});
        QCOMPARE(entries(at("outbox/.tovrel-partial")), QStringList{});
    }

    // Each audio format is filed by its own tags under its own name; a file
    // that only has the name of the format (a WAV renamed) goes to the errors.
    void filesEveryFormat_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("encoder"); // "in" and "out" stand for the files; none: written here
        QTest::addColumn<int>("samples");         // a song without samples is no music either
        const QStringList flac{"flac", "-s", "--tag=ARTIST=Band", "--tag=ALBUM=Light", "--tag=TITLE=Song", "-o", "out"};
        QTest::newRow("FLAC") << "a.flac" << flac + QStringList{"in"} << 4000;
        QTest::newRow("Ogg FLAC") << "b.OGA" << flac + QStringList{"--ogg", "in"} << 4000;
        QTest::newRow("Ogg Vorbis") << "c.Ogg"
                                    << QStringList{"oggenc", "-Q", "-a", "Band", "-l", "Light", "-o", "out", "in"}
                                    << 4000;
        QTest::newRow("Opus") << "d.opus"
                              << QStringList{"opusenc", "--quiet", "--artist", "Band", "--album", "Light", "in", "out"}
                              << 4000;
        QTest::newRow("WavPack") << "e.wv" << QStringList{"wavpack",     "-q", "-w", "Artist=Band", "-w",
                                                          "Album=Light", "in", "-o", "out"}
                                 << 4000;
        QTest::newRow("AIFF") << "f.AIFF" << QStringList{} << 4000;
        QTest::newRow("AIFF without samples") << "f.aif" << QStringList{} << 0;
    }

    void filesEveryFormat()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, encoder);
        QFETCH(int, samples);
        // Mono, 16 bits, 8000 samples a second: a square wave.
        QByteArray pcm;
        for (int i = 0; i < samples; ++i)
            pcm += (i / 20) % 2 ? QByteArray("\x00\x40", 2) : QByteArray("\x00\xc0", 2);
        const auto bytesOf = [](quint32 n, std::initializer_list<int> shifts) {
            QByteArray word;
            for (const int shift : shifts)
                word += char(n >> shift);
            return word;
        };
        const auto le32 = [&](quint32 n) { return bytesOf(n, {0, 8, 16, 24}); };
        const auto be32 = [&](quint32 n) { return bytesOf(n, {24, 16, 8, 0}); };
        const QByteArray wav = "RIFF" + le32(36 + pcm.size()) + "WAVEfmt " + le32(16) + QByteArray("\x01\0\x01\0", 4) +
                               le32(8000) + le32(16000) + QByteArray("\x02\0\x10\0", 4) + "data" + le32(pcm.size()) +
                               pcm;
        QByteArray bytes;
        if (encoder.isEmpty()) { // AIFF: big-endian samples and an ID3v2 chunk
            QByteArray big = pcm;
            for (qsizetype i = 0; i + 1 < big.size(); i += 2)
                std::swap(big[i], big[i + 1]);
            QByteArray tag = Mp3Fixture::build({"Band", "Light", "Song", "1"}, Mp3Fixture::Tag::Id3v23, 0);
            if (tag.size() % 2)
                tag += '\0';
            const QByteArray body = "AIFFCOMM" + be32(18) + QByteArray("\0\x01", 2) + be32(samples) +
                                    QByteArray("\0\x10\x40\x0b\xfa\0\0\0\0\0\0\0", 12) + "SSND" + be32(8 + big.size()) +
                                    be32(0) + be32(0) + big + "ID3 " + be32(tag.size()) + tag;
            bytes = "FORM" + be32(body.size()) + body;
        } else {
            if (QStandardPaths::findExecutable(encoder.constFirst()).isEmpty())
                QSKIP("the encoder is not installed (./build.sh test installs it)");
            TestSupport::writeFile(at("in.wav"), wav);
            encoder.replace(encoder.indexOf("in"), at("in.wav"));
            encoder.replace(encoder.indexOf("out"), at(name));
            QCOMPARE(QProcess::execute(encoder.takeFirst(), encoder), 0);
            bytes = readFile(at(name));
        }
        for (const bool renamed : {false, true}) {
            TestSupport::writeFile(at("inbox/" + name), renamed ? wav : bytes);
            engine_->updatestats();
            QCOMPARE(engine_->inboxcount(), 1);
            engine_->setCurrentinfile(name);
            try {
                engine_->process();
            } catch (const FilingError& error) {
                engine_->base().ErrorHandle(error);
            }
            const bool music = samples > 0 && !renamed;
            QCOMPARE(readFile(at((music ? "outbox/Band/Light/" : "errors/Invalid file format/") + name)),
                     renamed ? wav : bytes);
            QVERIFY(QDir(at("errors/Invalid file format")).removeRecursively());
        }
    }

    // A folder dropped into the inbox is an album: once it stands still its songs are filed by their own tags, then
    // its companions follow them, lyrics beside their song, and the folder goes with its clutter. A folder with
    // anything else left stays.
    void albumFolderFollowsItsSongs()
    {
        const QList<std::pair<QString, QByteArray>> files{
            {"Light/CD1/01.mp3", Mp3Fixture::build({"Band", "Light", "One", "1"})},
            {"Light/02.MP3", Mp3Fixture::build({"Band", "Light", "Two", "2"})},
            {"Light/cover.jpg", "picture"},
            {"Light/Light.cue", "cue"},
            {"Light/CD1/01.lrc", "lyrics"},
            {"Light/.DS_Store", "x"},
            {"Light/._02.MP3", "x"},
            {"Light/CD1/Thumbs.db", "x"},
            {"Kept/03.mp3", Mp3Fixture::build({"Band", "Other", "Three", "3"})},
            {"Kept/notes.txt", "x"}};
        for (const auto& [path, bytes] : files)
            TestSupport::writeFile(at("inbox/" + path), bytes);
        TestSupport::writeFile(at("outbox/Band/Light/cover.jpg"), "another picture");
        // A link inside a folder is not followed, neither by the look nor by the filing of a name through it.
        const QByteArray elsewhere = Mp3Fixture::build({"Band", "Elsewhere", "Four", "4"});
        TestSupport::writeFile(at("elsewhere/04.mp3"), elsewhere);
        QVERIFY(QDir().mkpath(at("inbox/Kept")) && QFile::link(at("elsewhere"), at("inbox/Kept/CD2")));
        engine_->setCurrentinfile("Kept/CD2/04.mp3");
        QCOMPARE(TestSupport::failureOf([&] { engine_->process(); }).lastDllError(), ENOTDIR);
        QVERIFY(QFile::link(at("elsewhere/04.mp3"), at("inbox/Kept/04.mp3")));
        engine_->setCurrentinfile("Kept/04.mp3");
        QCOMPARE(TestSupport::failureOf([&] { engine_->process(); }).lastDllError(), ELOOP);
        const auto reasons = [this] {
            engine_->updatestats();
            QStringList shown;
            for (const auto& entry : engine_->base().leftAlone())
                shown << entry.name + ": " + entry.reason;
            return shown;
        };
        QCOMPARE(reasons(), (QStringList{"Kept: the folder is still changing", "Light: the folder is still changing"}));
        QVERIFY(!engine_->getnextfile());
        QTRY_VERIFY_WITH_TIMEOUT(!engine_->getnextfile() ? !QFileInfo::exists(at("inbox/Light"))
                                                         : (engine_->process(), false),
                                 (AlbumFolder::kStandStillSeconds + 2) * 2000);
        QCOMPARE(entries(at("outbox/Band/Light")),
                 (QStringList{"01.lrc", "01.mp3", "02.MP3", "cover (2).jpg", "cover.jpg", "Light.cue"}));
        QCOMPARE(readFile(at("outbox/Band/Light/cover (2).jpg")), "picture");
        QCOMPARE(readFile(at("outbox/Band/Other/03.mp3")), files[8].second);
        QCOMPARE(entries(at("inbox")), QStringList{"Kept"});
        QCOMPARE(entries(at("inbox/Kept")), (QStringList{"04.mp3", "CD2", "notes.txt"}));
        QCOMPARE(readFile(at("elsewhere/04.mp3")), elsewhere);
        QCOMPARE(reasons(), QStringList{"Kept: not music"});
    }

    // At start only the program's own leftovers go: partial copies of ended
    // runs, and inbox files caught in their removal come back.
    void removesOnlyItsOwnLeftovers()
    {
        const QStringList kept{"outbox/.tovrel-partial/1-mine", "outbox/.tovrel-partial/notes.txt",
                               "outbox/.tovrel-40000-x", "outbox/Artist/.tovrel-partial-40000-x",
                               "errors/.tovrel-partial/40000-Upper"};
        for (const QString& path :
             kept + QStringList{"outbox/.tovrel-partial/40000-x", "errors/.tovrel-partial/40001-y"})
            TestSupport::writeFile(at(path), "partial");
        ::rename(QFile::encodeName(at("outbox/.tovrel-partial/1-mine")),
                 QFile::encodeName(at("outbox/.tovrel-partial/")) + QByteArray::number(::getpid()) + "-mine");
        TestSupport::writeFile(at("inbox/.tovrel-removing/song.mp3"), "being removed");
        engine_->removeLeftovers();
        QCOMPARE(entries(at("outbox/.tovrel-partial")),
                 (QStringList{QString::number(::getpid()) + "-mine", "notes.txt"}));
        QCOMPARE(entries(at("errors/.tovrel-partial")), QStringList{"40000-Upper"});
        for (const QString& path : kept.mid(2))
            QVERIFY2(QFileInfo::exists(at(path)), qPrintable(path));
        QCOMPARE(entries(at("inbox")), QStringList{"song.mp3"});
    }
};

QTEST_GUILESS_MAIN(TestFiling)
#include "test_filing.moc"
