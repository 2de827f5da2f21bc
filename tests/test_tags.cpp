#include "Mp3Fixture.h"
#include "TestSupport.h"

#include "engine/TagReader.h"

#include <QRandomGenerator>
#include <QtTest>

#include <cerrno>
#include <sys/stat.h>

using Mp3Fixture::Tag;

class TestTags : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

private slots:
    void reads_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // null for none written
        // artist, album, title, track, "album artist|disc/total|compilation|date|genre"; or number, description, errno
        QTest::addColumn<QStringList>("answer");
        const auto row = [](const char* name, Tag kind, const Mp3Fixture::Tags& tags, int track,
                            const QString& more = "|0/0|||") {
            QTest::newRow(name) << Mp3Fixture::build(tags, kind)
                                << QStringList{tags.artist, tags.album, tags.title, QString::number(track), more};
        };
        row("ID3v1", Tag::Id3v1, {"Björk", "Homogenic", "Jóga", "3"}, 3);
        row("ID3v2.2", Tag::Id3v22, {"Motörhead", "Ace of Spades", "Ace of Spades", "1"}, 1);
        row("ID3v2.3 Latin-1", Tag::Id3v23, {"Sigur Rós", "Ágætis byrjun", "Svefn-g-englar", "7/12"}, 7);
        row("ID3v2.3 UTF-16", Tag::Id3v23Utf16, {"Мумий Тролль", "Морская", "Владивосток 2000", "12"}, 12);
        row("ID3v2.4 UTF-8", Tag::Id3v24Utf8, {"坂本龍一", "千のナイフ", "Thousand Knives 🎹", "104"}, 104);
        row("no tag", Tag::None, {}, 0);
        row("ID3v2.4 album artist, disc, compilation, date, genre", Tag::Id3v24Utf8,
            {"A", "B", "C", "1", {"TPE2=Various Artists", "TPOS=2/3", "TCMP=1", "TDRC=2003-05-01", "TCON=17"}}, 1,
            "Various Artists|2/3|compilation|2003-05-01|Rock");
        row("ID3v2.3 year, numbered genre", Tag::Id3v23, {"A", "B", "C", "1", {"TPOS=1", "TYER=1999", "TCON=(13)"}}, 1,
            "|1/0||1999|Pop");
        QTest::newRow("ID3v1 fills fields missing from ID3v2")
            << Mp3Fixture::build({"New", "", "New", ""}) + Mp3Fixture::build({"Old", "Album", "", "9"}, Tag::Id3v1, 0)
            << QStringList{"New", "Album", "New", "9", "|0/0|||"};

        QByteArray noise(64 * 1024, Qt::Uninitialized);
        QRandomGenerator(20240607).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
        const QStringList invalid{"321", "Invalid file format", "0"};
        QTest::newRow("zero bytes") << QByteArray("") << invalid;
        QTest::newRow("random bytes") << noise << invalid;
        // A tag, then what is not a run of frames: three frames and noise.
        const QByteArray tag = Mp3Fixture::build({"A", "B", "C", "1"}, Tag::Id3v23, 0);
        const QByteArray frames = Mp3Fixture::build({}, Tag::None, 3);
        QTest::newRow("three frames") << tag + frames + noise << invalid;
        QTest::newRow("padding before the frames") << tag + QByteArray(1000, '\0') + Mp3Fixture::build({}, Tag::None, 4)
                                                   << QStringList{"A", "B", "C", "1", "|0/0|||"};
        // Chapters nested deeper than a thread's stack goes are left unread, whatever file holds the tag; the frames
        // around them are read.
        for (const char* format : {"mp3", "flac", "aiff"})
            QTest::newRow(qPrintable(QString("nested chapters.") + format))
                << Mp3Fixture::nestedChapters(20000, format) << QStringList{"Nest", "Nest", "", "0", "|0/0|||"};
        QTest::newRow("tag larger than any song's") << QByteArray(tag).replace(6, 1, "\x30") + frames << invalid;
        QTest::newRow("missing file") << QByteArray() << QStringList{"53", "File not found", QString::number(ENOENT)};
        // Neither followed nor waited on.
        QFile::link(dir_.filePath("no tag"), dir_.filePath("link"));
        ::mkfifo(QFile::encodeName(dir_.filePath("fifo")), 0600);
        for (const char* name : {"link", "fifo"})
            QTest::newRow(name) << QByteArray() << QStringList{"75", "Path/File access error", QString::number(EINVAL)};
    }

    void reads()
    {
        QFETCH(QByteArray, bytes);
        const QString path = dir_.filePath(QTest::currentDataTag());
        if (!bytes.isNull())
            TestSupport::writeFile(path, bytes);
        QStringList answer;
        QThreadPool reading; // its threads have a small stack, where a reader that recurses fails at once
        reading.setStackSize(1 << 20);
        reading.start([&] {
            try {
                TagReader reader;
                reader.OpenTagFile(path);
                const TagValues& t = reader.tags();
                answer = {reader.Artist(), reader.Album(), reader.SongTitle(), QString::number(reader.TrackNumber()),
                          QStringList{t.albumArtist, QString::number(t.disc) + '/' + QString::number(t.discTotal),
                                      t.compilation ? "compilation" : "", t.date, t.genre}
                              .join('|')};
            } catch (const FilingError& error) {
                answer = {QString::number(error.number()), error.description(), QString::number(error.lastDllError())};
            }
        });
        reading.waitForDone();
        QTEST(answer, "answer");
    }
};

QTEST_GUILESS_MAIN(TestTags)
#include "test_tags.moc"
