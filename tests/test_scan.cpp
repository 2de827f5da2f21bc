// The inbox scan: what is listed, in which order, what is counted and which
// file is chosen next.
#include "TestSupport.h"

#include "engine/FilingError.h"
#include "engine/commonold.h"
#include "engine/processor.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using TestSupport::HeldFile;
using TestSupport::writeFile;

class TestScan : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<processor> p_;

    QString inbox(const QString& name = {}) const { return dir_->filePath("inbox/") + name; }
    QString outbox(const QString& name = {}) const { return dir_->filePath("outbox/") + name; }
    QStringList listed() const
    {
        QStringList names;
        for (int i = 0; i <= p_->inboxcount(); ++i)
            names << p_->InboxFiles(i);
        return names;
    }
    QList<int> counters() const
    {
        return {p_->inboxcount(), p_->inboxlockcount(), p_->toobigcount(), p_->outboxlockcount()};
    }

private slots:
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        QDir(dir_->path()).mkpath("inbox");
        QDir(dir_->path()).mkpath("outbox");
        p_ = std::make_unique<processor>();
        p_->setInboxpath(inbox());
        p_->setOutboxpath(outbox());
    }

    void emptyInbox()
    {
        QCOMPARE(TestSupport::failureOf([&] { p_->InboxFiles(0); }).number(), 9); // nothing listed yet
        writeFile(inbox("notes.txt"));
        QVERIFY(!p_->getnextfile());
        QCOMPARE(p_->ServiceStatus(), QStringLiteral("No files in inbox.  "));
        p_->updatestats();
        QCOMPARE(counters(), QList<int>({0, 0, 0, 0}));
        QCOMPARE(listed(), QStringList{""});
        QCOMPARE(TestSupport::failureOf([&] { p_->InboxFiles(1); }).number(), 9);
    }

    void listsPlainMp3FilesByNameIgnoringCase()
    {
        for (const char* name : {"b.mp3", "A.mp3", "c.MP3", "notes.txt", ".hidden.mp3"})
            writeFile(inbox(name));
        QDir(inbox()).mkdir("folder.mp3");
        QFile::link(inbox("b.mp3"), inbox("link.mp3"));
        p_->updatestats();
        QCOMPARE(listed(), (QStringList{"", "A.mp3", "b.mp3", "c.MP3"}));
    }

    // Held inbox files, an outbox name held open and a file too big for the
    // outbox disk are counted and passed over; the next good file is chosen.
    void passesOverWhatCannotBeFiledYet()
    {
        for (const char* name : {"a held.mp3", "b outbox held.mp3", "c free.mp3"})
            writeFile(inbox(name));
        writeFile(outbox("b outbox held.mp3"));
        writeFile(outbox("c free.mp3")); // present but not held: no obstacle
        QFile big(inbox("0 big.mp3"));   // sparse: as long as the free space, taking none of it
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(commonold::DiskFreeBytes(outbox())));
        big.close();
        HeldFile writer("write", inbox("a held.mp3"));
        HeldFile reader("read", outbox("b outbox held.mp3"));
        QVERIFY(writer.isHolding() && reader.isHolding());

        QVERIFY(p_->getnextfile());
        QCOMPARE(p_->currentinfile(), QStringLiteral("c free.mp3"));
        QCOMPARE(p_->ServiceStatus(), QString());
        p_->updatestats();
        QCOMPARE(counters(), QList<int>({4, 1, 1, 1}));

        QVERIFY(QFile::remove(inbox("c free.mp3")));
        QVERIFY(!p_->getnextfile());
        QCOMPARE(p_->ServiceStatus(), QStringLiteral("Cannot Process files yet.  "));
        QCOMPARE(p_->currentinfile(), QStringLiteral("c free.mp3")); // kept from the last choice
    }

    void currentFileNamesTheOutputFile()
    {
        p_->setCurrentinfile("Track.MP3");
        QCOMPARE(p_->currentoutfile(), QStringLiteral("Track.mp3"));
        p_->setCurrentinfile(".mp3"); // four characters: the output name stays
        QCOMPARE(p_->currentoutfile(), QStringLiteral("Track.mp3"));
    }

    void countsPastTheSixteenBitRange()
    {
        const int files = 32769;
        for (int i = 0; i < files; ++i)
            QVERIFY(QFile(inbox(QString::number(i) + ".mp3")).open(QIODevice::WriteOnly));
        p_->updatestats();
        QCOMPARE(p_->inboxcount(), files);
        QCOMPARE(p_->InboxFiles(files), QStringLiteral("9999.mp3")); // last by name
    }

    void aMissingInboxFailsAsAMissingPath()
    {
        p_->setInboxpath(dir_->filePath("gone/"));
        QCOMPARE(TestSupport::failureOf([&] { p_->updatestats(); }).number(), 76);
    }
};

QTEST_GUILESS_MAIN(TestScan)
#include "test_scan.moc"
