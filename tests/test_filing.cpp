#include "Mp3Fixture.h"
#include "TestSupport.h"

#include "engine/FilingError.h"
#include "engine/FolderFormat.h"
#include "engine/SafeMove.h"
#include "engine/commonold.h"
#include "engine/processor.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <memory>
#include <unistd.h>

using TestSupport::readFile;

Q_DECLARE_METATYPE(TagValues)

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

    void folderLevels_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<TagValues>("tags"); // artist, album, title, track
        QTest::addColumn<bool>("windows");   // the file system refuses what Windows refuses
        QTest::addColumn<QStringList>("levels");
        const auto row = [](const char* name, const QString& format, const TagValues& tags, const QStringList& levels,
                            bool windows = false) { QTest::newRow(name) << format << tags << windows << levels; };
        row("path characters removed", "%ar\\%al", {"AC/DC", "Back: in Black", "Hells?", 7}, {"ACDC", "Back in Black"});
        row("three levels", "%ar\\%al\\%t - %s", {"Artist", "Album", "Intro", 3}, {"Artist", "Album", "03 - Intro"});
        // Tags are data: a token inside a tag value stays as it is.
        row("tokens inside tags", "%s %al\\%ar", {"B%t", "%s", "T %ar", 5}, {"T %ar %s", "B%t"});
        row("album naming the artist token", "%ar\\%al", {"Band", "%ar Live", "", 1}, {"Band", "%ar Live"});
        row("title with a token after a percent", "%t - %s", {"A", "", "100%alcohol", 2}, {"02 - 100%alcohol"});
        row("capital token, negative track", "%AR %t%", {"A", "", "", -3}, {"%AR -03%"});
        row("vertical bar, track of three digits", "%ar %t", {"A|B", "", "", 123}, {"A|B 123"});
        row("empty artist and album, track 0", "%ar\\%al\\%t", {"", "", "", 0}, {"various", "", "00"});
        row("empty format", "", {"Artist", "Album", "", 1}, {});
        row("dots", "%ar\\%al", {"..", ".", "", 1}, {"__", "_"});
        // Cut to 255 bytes, never inside a character of two, three or four bytes.
        row("255 bytes kept", "%ar", {QString(255, 'a'), "", "", 1}, {QString(255, 'a')});
        row("two-byte characters", "%ar", {QString(300, u'é'), "", "", 1}, {QString(127, u'é')});
        row("three-byte characters", "x%ar", {QString(100, u'龍'), "", "", 1}, {"x" + QString(84, u'龍')});
        row("four-byte character across the cut", "%ar%al", {QString(253, 'a'), "🎹🎹", "", 1}, {QString(253, 'a')});
        row("cut, then Windows rules", "%ar", {QString(254, 'a') + " b", "", "", 1}, {QString(254, 'a') + "_"}, true);
        row("refused by Windows", "%ar\\%al\\ |\x7f", {"A|B\tC", "Live. . ", "", 1}, {"A_B_C", "Live____", " __"},
            true);
        row("Windows dots", "%ar\\%al", {"..", "...", "", 1}, {"__", "___"}, true);
        row("Windows spares the rest", "%ar", {"AC·DC ünd Co.", "", "", 1}, {"AC·DC ünd Co_"}, true);
    }

    void folderLevels()
    {
        QFETCH(QString, format);
        QFETCH(TagValues, tags);
        QFETCH(bool, windows);
        QTEST(FolderLevels(format, tags, windows ? NameRules::Windows : NameRules::Posix), "levels");
    }

    void filesIntoNewLevelsAndReplacesWhole()
    {
        drop("x.mp3", "AC/DC", "Back: in Black", "Hells Bells, the longer take");
        engine_->process();
        const QByteArray bytes = drop("x.mp3", "AC/DC", "Back: in Black", "Hells Bells");
        engine_->process();
        QCOMPARE(readFile(at("outbox/ACDC/Back in Black/x.mp3")), bytes);
        QCOMPARE(entries(at("outbox/ACDC/Back in Black")), QStringList{"x.mp3"}); // no temporary file
        TestSupport::writeFile(at("new"), "made with the usual permissions, which the copy has too");
        QCOMPARE(QFile::permissions(at("outbox/ACDC/Back in Black/x.mp3")), QFile::permissions(at("new")));
        QCOMPARE(entries(at("inbox")), QStringList{});
    }

    // Something in the way in the outbox blames that path, not the file.
    void blockedDestinationKeepsInboxFile()
    {
        const auto blamed = [&] {
            const FilingError error = TestSupport::failureOf([&] { engine_->process(); });
            return QStringList{QString::number(error.lastDllError()), error.folder()};
        };
        TestSupport::writeFile(at("outbox/Artist"), "a file, not a folder");
        const QByteArray bytes = drop("x.mp3", "Artist", "Album");
        QCOMPARE(blamed(), (QStringList{QString::number(EEXIST), at("outbox/Artist")}));
        // A folder of the file's name: the copy fails and leaves no temporary file.
        QVERIFY(QFile::remove(at("outbox/Artist")) && QDir().mkpath(at("outbox/Artist/Album/x.mp3")));
        QCOMPARE(blamed(), (QStringList{QString::number(EISDIR), at("outbox/Artist/Album/")}));
        QCOMPARE(entries(at("outbox/Artist/Album")), QStringList{"x.mp3"});
        QCOMPARE(readFile(at("inbox/x.mp3")), bytes);
    }

    void errorFilingReplacesEarlierCopyAndLog()
    {
        drop("song.mp3", "First", "Take, longer than the second");
        engine_->base().ErrorHandle(FilingError(53, "File not found", 123456));
        const QByteArray bytes = drop("song.mp3", "A", "B");
        engine_->setProcessing(true);
        engine_->base().ErrorHandle(FilingError::fromErrno(ENOENT));
        const QString folder = at("errors/File not found/");
        QCOMPARE(entries(folder), (QStringList{"song.mp3", "song.mp3.txt"}));
        QCOMPARE(readFile(folder + "song.mp3"), bytes);
        QCOMPARE(readFile(folder + "song.mp3.txt"), QByteArray(" 53 \r\nFile not found\r\n 0 \r\n\r\n 2 \r\n"));
        QCOMPARE(entries(at("inbox")), QStringList{});
        QVERIFY(!engine_->processing());
    }

    void errorFilingFailureKeepsInboxFile()
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
        QCOMPARE(entries(at("errors")), (QStringList{"Disk full", "song.mp3", "song.mp3.txt"}));
        QCOMPARE(readFile(at("errors/song.mp3")), bytes);
    }

    // The log's name keeps ".mp3.txt" and stays within 255 bytes, cut between two-byte characters.
    void errorLogNameIsCutToFit()
    {
        const QString name = QString(124, u'é') + ".mp3";
        const QByteArray bytes = drop(name, "A", "B");
        engine_->base().ErrorHandle(FilingError::fromErrno(ENOENT));
        QStringList expected{name, QString(123, u'é') + ".mp3.txt"};
        expected.sort();
        QCOMPARE(entries(at("errors/File not found")), expected);
        QCOMPARE(readFile(at("errors/File not found/") + name), bytes);
    }

    // An outbox on a FAT stick (a loop-mounted image, when the system can mount one) takes the names made for it.
    void windowsFileSystemTakesTheLevels()
    {
        const QString image = at("fat.img");
        QFile(image).resize(8 << 20);
        if (::geteuid() != 0 || QProcess::execute("mkfs.vfat", {"-q", image}) != 0 ||
            QProcess::execute("mount", {"-o", "loop", image, at("outbox")}) != 0)
            QSKIP("needs root, mkfs.vfat and a kernel that mounts vfat");
        const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {at("outbox")}); });
        QVERIFY(commonold::RefusesWindowsNames(at("outbox/")));
        const QByteArray bytes = drop("x.mp3", "What?|Band. ", "Live\x01");
        engine_->process();
        QCOMPARE(readFile(at("outbox/What_Band__/Live_/x.mp3")), bytes);
    }

    void changedSourceIsNotDeleted()
    {
        TestSupport::writeFile(at("inbox/growing.mp3"), "first part");
        SafeMove growing(at("inbox/growing.mp3"));
        TestSupport::writeFile(at("inbox/growing.mp3"), "first part, second part");
        growing.copyTo(at("outbox/growing.mp3"));
        QVERIFY(!growing.removeSourceIfUnchanged());
        QCOMPARE(readFile(at("inbox/growing.mp3")), QByteArray("first part, second part"));
    }
};

QTEST_GUILESS_MAIN(TestFiling)
#include "test_filing.moc"
