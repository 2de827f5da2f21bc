#include "Mp3Fixture.h"
#include "TestSupport.h"

#include "engine/FilingError.h"
#include "engine/TagReader.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>

using Mp3Fixture::Tag;

Q_DECLARE_METATYPE(Mp3Fixture::Tag)
Q_DECLARE_METATYPE(Mp3Fixture::Tags)

class TestTags : public QObject {
    Q_OBJECT

private slots:
    void readsEveryTagVersion_data();
    void readsEveryTagVersion();
    void trackField_data();
    void trackField();
    void id3v1FillsFieldsMissingFromId3v2();
    void fileWithoutTagIsEmpty();
    void readerAnswersForTheLastFileOpened();
    void notMpegAudioIsInvalidFileFormat_data();
    void notMpegAudioIsInvalidFileFormat();
    void unopenableFileFailsWithItsErrno();

private:
    QString path(const QString& name) const { return dir_.filePath(name); }
    // The failure that OpenTagFile throws for `file`; number 0 when none.
    static FilingError openFailure(const QString& file);

    QTemporaryDir dir_;
};

FilingError TestTags::openFailure(const QString& file)
{
    try {
        TagReader().OpenTagFile(file);
    } catch (const FilingError& error) {
        return error;
    }
    return {0, QString()};
}

void TestTags::readsEveryTagVersion_data()
{
    QTest::addColumn<Tag>("kind");
    QTest::addColumn<Mp3Fixture::Tags>("tags");

    QTest::newRow("ID3v1") << Tag::Id3v1 << Mp3Fixture::Tags{"Björk", "Homogenic", "Jóga", "3"};
    QTest::newRow("ID3v2.2") << Tag::Id3v22 << Mp3Fixture::Tags{"Motörhead", "Ace of Spades", "Ace of Spades", "1"};
    QTest::newRow("ID3v2.3 Latin-1") << Tag::Id3v23Latin1
                                     << Mp3Fixture::Tags{"Sigur Rós", "Ágætis byrjun", "Svefn-g-englar", "2"};
    QTest::newRow("ID3v2.3 UTF-16") << Tag::Id3v23Utf16
                                    << Mp3Fixture::Tags{"Мумий Тролль", "Морская", "Владивосток 2000", "12"};
    QTest::newRow("ID3v2.4 UTF-8") << Tag::Id3v24Utf8
                                   << Mp3Fixture::Tags{"坂本龍一", "千のナイフ", "Das Neue Japanische 🎹", "104"};
}

void TestTags::readsEveryTagVersion()
{
    QFETCH(Tag, kind);
    QFETCH(Mp3Fixture::Tags, tags);
    QVERIFY(Mp3Fixture::write(path("song.mp3"), tags, kind));

    TagReader reader;
    reader.OpenTagFile(path("song.mp3"));
    QCOMPARE(reader.Artist(), tags.artist);
    QCOMPARE(reader.Album(), tags.album);
    QCOMPARE(reader.SongTitle(), tags.title);
    QCOMPARE(reader.TrackNumber(), tags.track.toInt());
}

void TestTags::trackField_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("track");
    QTest::newRow("number of total") << "7/12" << 7;
    QTest::newRow("leading zero") << "07" << 7;
    QTest::newRow("negative") << "-3" << -3;
    QTest::newRow("not a number") << "A7" << 0;
}

void TestTags::trackField()
{
    QFETCH(QString, field);
    QVERIFY(Mp3Fixture::write(path("track.mp3"), {"Artist", "Album", "Title", field}, Tag::Id3v23Latin1));
    TagReader reader;
    reader.OpenTagFile(path("track.mp3"));
    QTEST(reader.TrackNumber(), "track");
}

void TestTags::id3v1FillsFieldsMissingFromId3v2()
{
    const QByteArray v2 = Mp3Fixture::build({"New Artist", QString(), "New Title", QString()}, Tag::Id3v23Latin1);
    const QByteArray v1 = Mp3Fixture::build({"Old Artist", "Old Album", "Old Title", "9"}, Tag::Id3v1, 0);
    TestSupport::writeFile(path("both.mp3"), v2 + v1);

    TagReader reader;
    reader.OpenTagFile(path("both.mp3"));
    QCOMPARE(reader.Artist(), QStringLiteral("New Artist"));
    QCOMPARE(reader.SongTitle(), QStringLiteral("New Title"));
    QCOMPARE(reader.Album(), QStringLiteral("Old Album"));
    QCOMPARE(reader.TrackNumber(), 9);
}

void TestTags::fileWithoutTagIsEmpty()
{
    QVERIFY(Mp3Fixture::write(path("bare.mp3"), {}, Tag::None));
    TagReader reader;
    reader.OpenTagFile(path("bare.mp3"));
    QCOMPARE(reader.Artist(), QString());
    QCOMPARE(reader.Album(), QString());
    QCOMPARE(reader.SongTitle(), QString());
    QCOMPARE(reader.TrackNumber(), 0);
}

void TestTags::readerAnswersForTheLastFileOpened()
{
    QVERIFY(Mp3Fixture::write(path("tagged.mp3"), "Artist", "Album", "Title", 5));
    QVERIFY(Mp3Fixture::write(path("bare.mp3"), {}, Tag::None));
    TagReader reader;
    reader.OpenTagFile(path("tagged.mp3"));
    reader.OpenTagFile(path("bare.mp3"));
    QCOMPARE(reader.Artist(), QString());
    QCOMPARE(reader.TrackNumber(), 0);
    QVERIFY_THROWS_EXCEPTION(FilingError, reader.OpenTagFile(path("missing.mp3")));
    QCOMPARE(reader.Album(), QString());
}

void TestTags::notMpegAudioIsInvalidFileFormat_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QRandomGenerator random(20240607);
    QByteArray noise(64 * 1024, Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);

    QTest::newRow("zero bytes") << QByteArray();
    QTest::newRow("random bytes") << noise;
    QTest::newRow("text") << QByteArray("This is not music.\n").repeated(100);
    QTest::newRow("tag but no audio") << Mp3Fixture::build({"Artist", "Album", "Title", "1"}, Tag::Id3v23, 0);
}

void TestTags::notMpegAudioIsInvalidFileFormat()
{
    QFETCH(QByteArray, bytes);
    TestSupport::writeFile(path("bad.mp3"), bytes);
    const FilingError error = openFailure(path("bad.mp3"));
    QCOMPARE(error.number(), 321);
    QCOMPARE(error.description(), QStringLiteral("Invalid file format"));
    QCOMPARE(error.lastDllError(), 0);
}

void TestTags::unopenableFileFailsWithItsErrno()
{
    const FilingError missing = openFailure(path("missing.mp3"));
    QCOMPARE(missing.number(), 53);
    QCOMPARE(missing.description(), QStringLiteral("File not found"));
    QCOMPARE(missing.lastDllError(), ENOENT);

    QVERIFY(QDir(dir_.path()).mkdir("folder.mp3"));
    QCOMPARE(openFailure(path("folder.mp3")).lastDllError(), EISDIR);

    TestSupport::writeFile(path("file"), "x");
    const FilingError notFolder = openFailure(path("file/song.mp3"));
    QCOMPARE(notFolder.number(), 76);
    QCOMPARE(notFolder.lastDllError(), ENOTDIR);
}

QTEST_GUILESS_MAIN(TestTags)
#include "test_tags.moc"
