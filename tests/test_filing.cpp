#include "Mp3Fixture.h"
#include "TestSupport.h"

#include "config/SettingsStore.h"
#include "engine/FilingError.h"
#include "engine/FolderFormat.h"
#include "engine/SafeMove.h"
#include "engine/processor.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <memory>
#include <sys/stat.h>
#include <utime.h>

using TestSupport::readFile;

Q_DECLARE_METATYPE(TagValues)

class TestFiling : public QObject {
    Q_OBJECT

private slots:
    void init();

    void folderLevels_data();
    void folderLevels();
    void formatTrack_data();
    void formatTrack();

    void filesByArtistAndAlbum();
    void createsThreeLevelsInTurn();
    void emptyAlbumFilesIntoArtistFolder();
    void emptyFormatFilesIntoOutboxRoot();
    void eachFileByItsOwnTags();
    void dotArtistStaysInsideOutbox();
    void replacesExistingDestinationWithWholeCopy();
    void levelTakenByFileFailsAndKeepsInboxFile();
    void brokenFileGoesToErrorsWithLog();

    void errorFilingWritesLogByteForByte();
    void errorFilingNegativeNumberAndTexts();
    void errorFilingWithoutSubfolder_data();
    void errorFilingWithoutSubfolder();
    void errorFilingSubfolderNames();
    void errorFilingReplacesEarlierCopyAndLog();
    void errorFilingFailureKeepsInboxFile();

    void changedSourceIsNotDeleted();
    void failedCopyLeavesNoTemporaryFile();
    void copiesAcrossFileSystems();

private:
    QString inbox(const QString& name = QString()) const { return dir_->path() + "/inbox/" + name; }
    QString outbox(const QString& name = QString()) const { return dir_->path() + "/outbox/" + name; }
    QString errors(const QString& name = QString()) const { return dir_->path() + "/errors/" + name; }
    void setFormat(const QString& format);
    // Puts an MP3 with these tags into the inbox and makes it the current file.
    QByteArray drop(const QString& name, const QString& artist, const QString& album, const QString& title = "Song",
                    int track = 1);
    static QStringList entries(const QString& folder);

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<processor> engine_;
};

void TestFiling::init()
{
    TestSupport::clearSettings();
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    for (const QString& folder : {inbox(), outbox(), errors()})
        QVERIFY(QDir().mkpath(folder));
    engine_ = std::make_unique<processor>();
    engine_->setInboxpath(inbox());
    engine_->setOutboxpath(outbox());
    engine_->setErrorspath(errors());
}

void TestFiling::setFormat(const QString& format)
{
    SettingsStore::write(Setting::FileFormat, format);
    engine_->loadsettings();
    QCOMPARE(engine_->folderFormat(), format);
}

QByteArray TestFiling::drop(const QString& name, const QString& artist, const QString& album, const QString& title,
                            int track)
{
    const QByteArray bytes = Mp3Fixture::build({artist, album, title, QString::number(track)});
    TestSupport::writeFile(inbox(name), bytes);
    engine_->setCurrentinfile(name);
    return bytes;
}

QStringList TestFiling::entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

