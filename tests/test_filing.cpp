#include "Mp3Fixture.h"
#include "TestSupport.h"

#include "config/SettingsStore.h"
#include "engine/AlbumFolder.h"
#include "engine/FileInHand.h"
#include "engine/FileName.h"
#include "engine/FilingError.h"
#include "engine/FilingWorker.h"
#include "engine/FolderFormat.h"
#include "engine/SafeMove.h"
#include "engine/TagReaderProcess.h"
#include "engine/commonold.h"
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
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>

using TestSupport::readFile;
using namespace Qt::StringLiterals;

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

    // sh -c `command` `name` in the temporary folder, after "other: " as another account; its errors if it fails.
    QString shell(QString command, const QString& name = {})
    {
        const bool other = command.startsWith("other: ");
        const QStringList line = (other ? TestSupport::asOrdinaryAccount() : QStringList()) +
                                 QStringList{"sh", "-c", command.remove(0, other ? 7 : 0), name};
        QProcess sh;
        sh.setWorkingDirectory(dir_->path());
        sh.start(line.first(), line.mid(1));
        return sh.waitForFinished(60000) && sh.exitCode() == 0 ? QString() : command + ": " + sh.readAllStandardError();
    }

    QByteArray drop(const QString& name, const QString& artist, const QString& album)
    {
        const QByteArray bytes = Mp3Fixture::build({artist, album, "Song", "1"});
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

    // Where x.mp3 goes by its tags (artist, album, title, track, album artist, disc, disc total, compilation, date,
    // genre), on a file system that refuses what Windows refuses or on another: the path given, and the one expected.
    void filedPaths_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const QString& format, const TagValues& tags, const QString& expected,
                            const QString& nameFormat = "", bool windows = false, const QString& inboxName = "x.mp3") {
            const auto rules = windows ? NameRules::Windows : NameRules::Posix;
            QTest::newRow(name) << FiledPathFor(format, nameFormat, tags, inboxName, rules).path() << expected;
        };
        row("removed characters, three levels", "%ar\\%al\\%t - %s", {"AC/\\DC", "Back: in <*\"Black\">", "Hells?", 7},
            "ACDC/Back in Black/07 - Hells/x.mp3");
        row("tokens inside tags", "%s %al\\%ar", {"B%t", "%s", "T %ar", 5}, "T %ar %s/B%t/x.mp3");
        row("title with a token after a percent", "%t - %s", {"A", "", "100%alcohol", 2}, "02 - 100%alcohol/x.mp3");
        row("capital token, negative track", "%AR %t%", {"A", "", "", -3}, "%AR -03%/x.mp3");
        row("vertical bar, track of three digits", "%ar %t", {"A|B", "", "", 123}, "A|B 123/x.mp3");
        row("cleaned to nothing, no track", "%ar\\%al\\%t", {"???", "?", "", 0}, "various/x.mp3");
        row("trimmed", "%ar-%al\\%y %al", {" The Band\t", " Live : "}, "The Band-Live/Live/x.mp3");
        // A leading dot would hide the folder, or reach the program's own hidden folders.
        row("dots", "%ar\\%al\\%s\\%aa", {"..", ".", ".tovrel-partial", 1, "..A"}, "__/_/_tovrel-partial/_.A/x.mp3");
        row("album artist", "%aa\\%al", {"A", "B", "", 1, "Various Artists"}, "Various Artists/B/x.mp3");
        row("compilation", "%aa\\%al", {"A", "B", "", 1, "", 0, 0, true}, "Various Artists/B/x.mp3");
        row("no album artist", "%aa", {"", "", "", 1}, "various/x.mp3");
        row("disc 2 of 2", "%al\\Disc %d", {"A", "B", "", 1, "", 2, 2}, "B/Disc 2/x.mp3");
        row("disc 3, no total", "%al\\Disc %d", {"A", "B", "", 1, "", 3}, "B/Disc 3/x.mp3");
        row("disc 1 of 1", "%al\\Disc %d", {"A", "B", "", 1, "", 1, 1}, "B/x.mp3");
        row("disc 1, no total", "%al\\Disc %d", {"A", "B", "", 1, "", 1}, "B/x.mp3");
        row("no disc", "%al\\Disc %d", {"A", "B", "", 1, "", 0, 2}, "B/x.mp3");
        row("year, genre", "%g\\%y %al", {"A", "B", "", 1, "", 0, 0, false, "c. 2003-05", "R/B"}, "RB/2003 B/x.mp3");
        // The year is four digits in a row; a genre is cleaned and composed as the artist is.
        row("day first, genre", "%ar\\%g\\%y",
            {u"Rock: Cafe\u0301?"_s, "", "", 1, "", 0, 0, false, "05/01/2003", u"Rock: Cafe\u0301?"_s},
            u"Rock Caf\u00e9/Rock Caf\u00e9/2003/x.mp3"_s);
        row("no year, no genre", "%ar\\%y%g\\%al", {"A", "B", "", 1, "", 0, 0, false, "203"}, "A/B/x.mp3");
        row("accents", "%ar\\%al", {u"Cre\u0300me"_s, u"Bru\u0302le\u0301e"_s}, u"Cr\u00e8me/Br\u00fbl\u00e9e/x.mp3"_s);
        row("file name", "%ar", {"A", "", "Intro", 3}, "A/03 - Intro.mp3", "%t - %s");
        row("file name with an empty token", "%ar", {"A", "", "", 3}, "A/x.mp3", "%t - %s");
        row("file name without a track", "%ar", {"A", "", "Fireline", 0}, "A/x.mp3", "%t - %s");
        row("inbox name by Windows rules", "", {}, "Live_ Part 1_ _ _.mp3", "", true, "Live: Part 1? | *.mp3");
        row("file name of removed characters", "", {"A", "", "/", 3}, "x.mp3", "%s");
        row("file name cut, extension kept", "", {"", "", QString(300, u'é'), 1}, QString(125, u'é') + ".mp3", "%s");
        row("file name by Windows rules", "", {"", "", "A|B. ", 1}, "A_B_.mp3", "%s", true);
        // Cut to 255 bytes, never inside a character of two or four bytes.
        row("two-byte characters", "%ar", {QString(300, u'é'), "", "", 1}, QString(127, u'é') + "/x.mp3");
        row("four-byte character cut", "%ar%al", {QString(253, 'a'), "🎹🎹", "", 1}, QString(253, 'a') + "/x.mp3");
        row("cut, Windows", "%ar", {QString(254, 'a') + " b", "", "", 1}, QString(254, 'a') + "_/x.mp3", "", true);
        row("Windows", "%ar\\%al\\ |\x7f", {"A|B\tC", "Live. . ", "", 1}, "A_B_C/Live___/__/x.mp3", "", true);
    }

    void filedPaths()
    {
        QFETCH(QString, path);
        QTEST(path, "expected");
    }

    // An outbox on a FAT, exFAT or NTFS stick, however mounted or linked in, takes the names made for it: its levels
    // and the inbox name it keeps. exFAT through FUSE renames only by replacing and has no hard links; NTFS mounted
    // from a file is of no known type, and refuses the names with EINVAL.
    void windowsFileSystemTakesTheNames_data()
    {
        QTest::addColumn<QString>("mount");
        QTest::addColumn<QString>("artist");
        QTest::addColumn<QString>("filed");
        const QString name = "Live_ Part 1_ _ _.mp3";
        QTest::newRow("vfat") << u"mkfs.vfat fat.img && mount -o loop fat.img outbox"_s << "What?|Band. "
                              << "outbox/What_Band_/Live/" + name;
        QTest::newRow("exfat through FUSE, linked in")
            << u"mkfs.exfat fat.img && mkdir disk && mount -o loop -t exfat-fuse fat.img disk && "
               "ln -s ../disk 'outbox/What|Band.'"_s
            << "What?|Band. "
            << "disk/Live/" + name;
        QTest::newRow("NTFS of no known type, levels taken")
            << u"mkntfs -q -F fat.img && ntfs-3g -o windows_names fat.img outbox"_s << "Band"
            << "outbox/Band/Live/" + name;
    }
    void windowsFileSystemTakesTheNames()
    {
        for (const char* type : {"vfat", "msdos", "exfat", "ntfs3", "fuseblk", "fuse.ntfs-3g", "fuse.exfat"})
            QVERIFY2(commonold::IsWindowsFileSystemType(type), type);
        for (const char* type : {"ext4", "tmpfs", "fuse.sshfs", "fuse.encfs", "fuse"})
            QVERIFY2(!commonold::IsWindowsFileSystemType(type), type);
        QFETCH(QString, mount);
        const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {"-q", at("outbox"), at("disk")}); });
        if (!shell("truncate -s 16M fat.img && " + mount).isEmpty())
            QSKIP("needs root, the formatting tool and a kernel or FUSE driver that mounts it");
        QFETCH(QString, artist);
        const QByteArray bytes = drop("Live: Part 1? | *.mp3", artist, "Live");
        QCOMPARE(engine_->process().outcome, MoveResult::Outcome::Filed);
        QFETCH(QString, filed);
        QCOMPARE(readFile(at(filed)), bytes);
    }

    // As root: the inbox file another account's (0640), in folders anyone may write in; only root enters "private".
    // What another account plants is never followed nor used; an error log gets its file's owner and mode.
    void workerOutcomes_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty for a tagged song
        QTest::addColumn<QStringList>("setup");  // shell commands, see shell()
        QTest::addColumn<FilingWorker::Outcome>("outcome");
        QTest::addColumn<QString>("landed");
        using enum FilingWorker::Outcome;
        const auto row = [](const char* name, const QByteArray& content, const QStringList& setup, auto outcome,
                            const QString& landed) { QTest::newRow(name) << content << setup << outcome << landed; };
        row("filed", {}, {}, Filed, "outbox/A/B/x.mp3");
        // The errors subfolder's name is taken. A name is never a pattern: whether the file stayed is told by its own.
        for (const char* name : {"Live [1]?.mp3", "*.mp3", "a]b.mp3", "back\\slash.mp3"})
            row(name, "not audio", {"echo > 'errors/Invalid file format'"}, LeftInInbox, QString("inbox/") + name);
        row("sparse, odd name", "not audio", {}, ErrorFiled, "errors/Invalid file format/[x]?.mp3");
        row("errors folder within the margin", QByteArray(100000, 'x'), {"mount -t tmpfs -o size=1m none errors"},
            LeftInInbox, "inbox/x.mp3");
        row("other's link in the outbox", {}, {"other: ln -s ../private outbox/A"}, Waiting, "inbox/x.mp3");
        row("other's link in the errors folder", "not audio", {"other: ln -s ../private 'errors/Invalid file format'"},
            LeftInInbox, "inbox/x.mp3");
        row("own link in the outbox", {}, {"ln -s ../private outbox/A"}, Filed, "private/B/x.mp3");
        // The outbox leads back to the inbox: the file is not its own duplicate; it stays and waits.
        row("outbox that is the inbox", {}, {"ln -s ../inbox outbox/A && ln -s . inbox/B"}, Waiting, "inbox/x.mp3");
        row("outbox leading into the inbox", {}, {"mkdir inbox/in && ln -s ../inbox/in outbox/A"}, Waiting,
            "inbox/x.mp3");
        // Removed by its owner after it was chosen: neither filed nor sent to the errors folder.
        row("gone", {}, {"rm \"inbox/$0\""}, Gone, "");
        row("other's link for the inbox file", {},
            {"cp inbox/x.mp3 mine && chmod 600 mine", "other: ln -sf ../mine inbox/x.mp3"}, LeftInInbox, "inbox/x.mp3");
        row("other's partial folder", {}, {"other: mkdir -m 777 outbox/.tovrel-partial"}, Filed, "outbox/A/B/x.mp3");
        row("other's partial folders", {}, {"other: mkdir -m 777 outbox/.tovrel-partial outbox/.tovrel-partial-0"},
            Waiting, "inbox/x.mp3");
        row("other's .tovrel-removing", {}, {"other: touch inbox/.tovrel-removing"}, Filed, "outbox/A/B/x.mp3");
        // The kernel's copy fails (past the file size limit): the destination's fault, so the file waits.
        row("copy refused in the kernel", {}, {}, Waiting, "inbox/x.mp3");
        // An encrypted folder takes names of at most 175 bytes: a longer level or name is cut until it is taken.
        row("encrypted outbox, long names", "long names",
            {"mkdir raw && encfs --standard --extpass='echo pw' \"$PWD/raw\" \"$PWD/outbox\""}, Filed,
            "outbox/" + QString(143, 'a') + "/B/" + QString(139, 'n') + ".mp3");
    }

    void workerOutcomes()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, setup);
        QFETCH(QString, landed);
        const QByteArray tag = QTest::currentDataTag();
        const bool longNames = content == "long names";
        const QString name = longNames          ? QString(196, 'n') + ".mp3"
                             : landed.isEmpty() ? u"x.mp3"_s
                                                : landed.section('/', -1); // the inbox file's
        TestSupport::writeFile(at("inbox/x.mp3"), "another file, whose name an odd one matches as a pattern");
        drop(name, longNames ? QString(200, 'a') : "A", "B");
        if (!content.isEmpty() && !longNames)
            TestSupport::writeFile(at("inbox/" + name), content);
        QVERIFY(!tag.startsWith("sparse") || QFile::resize(at("inbox/" + name), 64 << 20));
        if ((::geteuid() != 0 && !setup.isEmpty()) || (longNames && QStandardPaths::findExecutable("encfs").isEmpty()))
            QSKIP("needs root, another account and encfs");
        if (::geteuid() == 0)
            setup.prepend("chmod 755 . && mkdir -m 700 private && chmod 1777 inbox outbox errors && "
                          "chown 65534:65534 \"inbox/$0\" && chmod 640 \"inbox/$0\"");
        const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {"-q", at("errors"), at("outbox")}); });
        const QByteArray bytes = readFile(at("inbox/" + name));
        for (const QString& command : setup)
            QCOMPARE(shell(command, name), QString());
        struct rlimit before;
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &before) == 0 && ::signal(SIGXFSZ, SIG_IGN) != SIG_ERR);
        const struct rlimit limit = {tag.contains("kernel") ? 100 : before.rlim_cur, before.rlim_max};
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
        const auto unlimit = qScopeGuard([&] { ::setrlimit(RLIMIT_FSIZE, &before); });
        FilingWorker worker;
        QSignalSpy filed(&worker, &FilingWorker::filed);
        worker.file(engine_->job());
        QCOMPARE(filed.size(), 1);
        const auto result = filed.first().first().value<FilingWorker::Result>();
        QCOMPARE(result.name, name);
        QTEST(result.outcome, "outcome");
        QCOMPARE(result.leftTheInbox(), !landed.startsWith("inbox"));
        QCOMPARE(readFile(at(landed)), landed.isEmpty() ? QByteArray() : bytes);
        QVERIFY(!landed.isEmpty() || entries(at("errors")).isEmpty());
        QCOMPARE(entries(at("private")).isEmpty(), !landed.startsWith("private"));
        struct stat file, log;
        QVERIFY(::stat(QFile::encodeName(at(landed)), &file) == 0 && file.st_blocks < 2048); // a sparse file stays so
        if (result.outcome == FilingWorker::Outcome::ErrorFiled) {
            QVERIFY(::stat(QFile::encodeName(at(landed + ".txt")), &log) == 0);
            QCOMPARE(std::tuple(log.st_uid, log.st_gid, log.st_mode),
                     std::tuple(file.st_uid, file.st_gid, file.st_mode));
        }
    }

    // Tags are read in a child process: one that dies on a file or stops answering costs that file only, which goes to
    // the errors folder; one that died between two files costs none. The next file is read by a new child.
    void aReaderThatDiesCostsOneFile_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty for a tagged song
        QTest::addColumn<int>("signal");         // sent to the child before the file is filed
        QTest::addColumn<QString>("landed");
        const QString stopped = "errors/The tag reader stopped on this file/";
        QTest::newRow("crashes on the file") << Mp3Fixture::nestedAtoms(300000) << 0 << stopped + "x.m4a";
        QTest::newRow("stops answering") << QByteArray() << SIGSTOP << stopped + "x.mp3";
        QTest::newRow("killed between files") << QByteArray() << SIGKILL << "outbox/A/B/x.mp3";
    }

    void aReaderThatDiesCostsOneFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, signal);
        QFETCH(QString, landed);
        const QString name = landed.section('/', -1);
        const QByteArray bytes = content.isEmpty() ? drop(name, "A", "B") : content;
        TestSupport::writeFile(at("inbox/" + name), bytes);
        engine_->setCurrentinfile(name);
        const pid_t reader = TagReaderProcess::childProcess();
        QVERIFY(reader > 0 && (signal == 0 || ::kill(reader, signal) == 0));
        if (signal == SIGKILL) // ended before the file comes
            QTRY_VERIFY(readFile(QString("/proc/%1/stat").arg(reader)).contains(") Z "));
        TagReaderProcess::setTimeLimit(500);
        const auto restore = qScopeGuard([] { TagReaderProcess::setTimeLimit(30000); });
        FilingWorker().file(engine_->job());
        QCOMPARE(readFile(at(landed)), bytes);
        drop("next.mp3", "A", "B");
        QCOMPARE(engine_->process().name, "next.mp3");
        QVERIFY(TagReaderProcess::childProcess() != reader);
    }

    // The reader stopped on a file known by its device and inode: a new file of its name is read, it is not.
    void aStoppedOnFileIsKnownByItsIdentity()
    {
        drop("x.mp3", "A", "B");
        QFile old(at("inbox/x.mp3"));
        QVERIFY(old.open(QIODevice::ReadOnly));
        FileInHand crashed;
        crashed.take(at("inbox/"), "x.mp3", old.handle());
        crashed.keepWhatStopped();
        QCOMPARE(TestSupport::failureOf([&] { engine_->process(); }).description(),
                 "The tag reader stopped on this file");
        QVERIFY(QFile::rename(at("inbox/x.mp3"), at("old.mp3"))); // kept, so that its inode is not taken again
        const QByteArray bytes = drop("x.mp3", "A", "C");
        FilingWorker().file(engine_->job());
        QCOMPARE(readFile(at("outbox/A/C/x.mp3")), bytes);
        struct stat stopped;
        QVERIFY(::fstat(old.handle(), &stopped) == 0);
        crashed.forget(stopped);
    }

    // A taken name gives "name (2).mp3" and on, never a replaced file; the same bytes make the inbox file a duplicate.
    // Existing entries: "name" (the same bytes), "name=text", "name=~" (the last byte changed) or "name/" (a folder).
    void neverReplacesAnotherFile_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<bool>("duplicate");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("nameFormat");
        const auto row = [](const char* tag, const QString& folder, const QStringList& existing, bool duplicate,
                            const QStringList& after, const QString& nameFormat = "", const QString& file = "x.mp3") {
            QTest::newRow(tag) << folder << existing << duplicate << after << file << nameFormat;
        };
        const QString out = "outbox/Artist/Album/", errors = "errors/File not found/";
        row("several taken", out, {"x.mp3=a", "x (2).mp3=b", "x (3).mp3/"}, false,
            {"x (2).mp3", "x (3).mp3", "x (4).mp3", "x.mp3"});
        row("same size, other last byte", out, {"x.mp3=~"}, false, {"x (2).mp3", "x.mp3"});
        row("errors, log alone", errors, {"x.mp3.txt=log"}, false, {"x (2).mp3", "x (2).mp3.txt", "x.mp3.txt"});
        row("errors, same file", errors, {"x.mp3", "x.mp3.txt=log"}, true, {"x.mp3", "x.mp3.txt"});
        row("errors, description all removed", "errors/", {}, false, {".tovrel-partial", "x.mp3", "x.mp3.txt"});
        row("same song past a gap", out, {"x.mp3=a", "x (3).mp3"}, true, {"x (3).mp3", "x.mp3"});
        // Another name of the very file being filed is not its duplicate: it would be removed with the inbox's.
        row("the file itself, linked", out, {"x.mp3=link"}, false, {"x (2).mp3", "x.mp3"});
        row("folders in another letter case", "outbox/ARTIST/album/", {"cover.jpg=pic"}, false, {"cover.jpg", "x.mp3"});
        // Two long names cut to one log name: the second file and its log are numbered.
        const QString a247(247, 'a');
        row("errors, long names alike", errors, {a247 + "aone.mp3=a", a247 + ".mp3.txt=log"}, false,
            {QString(243, 'a') + " (2).mp3.txt", a247 + " (2).mp3", a247 + ".mp3.txt", a247 + "aone.mp3"}, "",
            a247 + "atwo.mp3");
        // 255 bytes with " (2)" and ".txt": the stem is cut before a two-byte letter.
        const QString longest = QString(125, u'é') + "x.mp3";
        row("errors, longest name", errors, {longest + "=other"}, false,
            {QString(121, u'é') + " (2).mp3.txt", QString(123, u'é') + " (2).mp3", longest}, "", longest);
        row("tag name taken", out, {"01 - Song.mp3=other"}, false, {"01 - Song (2).mp3", "01 - Song.mp3"}, "%t - %s");
        row("tag name, same song", out, {"x.mp3=a", "01 - Song.mp3"}, true, {"01 - Song.mp3", "x.mp3"}, "%t - %s");
    }

    void neverReplacesAnotherFile()
    {
        QFETCH(QString, folder);
        QFETCH(QStringList, existing);
        QFETCH(QString, file);
        QFETCH(QString, nameFormat);
        engine_->setFormats(engine_->folderFormat(), nameFormat);
        const QByteArray bytes = drop(file, "Artist", "Album");
        const QString description = folder == "errors/" ? "?/\\:*<>\"" : "File not found";
        for (const QString& entry : existing) { // a folder holds a file
            const QString text = entry.section('=', 1);
            if (text == "link") {
                QVERIFY(QDir().mkpath(at(folder)) &&
                        ::link(QFile::encodeName(at("inbox/" + file)), QFile::encodeName(at(folder + "x.mp3"))) == 0);
                continue;
            }
            TestSupport::writeFile(at(folder + entry.section('=', 0, 0) + (entry.endsWith('/') ? "inside" : "")),
                                   text == "~"      ? bytes.chopped(1) + char(~bytes.back())
                                   : text.isEmpty() ? bytes
                                                    : text.toUtf8());
        }
        const bool toErrors = folder.startsWith("errors");
        const MoveResult moved =
            toErrors ? engine_->base().ErrorHandle(FilingError(53, description, 2)) : engine_->process();
        QTEST(moved.outcome == MoveResult::Outcome::Duplicate, "duplicate");
        QVERIFY(moved.sourceRemoved);
        QTEST(entries(at(folder)), "after");
        QCOMPARE(readFile(at(folder + moved.name)), bytes);
        if (toErrors && moved.outcome == MoveResult::Outcome::Filed)
            QCOMPARE(readFile(at(folder + LogNameFor(moved.name))),
                     " 53 \r\n" + description.toUtf8() + "\r\n 0 \r\n\r\n 2 \r\n");
        QCOMPARE(entries(at("inbox")), QStringList{});
        QCOMPARE(entries(at(toErrors ? "errors/.tovrel-partial" : "outbox/.tovrel-partial")), QStringList{});
    }

    // A name that is not UTF-8 is listed, filed and removed byte for byte, and shown with a mark for each byte that
    // is not part of a character; the copy keeps the permission bits and times of the original.
    void keepsNameBytesPermissionsAndTimes_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<int>("marks");
        for (const auto& [tag, name, marks] :
             {std::tuple{"utf-8", "\xc3\xa9t\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5", 0},
              {"latin-1", "caf\xe9 \xf0\x9f\x8e\xb5", 1},
              {"overlong", "\xc0\xaf\xe0\x80\xaf", 5},
              {"surrogate", "\xed\xa0\x80\xed\xb2\x80", 6},
              {"cut short", "a\xe2\x82", 2},
              {"stray bytes", "\x80\xbf\xff\xfe", 4},
              {"after a pair", "\xf0\x90\x82\x80\x80", 1},
              {"dots", "01. Intro", 0}})
            QTest::newRow(tag) << QByteArray(name) + ".mp3" << marks;
    }

    void keepsNameBytesPermissionsAndTimes()
    {
        QFETCH(QByteArray, name);
        const QByteArray filed = QFile::encodeName(at("outbox/A/B/")) + name;
        drop("x.mp3", "A", "B");
        QCOMPARE(shell("chmod 640 inbox/x.mp3 && touch -d @988000000.123456789 inbox/x.mp3"), QString());
        QVERIFY(::rename(QFile::encodeName(at("inbox/x.mp3")), QFile::encodeName(at("inbox/")) + name) == 0);
        engine_->updatestats();
        QCOMPARE(engine_->inboxcount(), 1);
        const QString listed = engine_->InboxFiles(1);
        QCOMPARE(FileName::encode(listed), name);
        QTEST(int(FileName::forDisplay(listed).count(QChar::ReplacementCharacter)), "marks");
        engine_->setCurrentinfile(listed);
        QCOMPARE(engine_->process().outcome, MoveResult::Outcome::Filed);
        struct stat copy;
        QVERIFY(::stat(filed, &copy) == 0);
        QCOMPARE(std::tuple(copy.st_mode & 07777, copy.st_mtim.tv_sec, copy.st_mtim.tv_nsec),
                 std::tuple(mode_t(0640), time_t(988000000), 123456789L));
        QCOMPARE(entries(at("inbox")), QStringList{});
        QVERIFY(::unlink(filed) == 0); // QDir cannot name it
    }

    // A file another program opens for writing or renames over during the copy stays as it left it, with no copy left
    // behind. "cancelled while compared": a close while a same-sized file is compared stops the comparison, then the
    // copy at its first chunk; "leased": the open meets a lease of another look, so the file waits, unblamed.
    void abandonsTheCopyWhenTheSourceChanges_data()
    {
        QTest::addColumn<QString>("change");
        for (const char* change :
             {"opened for writing", "cancelled", "cancelled while compared", "renamed over", "leased",
              "name taken meanwhile", "replaced after the copy", "opened for writing after the copy",
              "touched after the copy", "removed by its owner after the copy"})
            QTest::newRow(change) << QString(change);
    }

    void abandonsTheCopyWhenTheSourceChanges()
    {
        QFETCH(QString, change);
        const QString source = at("inbox/big.mp3");
        QByteArray bytes(20 << 20, 'a');
        TestSupport::writeFile(source, bytes);
        const bool after = change.endsWith("after the copy"), compared = change == "cancelled while compared",
                   taken = change == "name taken meanwhile";
        TestSupport::writeFile(at("inbox/other"), after ? QByteArray(bytes).fill('b') : "another file");
        if (compared)
            TestSupport::writeFile(at("outbox/big.mp3"), QByteArray(bytes).append('b').remove(0, 1));
        QProcess editor;
        const int leased = change == "leased" ? ::open(QFile::encodeName(source), O_RDONLY) : -1;
        std::signal(SIGIO, SIG_IGN); // the lease's holder is told of the open by this signal
        QVERIFY(leased < 0 || ::fcntl(leased, F_SETLEASE, F_WRLCK) == 0);
        // The move is held at the open of the folder the file is moved into to be compared before its removal:
        // another file of its size and times put in its place, or the file opened to write or touched, stays.
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
                    else if (held && change.startsWith("removed"))
                        ::unlink(QFile::encodeName(source));
                    else if (held && ::link(QFile::encodeName(source), QFile::encodeName(at("link"))) == 0)
                        ::close(::open(QFile::encodeName(at("link")), O_WRONLY | O_NONBLOCK));
                    const fanotify_response allow{event->fd, FAN_ALLOW};
                    ::write(watch, &allow, sizeof allow);
                    ::close(event->fd);
                }
            }
        });
        SafeMove move(source);
        int chunks = 0; // seen by the hook: a writer stops the copy at the next chunk
        const auto hook = [&](qint64, qint64) {
            if (++chunks > 1 || compared)
                return !compared;
            if (change == "opened for writing") { // the editor waits until the copy lets go of the file, then writes
                editor.start("sh", {"-c", "echo edited >> \"$0\"", source});
                for (int wait = 0; wait < 500 && !readFile("/proc/locks").contains("BREAKING"); ++wait)
                    QTest::qWait(10);
                bytes += "edited\n";
            } else if (taken) {
                TestSupport::writeFile(at("outbox/big.mp3"), "another song");
            } else if (change == "renamed over") {
                ::rename(QFile::encodeName(at("inbox/other")), QFile::encodeName(source));
                bytes = "another file";
            }
            return change != "cancelled";
        };
        const MoveResult moved = move.moveTo({at("outbox/"), at("outbox/"), "big.mp3", {}}, hook);
        ::close(leased); // before the lease could hold up the reads below
        QCOMPARE(chunks, leased >= 0 ? 0 : compared ? 2 : after || taken ? 3 : 1);
        QVERIFY(!editor.isOpen() || editor.waitForFinished(5000));
        if (taken) { // the rename refuses to replace it
            QCOMPARE(moved.name, "big (2).mp3");
            QCOMPARE(readFile(at("outbox/big (2).mp3")), bytes);
            QCOMPARE(readFile(at("outbox/big.mp3")), "another song");
            return;
        }
        QCOMPARE(moved.outcome, after ? MoveResult::Outcome::Filed : MoveResult::Outcome::Abandoned);
        QCOMPARE(moved.sourceRemoved, change.startsWith("removed")); // it has left the inbox all the same
        QCOMPARE(readFile(source), change.startsWith("replaced") ? QByteArray(bytes).fill('b')
                                   : moved.sourceRemoved         ? QByteArray()
                                                                 : bytes);
        QVERIFY(!after || readFile(at("outbox/big.mp3")) == bytes);
        const QStringList left{".tovrel-partial", "big.mp3"}; // the copy compared, or filed
        QCOMPARE(entries(at("outbox")), left.first(leased >= 0 ? 0 : compared || after ? 2 : 1));
        QCOMPARE(entries(at("outbox/.tovrel-partial")), QStringList{});
    }

    // Each format is filed by its own tags under its own name; a renamed WAV or a song without samples goes to errors.
    void filesEveryFormat_data()
    {
        QTest::addColumn<QString>("make"); // a shell command that makes "$0", the row's name, of in.wav
        const QString flac = "flac -s -T ARTIST=Band -T ALBUM=Light -o \"$0\" in.wav",
                      opus = "opusenc --quiet --artist Band --album Light in.wav \"$0\"",
                      aiff = "sox in.wav \"$0\" %1 && /usr/bin/python3 -c \"import sys; from mutagen import aiff, id3; "
                             "f = aiff.AIFF(sys.argv[1]); f.add_tags(); f.tags.add(id3.TPE1(text='Band')); "
                             "f.tags.add(id3.TALB(text='Light')); f.save()\" \"$0\"";
        QTest::newRow("flac.flac") << flac;
        QTest::newRow("ogg flac.OGA") << flac + " --ogg";
        QTest::newRow("ogg flac.ogg") << flac + " --ogg";
        QTest::newRow("ogg opus.ogg") << opus;
        QTest::newRow("vorbis.Ogg") << u"oggenc -Q -a Band -l Light -o \"$0\" in.wav"_s;
        QTest::newRow("opus.opus") << opus;
        QTest::newRow("wavpack.wv") << u"wavpack -q -w Artist=Band -w Album=Light in.wav -o \"$0\""_s;
        QTest::newRow("aiff.AIFF") << aiff.arg("");
        QTest::newRow("no samples.aif") << aiff.arg("trim 0 0");
    }

    void filesEveryFormat()
    {
        QFETCH(QString, make);
        const QString name = QTest::currentDataTag();
        for (const QString& tool : {make.section(' ', 0, 0), u"sox"_s})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                QSKIP("the encoder is not installed (./build.sh test installs it)");
        QCOMPARE(shell("sox -n -r 8000 -b 16 -c 1 in.wav synth 0.5 square 200 && " + make, name), QString());
        const QByteArray bytes = readFile(at(name)), wav = readFile(at("in.wav"));
        for (const QByteArray& content : {bytes, wav}) {
            TestSupport::writeFile(at("inbox/" + name), content);
            engine_->updatestats();
            QCOMPARE(engine_->inboxcount(), 1);
            engine_->setCurrentinfile(name);
            FilingWorker().file(engine_->job());
            const bool music = content == bytes && !make.contains("trim 0 0");
            QCOMPARE(readFile(at((music ? "outbox/Band/Light/" : "errors/Invalid file format/") + name)), content);
            QVERIFY(QDir(at("errors/Invalid file format")).removeRecursively());
        }
    }

    // A folder dropped into the inbox is an album: once it stands still its songs are filed by their own tags, no more
    // open than their folders let them be, then its companions follow, lyrics beside their song, and it goes with its
    // clutter (by name and content). One with anything else left (a text named like clutter, an empty folder of the
    // user's) stays, and so do a folder that held no music and the errors folder, put inside the inbox.
    void albumFolderFollowsItsSongs()
    {
        engine_->setErrorspath(at("inbox/errors/"));
        QVERIFY(Mp3Fixture::write(at("inbox/errors/Invalid file format/05.mp3"), "Band", "Light", "Five", 5));
        QVERIFY(Mp3Fixture::write(at("inbox/Light/CD1/01.mp3"), "Band", "Light", "One", 1) &&
                Mp3Fixture::write(at("inbox/Light/CD2/02.MP3"), "Band", "Light", "Two", 2) &&
                Mp3Fixture::write(at("inbox/Kept/03.mp3"), "Band", "Other", "Three", 3) &&
                Mp3Fixture::write(at("elsewhere/04.mp3"), "Band", "Elsewhere", "Four", 4) &&
                Mp3Fixture::write(at("inbox/Solo/06.mp3"), "Band", "Solo", "Six", 6) &&
                Mp3Fixture::write(at("inbox/Duo/07.mp3"), "Band", "Duo", "Seven", 7) &&
                Mp3Fixture::write(at("inbox/Aside/08.mp3"), "Band", "Aside", "Eight", 8) &&
                Mp3Fixture::write(at("inbox/Mix/09.mp3"), "Band", "Mix A", "Nine", 9) &&
                Mp3Fixture::write(at("inbox/Mix/10.mp3"), "Band", "Mix B", "Ten", 10) &&
                Mp3Fixture::write(at("inbox/Mix/B/11.mp3"), "Band", "Mix B", "Eleven", 11) &&
                Mp3Fixture::write(at("inbox/Held/CD1/12.mp3"), "Band", "Held", "Twelve", 12) &&
                QDir().mkpath(at("inbox/Duo/New folder")));
        const QByteArray appleDouble("\0\x05\x16\x07\0\x02", 6);
        for (const auto& [path, bytes] : QList<std::pair<QString, QByteArray>>{
                 {"Light/.DS_Store", QByteArray("\0\0\0\1Bud1\0", 9)},
                 {"Light/._02.MP3", appleDouble},
                 {"Light/CD1/Thumbs.db", "\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1"},
                 {"Work/._resume.docx", appleDouble},
                 {"Work/desktop.ini", "[.ShellClassInfo]\r\nIconResource=x.ico,0\r\n"},
                 {"Light/desktop.ini",
                  "\xff\xfe" + QByteArray(reinterpret_cast<const char*>(u"[ViewState]\r\nMode="), 36)},
                 {"Solo/._notes.txt", "a text of mine"},
                 {"Light/Light.m3u", "#EXTM3U\n02.MP3\r\nCD1/01.mp3\n"},
                 {"Mix/Mix.cue", "REM \xe9\r\nFILE \"09.mp3\" MP3\r\nFILE B\\11.mp3 MP3\r\nFILE \"x.wav\" WAVE\r\n"},
                 // A cover that cannot leave the inbox: what the program removes through is in the way.
                 {"Held/cover.jpg", "held"},
                 {"Held/.tovrel-removing", ""},
                 {"Held/.tovrel-removing-" + QByteArray::number(::geteuid()), ""}})
            TestSupport::writeFile(at("inbox/" + path), bytes);
        for (const QString path : {"Light/cover.jpg", "Light/Light.cue", "Light/CD1/01.lrc", "Kept/notes.txt",
                                   "Mix/cover.jpg", "Mix/scans/back.png", "Mix/B/folder.jpg"})
            TestSupport::writeFile(at("inbox/" + path), path.toUtf8());
        QVERIFY(QFile::setPermissions(at("inbox/Light/CD1"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        TestSupport::writeFile(at("outbox/Band/Light/cover.jpg"), "another picture");
        const QByteArray three = readFile(at("inbox/Kept/03.mp3")), four = readFile(at("elsewhere/04.mp3"));
        // A link inside a folder is not followed, neither by the look nor by the filing of a name through it.
        QVERIFY(QFile::link(at("elsewhere"), at("inbox/Kept/CD2")) &&
                QFile::link(at("elsewhere/04.mp3"), at("inbox/Kept/04.mp3")));
        for (const auto& [name, error] : {std::pair{"Kept/CD2/04.mp3", ENOTDIR}, {"Kept/04.mp3", ELOOP}}) {
            engine_->setCurrentinfile(name);
            QCOMPARE(TestSupport::failureOf([&] { engine_->process(); }).lastDllError(), error);
        }
        const auto reasons = [this] {
            engine_->updatestats();
            QStringList shown;
            for (const auto& entry : engine_->base().leftAlone())
                shown << entry.name + ": " + entry.reason;
            return shown;
        };
        QCOMPARE(reasons().mid(2, 3),
                 (QStringList{"errors: the outbox or the errors folder: never filed",
                              "Held: the folder is still changing", "Kept: the folder is still changing"}));
        QCOMPARE(engine_->inboxcount(), 10); // the songs in folders wait, listed with their folders, and are told of
        QCOMPARE(engine_->InboxFiles(1), "Aside/08.mp3");
        QVERIFY(!engine_->getnextfile());
        QCOMPARE(engine_->ServiceStatus(),
                 "Cannot Process files yet.  Aside waits until it has not changed for a few seconds.");
        engine_->setCurrentinfile("Aside/08.mp3"); // as the window does with a song it could not remove
        engine_->base().setCurrentFileAside("it is immutable");
        const QStringList left{"Aside", "Duo", "errors", "Held", "Kept", "Solo", "Work"};
        bool stillAfterOwnMoves = true; // the program's own moves out of a folder do not restart its wait
        QStringList placed;             // each companion placed, for the history
        FilingWorker worker;            // as the window's filing thread files a song or places an album's companions
        connect(&worker, &FilingWorker::filed, [&](const FilingWorker::Result& result) {
            for (const AlbumFolder::Placed& companion : result.companions)
                placed << companion.inboxName;
            engine_->base().setCompanionsAside(result.companionsAside);
        });
        const auto fileNext = [&] {
            worker.file(engine_->job());
            stillAfterOwnMoves &=
                !QFileInfo::exists(at("inbox/Light")) || AlbumFolder(at("inbox/"), "Light").standsStill();
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(!engine_->getnextfile() ? entries(at("inbox")) == left : fileNext(),
                                 (AlbumFolder::kStandStillSeconds + 2) * 2000);
        QVERIFY(stillAfterOwnMoves);
        // The cover that could not be removed was copied once, and is tried again only once it changed.
        QCOMPARE(placed.size(), 11);
        QCOMPARE(placed.count("Held/cover.jpg"), 1);
        QVERIFY(!engine_->getnextfile());
        TestSupport::writeFile(at("inbox/Held/cover.jpg"), "held");
        QTest::qWait(AlbumFolder::kStandStillSeconds * 1000 + 100);
        QVERIFY(engine_->getnextfile() && !fileNext() && placed.count("Held/cover.jpg") == 2);
        QCOMPARE(QStringList() << entries(at("inbox/Duo")) << entries(at("inbox/Solo")) << entries(at("inbox/Work")),
                 (QStringList{"New folder", "._notes.txt", "._resume.docx", "desktop.ini"}));
        struct stat one, two;
        QVERIFY(::stat(QFile::encodeName(at("outbox/Band/Light/01.mp3")), &one) == 0 &&
                ::stat(QFile::encodeName(at("outbox/Band/Light/02.MP3")), &two) == 0);
        QCOMPARE(std::pair(one.st_mode & 0777, two.st_mode & 0777), std::pair(mode_t(0600), mode_t(0644)));
        QCOMPARE(entries(at("outbox/Band/Light")),
                 (QStringList{"01.lrc", "01.mp3", "02.MP3", "cover (2).jpg", "cover.jpg", "Light.cue", "Light.m3u"}));
        QCOMPARE(readFile(at("outbox/Band/Light/cover (2).jpg")), "Light/cover.jpg");
        // Songs of one folder filed in two: a picture beside each, the cue sheet where both are; another's stay its.
        QCOMPARE(entries(at("outbox/Band/Mix A")) + entries(at("outbox/Band/Mix B")),
                 (QStringList{"09.mp3", "back.png", "cover.jpg", "10.mp3", "11.mp3", "back.png", "cover.jpg",
                              "folder.jpg"}));
        // Playlists and cue sheets name the songs where they went; every other line stays as it was.
        QCOMPARE(readFile(at("outbox/Band/Mix.cue")),
                 "REM \xe9\r\nFILE \"Mix A/09.mp3\" MP3\r\nFILE \"Mix B/11.mp3\" MP3\r\nFILE \"x.wav\" WAVE\r\n");
        QCOMPARE(readFile(at("outbox/Band/Light/Light.m3u")), "#EXTM3U\n02.MP3\r\n01.mp3\n");
        QCOMPARE(readFile(at("outbox/Band/Other/03.mp3")), three);
        QVERIFY(QFileInfo::exists(at("inbox/errors/Invalid file format/05.mp3")));
        QCOMPARE(entries(at("inbox/Kept")), (QStringList{"04.mp3", "CD2", "notes.txt"}));
        QCOMPARE(readFile(at("elsewhere/04.mp3")), four);
        QCOMPARE(reasons().mid(2, 3), (QStringList{"errors: the outbox or the errors folder: never filed",
                                                   "Held: companion waiting for its songs", "Kept: not music"}));
        // A later folder of the same name is another folder: the first one's songs do not call its pictures.
        QVERIFY(QDir(at("inbox/Solo")).removeRecursively());
        TestSupport::writeFile(at("inbox/Solo/cover.jpg"), "a later picture");
        QTest::qWait(AlbumFolder::kStandStillSeconds * 1000 + 100);
        QVERIFY(!engine_->getnextfile());
        QCOMPARE(entries(at("inbox/Solo")), QStringList{"cover.jpg"});
    }

    // At start only the program's own leftovers go: partial copies of ended runs, where they were written; inbox files
    // caught in removal return.
    void removesOnlyItsOwnLeftovers()
    {
        const QString mine = QString::number(::getpid()) + "-mine";
        for (const QString& path : QStringList{"outbox/.tovrel-40000-x", "outbox/Artist/.tovrel-partial-40000-x",
                                               "outbox/.tovrel-partial/" + mine, "outbox/.tovrel-partial/notes.txt",
                                               "outbox/.tovrel-partial/40000-x", "errors/.tovrel-partial/40001-y",
                                               "errors/.tovrel-partial/40000-Upper", "inbox/.tovrel-removing/song.mp3"})
            TestSupport::writeFile(at(path), "partial");
        // A copy killed in a folder of another disk linked into the outbox leaves its partial copy there.
        QTemporaryDir disk("/dev/shm/tovrel-XXXXXX");
        TestSupport::writeFile(at("inbox/big.mp3"), QByteArray(20 << 20, 'a'));
        QVERIFY(QFile::link(disk.path(), at("outbox/Disk")));
        if (const pid_t copier = ::fork(); copier == 0) {
            SafeMove(at("inbox/big.mp3")).moveTo({at("outbox/"), at("outbox/Disk/"), "big.mp3", {}}, [](auto, auto) {
                ::_exit(0);
                return true;
            });
            ::_exit(1);
        } else {
            QVERIFY(::waitpid(copier, nullptr, 0) == copier);
        }
        QCOMPARE(entries(disk.path()).size(), 1);
        engine_->removeLeftovers();
        QCOMPARE(entries(disk.path()), QStringList{});
        QCOMPARE(entries(at("outbox")), (QStringList{".tovrel-40000-x", ".tovrel-partial", "Artist", "Disk"}));
        QCOMPARE(entries(at("outbox/Artist")), QStringList{".tovrel-partial-40000-x"});
        QCOMPARE(entries(at("outbox/.tovrel-partial")), (QStringList{mine, "notes.txt"}));
        QCOMPARE(entries(at("errors/.tovrel-partial")), QStringList{"40000-Upper"});
        QCOMPARE(entries(at("inbox")), (QStringList{"big.mp3", "song.mp3"}));
    }
};

QTEST_GUILESS_MAIN(TestFiling)
#include "test_filing.moc"
