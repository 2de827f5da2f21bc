#include "Mp3Fixture.h"
#include "TestSupport.h"

#include "engine/FilingError.h"
#include "engine/FilingWorker.h"
#include "engine/FolderFormat.h"
#include "engine/SafeMove.h"
#include "engine/processor.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <memory>

using TestSupport::readFile;

Q_DECLARE_METATYPE(TagValues)
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

    void folderLevels_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<TagValues>("tags"); // artist, album, title, track
        QTest::addColumn<QStringList>("levels");
        const auto row = [](const char* name, const QString& format, const TagValues& tags, const QStringList& levels) {
            QTest::newRow(name) << format << tags << levels;
        };
        row("path characters removed", "%ar\\%al", {"AC/DC", "Back: in Black", "Hells?", 7}, {"ACDC", "Back in Black"});
        row("three levels", "%ar\\%al\\%t - %s", {"Artist", "Album", "Intro", 3}, {"Artist", "Album", "03 - Intro"});
        // Tokens are replaced in the order %t, %s, %al, %ar, each everywhere.
        row("token order", "%s %al\\%ar", {"B%t", "%s", "T %ar", 5}, {"T B%t %s", "B%t"});
        row("capital token, negative track", "%AR %t", {"A", "", "", -3}, {"%AR -03"});
        row("vertical bar, track of three digits", "%ar %t", {"A|B", "", "", 123}, {"A|B 123"});
        row("empty artist and album, track 0", "%ar\\%al\\%t", {"", "", "", 0}, {"various", "", "00"});
        row("empty format", "", {"Artist", "Album", "", 1}, {});
        row("dots", "%ar\\%al", {"..", ".", "", 1}, {"__", "_"});
    }

    void folderLevels()
    {
        QFETCH(QString, format);
        QFETCH(TagValues, tags);
        QTEST(FolderLevels(format, tags), "levels");
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

    void blockedDestinationKeepsInboxFile()
    {
        TestSupport::writeFile(at("outbox/Artist"), "a file, not a folder");
        const QByteArray bytes = drop("x.mp3", "Artist", "Album");
        QCOMPARE(TestSupport::failureOf([&] { engine_->process(); }).lastDllError(), EEXIST);
        // A folder of the file's name: the copy fails and leaves no temporary file.
        QVERIFY(QFile::remove(at("outbox/Artist")) && QDir().mkpath(at("outbox/Artist/Album/x.mp3")));
        QCOMPARE(TestSupport::failureOf([&] { engine_->process(); }).lastDllError(), EISDIR);
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

    void workerOutcomes_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty for a tagged song
        QTest::addColumn<bool>("errorsBlocked");
        QTest::addColumn<FilingWorker::Outcome>("outcome");
        QTest::addColumn<QString>("landed");
        QTest::newRow("filed") << QByteArray() << false << FilingWorker::Outcome::Filed << "outbox/A/B/x.mp3";
        QTest::newRow("moved to errors") << QByteArray("not audio") << false << FilingWorker::Outcome::MovedToErrors
                                         << "errors/Invalid file format/x.mp3";
        QTest::newRow("left in inbox") << QByteArray("not audio") << true << FilingWorker::Outcome::LeftInInbox
                                       << "inbox/x.mp3";
    }

    // The worker on its own thread files a job and says how it went and whether the inbox file is gone.
    void workerOutcomes()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, errorsBlocked);
        QFETCH(FilingWorker::Outcome, outcome);
        QFETCH(QString, landed);
        QByteArray bytes = drop("x.mp3", "A", "B");
        if (!content.isEmpty())
            TestSupport::writeFile(at("inbox/x.mp3"), bytes = content);
        if (errorsBlocked)
            TestSupport::writeFile(at("errors/Invalid file format"), "a file where the subfolder goes");
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
        QCOMPARE(result.name, "x.mp3");
        QCOMPARE(result.outcome, outcome);
        QCOMPARE(result.leftTheInbox, !landed.startsWith("inbox"));
        QCOMPARE(readFile(at(landed)), bytes);
    }

    // A copy asks its hook before each step of 8 MB; a hook that says stop abandons it without a trace.
    void copyStepsAndAbandoning()
    {
        const QByteArray bytes(20 << 20, 'x');
        TestSupport::writeFile(at("inbox/big.mp3"), bytes);
        QList<qint64> seen;
        SafeMove::move(at("inbox/big.mp3"), at("outbox/big.mp3"), [&](qint64 copied, qint64 total) {
            seen << copied << total;
            return true;
        });
        QCOMPARE(seen, (QList<qint64>{0, 20 << 20, 8 << 20, 20 << 20, 16 << 20, 20 << 20, 20 << 20, 20 << 20}));
        TestSupport::writeFile(at("inbox/big.mp3"), bytes);
        QVERIFY_THROWS_EXCEPTION(SafeMove::Abandoned,
                                 SafeMove::move(at("inbox/big.mp3"), at("outbox/big2.mp3"),
                                                [](qint64 copied, qint64) { return copied == 0; }));
        QCOMPARE(entries(at("outbox")), QStringList{"big.mp3"});
        QVERIFY(readFile(at("inbox/big.mp3")) == bytes);
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