void TestFiling::folderLevels_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<TagValues>("tags");
    QTest::addColumn<QStringList>("levels");

    struct Case {
        const char* name;
        QString format;
        TagValues tags; // artist, album, title, track
        QStringList levels;
    };
    const QString byAlbum = "%ar\\%al";
    const Case cases[] = {
        {"path characters removed", byAlbum, {"AC/DC", "Back: in Black", "Hells?", 7}, {"ACDC", "Back in Black"}},
        {"three levels", "%ar\\%al\\%t - %s", {"Artist", "Album", "Intro", 3}, {"Artist", "Album", "03 - Intro"}},
        {"artist token in title is replaced", "%s", {"Band", "", "Live %ar", 1}, {"Live Band"}},
        {"track token in artist is kept", "%ar %t", {"Blink %t", "", "", 5}, {"Blink %t 05"}},
        {"title token in album is kept", "%al", {"A", "%s", "T", 1}, {"%s"}},
        {"capital token is text", "%AR", {"Artist", "", "", 1}, {"%AR"}},
        {"every occurrence", "%ar\\%ar", {"X", "", "", 1}, {"X", "X"}},
        {"empty album", byAlbum, {"Artist", "", "", 1}, {"Artist", ""}},
        {"empty artist", byAlbum, {"", "Album", "", 1}, {"various", "Album"}},
        {"artist of removed characters", byAlbum, {"?*", "Album", "", 1}, {"various", "Album"}},
        {"empty format", "", {"Artist", "Album", "", 1}, {}},
        {"format empty once replaced", "%al", {"Artist", "", "", 1}, {}},
        {"separators at the ends", "\\%ar\\\\", {"A", "", "", 1}, {"", "A", "", ""}},
        {"vertical bar kept", byAlbum, {"A|B", "C", "", 1}, {"A|B", "C"}},
        {"artist ..", byAlbum, {"..", "Album", "", 1}, {"__", "Album"}},
        {"album .", byAlbum, {"Artist", ".", "", 1}, {"Artist", "_"}},
        {"dots in format", "..\\.\\%ar", {"A", "", "", 1}, {"__", "_", "A"}},
        {"more dots are a name", "%ar", {"...And You Will Know Us", "", "", 1}, {"...And You Will Know Us"}},
        {"slash in a hand-edited format", "../%ar", {"A", "", "", 1}, {"..A"}},
    };
    for (const Case& c : cases)
        QTest::newRow(c.name) << c.format << c.tags << c.levels;
}

void TestFiling::folderLevels()
{
    QFETCH(QString, format);
    QFETCH(TagValues, tags);
    QTEST(FolderLevels(format, tags), "levels");
}

void TestFiling::formatTrack_data()
{
    QTest::addColumn<int>("track");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "00";
    QTest::newRow("7") << 7 << "07";
    QTest::newRow("12") << 12 << "12";
    QTest::newRow("123") << 123 << "123";
    QTest::newRow("-3") << -3 << "-03";
    QTest::newRow("-12") << -12 << "-12";
    QTest::newRow("lowest") << std::numeric_limits<int>::min() << "-2147483648";
}

void TestFiling::formatTrack()
{
    QFETCH(int, track);
    QTEST(FormatTrack(track), "text");
}

