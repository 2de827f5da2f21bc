// What the user is told afterwards: the history of each filed file and the
// notices of files that went to the errors folder.
#include "TestSupport.h"

#include "engine/History.h"
#include "window/ErrorNotices.h"

#include <QtTest>

class TestHistory : public QObject {
    Q_OBJECT

private slots:
    // One tab-separated line per file, whatever its name holds; the folder is made when missing.
    void oneLinePerOutcome()
    {
        QTemporaryDir root;
        History history(root.filePath("state/tovrel"));
        history.filed("a.mp3", "/out/A/B/a.mp3");
        history.duplicate("b\tc.mp3", "/out/A/B/b.mp3");
        history.errorFiled("d\ne.mp3", "/err/Invalid file format/d.mp3", "Invalid file format");
        const QStringList lines = QString::fromUtf8(TestSupport::readFile(history.filePath())).split('\n');
        QCOMPARE(lines.size(), 4);
        QStringList withoutTimes;
        for (const QString& line : lines.mid(0, 3)) {
            const QDateTime time = QDateTime::fromString(line.section('\t', 0, 0), Qt::ISODate);
            QVERIFY2(qAbs(time.secsTo(QDateTime::currentDateTime())) < 60, qPrintable(line));
            withoutTimes << line.section('\t', 1);
        }
        QCOMPARE(withoutTimes, QStringList({"filed\ta.mp3\t/out/A/B/a.mp3",
                                            "duplicate\tb\\tc.mp3\tsame as /out/A/B/b.mp3; removed from the inbox",
                                            "error\td\\ne.mp3\t/err/Invalid file format/d.mp3 (Invalid file format)"}));
        QCOMPARE(history.filePath(), root.filePath("state/tovrel/history.log"));
    }

    // Past its size the log becomes history.log.1, replacing the older one; nothing is lost from the newer.
    void rotatesPastAMegabyte()
    {
        QTemporaryDir root;
        History history(root.path());
        TestSupport::writeFile(history.filePath() + ".1", "oldest");
        TestSupport::writeFile(history.filePath(), QByteArray(History::kRotateAtBytes - 1, 'x'));
        history.filed("a.mp3", "/out/a.mp3"); // still below: appended
        QCOMPARE(TestSupport::readFile(history.filePath() + ".1"), QByteArray("oldest"));
        history.filed("b.mp3", "/out/b.mp3"); // now past: rotated first
        QVERIFY(TestSupport::readFile(history.filePath() + ".1").endsWith("\tfiled\ta.mp3\t/out/a.mp3\n"));
        QVERIFY(TestSupport::readFile(history.filePath()).endsWith("\tfiled\tb.mp3\t/out/b.mp3\n"));
        QVERIFY(QFileInfo(history.filePath()).size() < 200);
    }

    // A log that cannot be written is skipped without a failure.
    void unwritableLogIsSkipped()
    {
        QTemporaryDir root;
        TestSupport::writeFile(root.filePath("state"), "a file where the folder should be");
        History history(root.filePath("state/tovrel"));
        history.filed("a.mp3", "/out/a.mp3");
        QVERIFY(!QFileInfo::exists(history.filePath()));
    }

    // The first file starts the wait; one notice then sums up every file since, so a steady stream of failures gives
    // one notice a while, and every file is counted once.
    void noticesSumUpAtMostOneAWhile()
    {
        ErrorNotices notices(300);
        QSignalSpy shown(&notices, &ErrorNotices::notice);
        QElapsedTimer clock;
        clock.start();
        QList<qint64> times;
        connect(&notices, &ErrorNotices::notice, this, [&] { times << clock.elapsed(); });
        for (int file = 0; file < 3; ++file)
            notices.fileErrorFiled();
        QTRY_COMPARE(shown.size(), 1);
        QVERIFY(clock.elapsed() >= 270); // a coarse timer may fire up to 5% early
        QCOMPARE(shown.at(0).at(0).toString(), "3 files could not be filed; they are in the errors folder.");
        for (int file = 0; file < 8; ++file) {
            notices.fileErrorFiled();
            QTest::qWait(100);
        }
        QVERIFY(shown.size() >= 3); // not only once the stream has ended
        QTest::qWait(400);
        for (int notice = 1; notice < times.size(); ++notice)
            QVERIFY(times.at(notice) - times.at(notice - 1) >= 270);
        int files = 0;
        for (const QList<QVariant>& notice : shown.mid(1))
            files += notice.at(0).toString().section(' ', 0, 0).toInt();
        QCOMPARE(files, 8);
        QCOMPARE(ErrorNotices::text(1), "1 file could not be filed; it is in the errors folder.");
    }
};

QTEST_GUILESS_MAIN(TestHistory)
#include "test_history.moc"
