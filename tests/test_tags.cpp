#include "Mp3Fixture.h"
#include "TestSupport.h"

#include "engine/FilingError.h"
#include "engine/TagReader.h"

#include <QLibraryInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <memory>

using Mp3Fixture::Tag;

class TestTags : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

private slots:
    void reads_data()
    {
        QTest::addColumn<QByteArray>("bytes");   // null for no file at all
        QTest::addColumn<QStringList>("answer"); // artist, album, title, track; or number, description, errno
        const auto row = [](const char* name, Tag kind, const Mp3Fixture::Tags& tags, int track) {
            QTest::newRow(name) << Mp3Fixture::build(tags, kind)
                                << QStringList{tags.artist, tags.album, tags.title, QString::number(track)};
        };
        row("ID3v1", Tag::Id3v1, {"Björk", "Homogenic", "Jóga", "3"}, 3);
        row("ID3v2.2", Tag::Id3v22, {"Motörhead", "Ace of Spades", "Ace of Spades", "1"}, 1);
        row("ID3v2.3 Latin-1", Tag::Id3v23, {"Sigur Rós", "Ágætis byrjun", "Svefn-g-englar", "7/12"}, 7);
        row("ID3v2.3 UTF-16", Tag::Id3v23Utf16, {"Мумий Тролль", "Морская", "Владивосток 2000", "12"}, 12);
        row("ID3v2.4 UTF-8", Tag::Id3v24Utf8, {"坂本龍一", "千のナイフ", "Thousand Knives 🎹", "104"}, 104);
        row("no tag", Tag::None, {}, 0);
        QTest::newRow("ID3v1 fills fields missing from ID3v2")
            << Mp3Fixture::build({"New", "", "New", ""}) + Mp3Fixture::build({"Old", "Album", "", "9"}, Tag::Id3v1, 0)
            << QStringList{"New", "Album", "New", "9"};

        QByteArray noise(64 * 1024, Qt::Uninitialized);
        QRandomGenerator(20240607).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
        const QStringList invalid{"321", "Invalid file format", "0"};
        QTest::newRow("zero bytes") << QByteArray("") << invalid;
        QTest::newRow("random bytes") << noise << invalid;
        const QString library = QLibraryInfo::path(QLibraryInfo::LibrariesPath) + "/libQt6Core.so.6";
        QTest::newRow("shared library") << TestSupport::readFile(library) << invalid;
        // A tag, then what is not a run of frames: three frames and noise.
        const QByteArray tag = Mp3Fixture::build({"A", "B", "C", "1"}, Tag::Id3v23, 0);
        const QByteArray frames = Mp3Fixture::build({}, Tag::None, 3);
        QTest::newRow("three frames") << tag + frames + noise << invalid;
        QTest::newRow("padding before the frames")
            << tag + QByteArray(1000, '\0') + Mp3Fixture::build({}, Tag::None, 4) << QStringList{"A", "B", "C", "1"};
        // Chapters nested deeper than a thread's stack goes are left unread; the frames around them are read.
        QTest::newRow("nested chapters") << Mp3Fixture::nestedChapters(20000) << QStringList{"Nest", "Nest", "", "0"};
        QTest::newRow("tag larger than any song's") << QByteArray(tag).replace(6, 1, "\x30") + frames << invalid;
        QTest::newRow("missing file") << QByteArray() << QStringList{"53", "File not found", QString::number(ENOENT)};
    }

    void reads()
    {
        QFETCH(QByteArray, bytes);
        if (!bytes.isNull())
            TestSupport::writeFile(dir_.filePath(QTest::currentDataTag()), bytes);
        QStringList answer;
        // On a thread of a small stack, where a reader that recurses fails at once.
        const std::unique_ptr<QThread> reading(QThread::create([&] {
            try {
                TagReader reader;
                reader.OpenTagFile(dir_.filePath(QTest::currentDataTag()));
                answer = {reader.Artist(), reader.Album(), reader.SongTitle(), QString::number(reader.TrackNumber())};
            } catch (const FilingError& error) {
                answer = {QString::number(error.number()), error.description(), QString::number(error.lastDllError())};
            }
        }));
        reading->setStackSize(1 << 20);
        reading->start();
        reading->wait();
        QTEST(answer, "answer");
    }
};

QTEST_GUILESS_MAIN(TestTags)
#include "test_tags.moc"