void TestFiling::filesByArtistAndAlbum()
{
    const QByteArray bytes = drop("x.mp3", "AC/DC", "Back: in Black", "Hells?", 7);
    engine_->process();
    QCOMPARE(readFile(outbox("ACDC/Back in Black/x.mp3")), bytes);
    QVERIFY(!QFile::exists(inbox("x.mp3")));
    QCOMPARE(entries(outbox()), QStringList{"ACDC"});
    QCOMPARE(entries(outbox("ACDC/Back in Black")), QStringList{"x.mp3"});
    // Readable as any new file is, not only by its owner as a temporary file would be.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat info;
    QCOMPARE(::stat(QFile::encodeName(outbox("ACDC/Back in Black/x.mp3")).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0666 & ~mask);
}

void TestFiling::createsThreeLevelsInTurn()
{
    setFormat("%ar\\%al\\%t - %s");
    const QByteArray bytes = drop("intro.mp3", "Artist", "Album", "Intro", 3);
    engine_->process();
    QCOMPARE(readFile(outbox("Artist/Album/03 - Intro/intro.mp3")), bytes);
    QVERIFY(!QFile::exists(inbox("intro.mp3")));
}

void TestFiling::emptyAlbumFilesIntoArtistFolder()
{
    const QByteArray bytes = drop("single.mp3", "Artist", "");
    engine_->process();
    QCOMPARE(entries(outbox("Artist")), QStringList{"single.mp3"});
    QCOMPARE(readFile(outbox("Artist/single.mp3")), bytes);
}

void TestFiling::emptyFormatFilesIntoOutboxRoot()
{
    setFormat("");
    const QByteArray bytes = drop("x.mp3", "Artist", "Album");
    engine_->process();
    QCOMPARE(entries(outbox()), QStringList{"x.mp3"});
    QCOMPARE(readFile(outbox("x.mp3")), bytes);
}

void TestFiling::eachFileByItsOwnTags()
{
    drop("a.mp3", "First", "One");
    engine_->process();
    drop("b.mp3", "", "Two");
    engine_->process();
    QVERIFY(QFile::exists(outbox("First/One/a.mp3")));
    QVERIFY(QFile::exists(outbox("various/Two/b.mp3")));
    QCOMPARE(entries(inbox()), QStringList{});
}

void TestFiling::dotArtistStaysInsideOutbox()
{
    setFormat("%ar\\%al\\%s");
    drop("x.mp3", "..", "..", ".");
    engine_->process();
    QVERIFY(QFile::exists(outbox("__/__/_/x.mp3")));
    QCOMPARE(entries(dir_->path()), (QStringList{"errors", "inbox", "outbox"}));
}

void TestFiling::replacesExistingDestinationWithWholeCopy()
{
    TestSupport::writeFile(outbox("Artist/Album/x.mp3"), "an older copy that is longer than nothing");
    const QByteArray bytes = drop("x.mp3", "Artist", "Album");
    engine_->process();
    QCOMPARE(readFile(outbox("Artist/Album/x.mp3")), bytes);
    // No temporary file is left beside it.
    QCOMPARE(entries(outbox("Artist/Album")), QStringList{"x.mp3"});
    QVERIFY(!QFile::exists(inbox("x.mp3")));
}

void TestFiling::levelTakenByFileFailsAndKeepsInboxFile()
{
    TestSupport::writeFile(outbox("Artist"), "a file, not a folder");
    const QByteArray bytes = drop("x.mp3", "Artist", "Album");
    try {
        engine_->process();
        QFAIL("filing into a file succeeded");
    } catch (const FilingError& error) {
        QCOMPARE(error.number(), 58);
        QCOMPARE(error.lastDllError(), EEXIST);
    }
    QCOMPARE(readFile(inbox("x.mp3")), bytes);
    QCOMPARE(readFile(outbox("Artist")), QByteArray("a file, not a folder"));
}

void TestFiling::brokenFileGoesToErrorsWithLog()
{
    const QByteArray noise = QByteArray("not audio at all").repeated(50);
    TestSupport::writeFile(inbox("noise.mp3"), noise);
    engine_->setCurrentinfile("noise.mp3");
    try {
        engine_->process();
        QFAIL("a file without audio was filed");
    } catch (const FilingError& error) {
        QCOMPARE(entries(outbox()), QStringList{});
        QCOMPARE(readFile(inbox("noise.mp3")), noise);
        engine_->base().ErrorHandle(error);
    }
    QCOMPARE(readFile(errors("Invalid file format/noise.mp3")), noise);
    QCOMPARE(readFile(errors("Invalid file format/noise.mp3.txt")),
             QByteArray(" 321 \r\nInvalid file format\r\n 0 \r\n\r\n 0 \r\n"));
    QCOMPARE(entries(inbox()), QStringList{});

    engine_->setCurrentinfile("gone.mp3");
    QVERIFY_THROWS_EXCEPTION(FilingError, engine_->process());
}

void TestFiling::errorFilingWritesLogByteForByte()
{
    const QByteArray bytes = drop("song.mp3", "A", "B");
    engine_->setProcessing(true);
    engine_->base().ErrorHandle(FilingError::fromErrno(ENOENT));

    QCOMPARE(readFile(errors("File not found/song.mp3")), bytes);
    QCOMPARE(readFile(errors("File not found/song.mp3.txt")),
             QByteArray(" 53 \r\nFile not found\r\n 0 \r\n\r\n 2 \r\n"));
    QCOMPARE(entries(errors("File not found")), (QStringList{"song.mp3", "song.mp3.txt"}));
    QVERIFY(!QFile::exists(inbox("song.mp3")));
    QVERIFY(!engine_->processing());
}

void TestFiling::errorFilingNegativeNumberAndTexts()
{
    drop("SONG.MP3", "A", "B");
    engine_->base().ErrorHandle(FilingError(-2147483647, "Path/File: ünicode", 0));
    // The copy takes the output name, with the output extension.
    QCOMPARE(readFile(errors("PathFile ünicode/SONG.mp3.txt")),
             QByteArray("-2147483647 \r\nPath/File: ünicode\r\n 0 \r\n\r\n 0 \r\n"));
    QVERIFY(QFile::exists(errors("PathFile ünicode/SONG.mp3")));
}

void TestFiling::errorFilingWithoutSubfolder_data()
{
    QTest::addColumn<QString>("description");
    QTest::newRow("only removed characters") << "?/\\:*<>\"";
    QTest::newRow("empty") << "";
}

void TestFiling::errorFilingWithoutSubfolder()
{
    QFETCH(QString, description);
    const QByteArray bytes = drop("song.mp3", "A", "B");
    engine_->base().ErrorHandle(FilingError(75, description, 5));
    QCOMPARE(entries(errors()), (QStringList{"song.mp3", "song.mp3.txt"}));
    QCOMPARE(readFile(errors("song.mp3")), bytes);
    QCOMPARE(readFile(errors("song.mp3.txt")), " 75 \r\n" + description.toUtf8() + "\r\n 0 \r\n\r\n 5 \r\n");
}

void TestFiling::errorFilingSubfolderNames()
{
    drop("song.mp3", "A", "B");
    engine_->base().ErrorHandle(FilingError(75, "A|B", 0));
    QCOMPARE(entries(errors("A|B")), (QStringList{"song.mp3", "song.mp3.txt"}));

    drop("dots.mp3", "A", "B");
    engine_->base().ErrorHandle(FilingError(75, "..", 0));
    QCOMPARE(entries(errors("__")), (QStringList{"dots.mp3", "dots.mp3.txt"}));
}

void TestFiling::errorFilingReplacesEarlierCopyAndLog()
{
    drop("song.mp3", "First", "Take");
    engine_->base().ErrorHandle(FilingError(321, "Invalid file format", 0));
    const QByteArray second = drop("song.mp3", "Second", "Take, longer than the first");
    engine_->base().ErrorHandle(FilingError(321, "Invalid file format", 7));

    QCOMPARE(entries(errors("Invalid file format")), (QStringList{"song.mp3", "song.mp3.txt"}));
    QCOMPARE(readFile(errors("Invalid file format/song.mp3")), second);
    QCOMPARE(readFile(errors("Invalid file format/song.mp3.txt")),
             QByteArray(" 321 \r\nInvalid file format\r\n 0 \r\n\r\n 7 \r\n"));
}

void TestFiling::errorFilingFailureKeepsInboxFile()
{
    TestSupport::writeFile(errors("Disk full"), "a file where the subfolder goes");
    const QByteArray bytes = drop("song.mp3", "A", "B");
    engine_->setProcessing(true);
    QVERIFY_THROWS_EXCEPTION(FilingError, engine_->base().ErrorHandle(FilingError::fromErrno(ENOSPC)));
    QCOMPARE(readFile(inbox("song.mp3")), bytes);
    QCOMPARE(entries(errors()), QStringList{"Disk full"});
    QVERIFY(engine_->processing());

    // A missing inbox file: no copy, no log.
    engine_->setCurrentinfile("gone.mp3");
    QVERIFY_THROWS_EXCEPTION(FilingError, engine_->base().ErrorHandle(FilingError(75, "Other", 0)));
    QCOMPARE(entries(errors("Other")), QStringList{});
}

void TestFiling::changedSourceIsNotDeleted()
{
    // Written to while the copy runs: the source keeps its new data.
    TestSupport::writeFile(inbox("growing.mp3"), "first part");
    SafeMove growing(inbox("growing.mp3"));
    QFile appender(inbox("growing.mp3"));
    QVERIFY(appender.open(QIODevice::Append));
    appender.write(", second part");
    appender.close();
    growing.copyTo(outbox("growing.mp3"));
    QVERIFY(!growing.removeSourceIfUnchanged());
    QCOMPARE(readFile(inbox("growing.mp3")), QByteArray("first part, second part"));

    // Touched after the copy: same size, other modification time.
    TestSupport::writeFile(inbox("touched.mp3"), "data");
    SafeMove touched(inbox("touched.mp3"));
    touched.copyTo(outbox("touched.mp3"));
    struct utimbuf times = {1000000000, 1000000000};
    QCOMPARE(::utime(QFile::encodeName(inbox("touched.mp3")).constData(), &times), 0);
    QVERIFY(!touched.removeSourceIfUnchanged());
    QVERIFY(QFile::exists(inbox("touched.mp3")));
    QCOMPARE(readFile(outbox("touched.mp3")), QByteArray("data"));

    // Replaced by another file of the same size.
    TestSupport::writeFile(inbox("replaced.mp3"), "data");
    SafeMove replaced(inbox("replaced.mp3"));
    replaced.copyTo(outbox("replaced.mp3"));
    TestSupport::writeFile(inbox("other"), "DATA");
    QVERIFY(QFile::rename(inbox("replaced.mp3"), inbox("old")) && QFile::rename(inbox("other"), inbox("replaced.mp3")));
    QVERIFY(!replaced.removeSourceIfUnchanged());
    QCOMPARE(readFile(inbox("replaced.mp3")), QByteArray("DATA"));

    TestSupport::writeFile(inbox("steady.mp3"), "data");
    QVERIFY(SafeMove::move(inbox("steady.mp3"), outbox("steady.mp3")));
    QVERIFY(!QFile::exists(inbox("steady.mp3")));
}

void TestFiling::failedCopyLeavesNoTemporaryFile()
{
    TestSupport::writeFile(inbox("x.mp3"), "data");
    QVERIFY(QDir().mkpath(outbox("x.mp3/inside")));
    try {
        SafeMove::move(inbox("x.mp3"), outbox("x.mp3"));
        QFAIL("a file replaced a folder");
    } catch (const FilingError& error) {
        QCOMPARE(error.lastDllError(), EISDIR);
    }
    QCOMPARE(entries(outbox()), QStringList{"x.mp3"});
    QCOMPARE(readFile(inbox("x.mp3")), QByteArray("data"));

    QVERIFY_THROWS_EXCEPTION(FilingError, SafeMove::move(inbox("x.mp3"), outbox("missing/x.mp3")));
    QCOMPARE(readFile(inbox("x.mp3")), QByteArray("data"));
}

void TestFiling::copiesAcrossFileSystems()
{
    // /dev/shm is memory, another file system than the temporary folder on most
    // machines; the kernel then refuses an in-kernel copy and a buffer is used.
    QTemporaryDir memory(QStringLiteral("/dev/shm/tovrel-XXXXXX"));
    struct stat there, here;
    if (!memory.isValid() || ::stat(QFile::encodeName(memory.path()).constData(), &there) != 0 ||
        ::stat(QFile::encodeName(dir_->path()).constData(), &here) != 0 || there.st_dev == here.st_dev)
        QSKIP("no second file system at hand");
    QByteArray bytes(3 * 1024 * 1024 + 17, Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7 + i / 1024);
    TestSupport::writeFile(memory.filePath("x.mp3"), bytes);
    QVERIFY(SafeMove::move(memory.filePath("x.mp3"), outbox("x.mp3")));
    QCOMPARE(readFile(outbox("x.mp3")), bytes);
    QVERIFY(!QFile::exists(memory.filePath("x.mp3")));
}

QTEST_GUILESS_MAIN(TestFiling)
#include "test_filing.moc"
