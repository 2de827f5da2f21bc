// The inbox scan: what is listed, in which order, what is counted and which
// file is chosen next.
#include "TestSupport.h"

#include "engine/FilingError.h"
#include "engine/commonold.h"
#include "engine/processor.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using TestSupport::HeldFile;
using TestSupport::writeFile;

class TestScan : public QObject {
    Q_OBJECT

    QTemporaryDir* dir_ = nullptr;
    processor* p_ = nullptr;

    QString inbox(const QString& name = {}) const { return dir_->filePath("inbox/") + name; }
    QString outbox(const QString& name = {}) const { return dir_->filePath("outbox/") + name; }

    QStringList listed() const
    {
        QStringList names;
        for (int i = 1; i <= p_->inboxcount(); ++i)
            names << p_->InboxFiles(i);
        return names;
    }

private slots:
    void init()
    {
        dir_ = new QTemporaryDir;
        QDir(dir_->path()).mkpath("inbox");
        QDir(dir_->path()).mkpath("outbox");
        p_ = new processor;
        p_->setInboxpath(inbox());
        p_->setOutboxpath(outbox());
    }
    void cleanup()
    {
        delete p_;
        delete dir_;
    }

    void emptyInbox()
    {
        QVERIFY_THROWS_EXCEPTION(FilingError, p_->InboxFiles(0)); // nothing listed yet
        writeFile(inbox("notes.txt"));
        QVERIFY(!p_->getnextfile());
        QCOMPARE(p_->ServiceStatus(), QStringLiteral("No files in inbox.  "));
        p_->updatestats();
        QCOMPARE(p_->inboxcount(), 0);
        QCOMPARE(p_->inboxlockcount() + p_->toobigcount() + p_->outboxlockcount(), 0);
        QCOMPARE(p_->InboxFiles(0), QString());
        try {
            p_->InboxFiles(1);
            QFAIL("an index past the listing must fail");
        } catch (const FilingError& error) {
            QCOMPARE(error.number(), 9);
            QCOMPARE(error.description(), QStringLiteral("Subscript out of range"));
        }
        QVERIFY_THROWS_EXCEPTION(FilingError, p_->InboxFiles(-1));
    }

    void listsPlainMp3FilesByNameIgnoringCase()
    {
        for (const char* name : {"b.mp3", "A.mp3", "c.MP3", "notes.txt", ".hidden.mp3", "mp3"})
            writeFile(inbox(name));
        QDir(inbox()).mkdir("folder.mp3");
        QFile::link(inbox("b.mp3"), inbox("link.mp3"));
        p_->updatestats();
        QCOMPARE(listed(), (QStringList{"A.mp3", "b.mp3", "c.MP3"}));
        QVERIFY(p_->getnextfile());
        QCOMPARE(p_->currentinfile(), QStringLiteral("A.mp3"));
        QCOMPARE(p_->ServiceStatus(), QString());
    }

    void skipsAFileHeldOpenAndTakesTheNext()
    {
        writeFile(inbox("a.mp3"));
        writeFile(inbox("b.mp3"));
        HeldFile writer("write", inbox("a.mp3"));
        QVERIFY(writer.isHolding());
        QVERIFY(p_->getnextfile());
        QCOMPARE(p_->currentinfile(), QStringLiteral("b.mp3"));
        p_->updatestats();
        QCOMPARE(p_->inboxcount(), 2);
        QCOMPARE(p_->inboxlockcount(), 1);
        QCOMPARE(p_->toobigcount(), 0);
        QCOMPARE(p_->outboxlockcount(), 0);
    }

    void nothingChosenWhileEveryFileIsHeld()
    {
        writeFile(inbox("first.mp3"));
        QVERIFY(p_->getnextfile());
        HeldFile reader("read", inbox("first.mp3"));
        QVERIFY(reader.isHolding());
        QVERIFY(!p_->getnextfile());
        QCOMPARE(p_->ServiceStatus(), QStringLiteral("Cannot Process files yet.  "));
        QCOMPARE(p_->currentinfile(), QStringLiteral("first.mp3"));
        reader.release();
        QVERIFY(p_->getnextfile());
        QCOMPARE(p_->ServiceStatus(), QString());
    }

    void anOutboxNameHeldOpenBlocksTheFile()
    {
        writeFile(inbox("Song.MP3"));
        writeFile(outbox("Song.mp3")); // the outbox name uses the output extension
        QVERIFY(p_->getnextfile());    // present but free: no obstacle
        p_->updatestats();
        QCOMPARE(p_->outboxlockcount(), 0);

        HeldFile holder("read", outbox("Song.mp3"));
        QVERIFY(holder.isHolding());
        QVERIFY(!p_->getnextfile());
        p_->updatestats();
        QCOMPARE(p_->outboxlockcount(), 1);
        QCOMPARE(p_->inboxlockcount(), 0);
    }

    void aFileTooBigForTheOutboxDiskIsCountedAndSkipped()
    {
        // A sparse file as long as the outbox disk's free space takes no room.
        QFile big(inbox("big.mp3"));
        QVERIFY(big.open(QIODevice::WriteOnly));
        QVERIFY(big.resize(commonold::DiskFreeBytes(outbox())));
        big.close();
        writeFile(inbox("small.mp3"));
        QVERIFY(p_->getnextfile());
        QCOMPARE(p_->currentinfile(), QStringLiteral("small.mp3"));
        p_->updatestats();
        QCOMPARE(p_->toobigcount(), 1);
        QCOMPARE(p_->inboxcount(), 2);
    }

    void currentFileNamesTheOutputFile()
    {
        p_->setCurrentinfile("Track.MP3");
        QCOMPARE(p_->currentoutfile(), QStringLiteral("Track.mp3"));
        p_->setCurrentinfile(".mp3"); // four characters: the output name stays
        QCOMPARE(p_->currentinfile(), QStringLiteral(".mp3"));
        QCOMPARE(p_->currentoutfile(), QStringLiteral("Track.mp3"));
        p_->outext = "ogg";
        p_->setCurrentinfile("x.mp3");
        QCOMPARE(p_->currentoutfile(), QStringLiteral("x.ogg"));
    }

    void countsPastTheSixteenBitRange()
    {
        const int files = 32769;
        for (int i = 0; i < files; ++i) {
            QFile file(inbox(QString::number(i) + ".mp3"));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        p_->updatestats();
        QCOMPARE(p_->inboxcount(), files);
        QCOMPARE(p_->InboxFiles(files), QStringLiteral("9999.mp3")); // last by name
    }

    void aMissingInboxFailsWithItsPath()
    {
        p_->setInboxpath(dir_->filePath("gone/"));
        try {
            p_->updatestats();
            QFAIL("listing a missing inbox must fail");
        } catch (const FilingError& error) {
            QCOMPARE(error.number(), 76);
        }
    }
};

QTEST_GUILESS_MAIN(TestScan)
#include "test_scan.moc"
