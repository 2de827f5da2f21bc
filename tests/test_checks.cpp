// The file-system checks: existence, folders, files held open by other
// processes, free space and name cleaning.
#include "TestSupport.h"

#include "engine/ProcessFileSnapshot.h"
#include "engine/commonold.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace commonold;
using TestSupport::HeldFile;

class TestChecks : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString path(const QString& name) const { return dir_.filePath(name); }

private slots:
    void fileExists()
    {
        TestSupport::writeFile(path("song.mp3"));
        QDir(dir_.path()).mkdir("folder");
        QVERIFY(FileExists(path("song.mp3")));
        QVERIFY(FileExists(path("folder")));
        QVERIFY(FileExists(path("*.mp3")));
        QVERIFY(FileExists(path("s?ng.mp3")));
        QVERIFY(!FileExists(path("*.ogg")));
        QVERIFY(!FileExists(path("missing")));
        QVERIFY(!FileExists(path("missing/song.mp3")));
        QVERIFY(!FileExists(path("song.mp3/x")));
    }

    void isFolderValid()
    {
        QDir(dir_.path()).mkdir("folder");
        QDir(dir_.path()).mkdir(".hidden");
        TestSupport::writeFile(path("file"));
        QVERIFY(IsFolderValid(path("folder")));
        QVERIFY(IsFolderValid(path("folder/")));
        QVERIFY(IsFolderValid(path(".hidden")));
        QVERIFY(IsFolderValid("/"));
        QVERIFY(IsFolderValid(""));
        QVERIFY(!IsFolderValid(path("file")));
        QVERIFY(!IsFolderValid(path("missing")));
        QVERIFY(!IsFolderValid(path("file/below")));
    }

    void fileIsFreeWhileNobodyHoldsIt()
    {
        TestSupport::writeFile(path("free.mp3"));
        QDir(dir_.path()).mkdir("folder");
        QVERIFY(FileIsFree(path("free.mp3")));
        QVERIFY(!FileIsFree(path("missing.mp3")));
        QVERIFY(!FileIsFree(path("folder")));
        if (::geteuid() != 0) {
            ::chmod(QFile::encodeName(path("free.mp3")).constData(), 0);
            QVERIFY(!FileIsFree(path("free.mp3")));
        }
    }

    void fileIsNotFreeWhileAnotherProcessHoldsIt_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("open for reading") << "read";
        QTest::newRow("open for writing") << "write";
        QTest::newRow("memory mapping") << "mmap";
        QTest::newRow("advisory lock") << "flock";
    }

    void fileIsNotFreeWhileAnotherProcessHoldsIt()
    {
        QFETCH(QString, mode);
        const QString file = path(mode + ".mp3");
        TestSupport::writeFile(file);
        HeldFile holder(mode, file);
        QVERIFY(holder.isHolding());
        QVERIFY(!FileIsFree(file));
        holder.release();
        QVERIFY(FileIsFree(file));
    }

    // The look at /proc serves where the kernel cannot answer.
    void snapshotSeesOtherProcessesFiles()
    {
        const QString opened = path("opened.mp3"), mapped = path("mapped.mp3"), idle = path("idle.mp3");
        for (const QString& file : {opened, mapped, idle})
            TestSupport::writeFile(file);
        HeldFile openHolder("read", opened);
        HeldFile mapHolder("mmap", mapped);
        QVERIFY(openHolder.isHolding() && mapHolder.isHolding());

        // Our own descriptors do not count.
        QFile own(idle);
        QVERIFY(own.open(QIODevice::ReadOnly));
        ProcessFileSnapshot snapshot;
        auto held = [&snapshot](const QString& file) {
            struct stat info;
            return ::stat(QFile::encodeName(file).constData(), &info) == 0 &&
                   snapshot.isHeldElsewhere(info.st_dev, info.st_ino);
        };
        QVERIFY(held(opened));
        QVERIFY(held(mapped));
        QVERIFY(!held(idle));
        QVERIFY(snapshot.wasTaken());
    }

    // A file of another user, checked without the right to take a lease on it:
    // the check falls back to /proc. Needs root to switch users.
    void fallbackForAnotherUsersFile()
    {
        if (::geteuid() != 0 || !QFile::exists("/usr/bin/setpriv"))
            QSKIP("needs root and setpriv to act as another user");
        QTemporaryDir shared("/tmp/tovrel-fallback-XXXXXX");
        ::chmod(QFile::encodeName(shared.path()).constData(), 0755);
        const QString file = shared.filePath("root.mp3");
        TestSupport::writeFile(file);
        ::chmod(QFile::encodeName(file).constData(), 0644);
        const QStringList asNobody{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--inh-caps=-all"};

        // A checker of another user, not root: its lease is refused (EACCES).
        auto checkAsNobody = [&] {
            QProcess checker;
            checker.start("setpriv", asNobody.mid(1) + QStringList{QCoreApplication::applicationFilePath(),
                                                                   "isFileFreeProbe", file});
            checker.waitForFinished(10000);
            return QString::fromLatin1(checker.readAllStandardOutput()).trimmed();
        };
        const QString first = checkAsNobody();
        if (first.isEmpty())
            QSKIP("the test executable cannot be run as another user from this folder");
        QCOMPARE(first, QStringLiteral("free"));
        {
            HeldFile holder("read", file, asNobody); // a process the checker may look at
            QVERIFY(holder.isHolding());
            QCOMPARE(checkAsNobody(), QStringLiteral("held"));
        }
        QCOMPARE(checkAsNobody(), QStringLiteral("free"));
    }

    void diskFreeBytes()
    {
        QVERIFY(DiskFreeBytes(dir_.path()) > 0);
        QCOMPARE(DiskFreeBytes(path("missing/folder")), 0);
        QCOMPARE(DiskFreeBytes(""), 0);
    }

    // The margin is 1,000,000 bytes and strict. Free space may move while we
    // measure, so a measurement counts only when it held still around the asks.
    void hasRoomForKeepsAStrictMargin()
    {
        const QString shm = QFileInfo("/dev/shm").isWritable() ? "/dev/shm" : dir_.path();
        for (int attempt = 0; attempt < 20; ++attempt) {
            const qint64 free = DiskFreeBytes(shm);
            const double exact = double(free - 1000000);
            const bool atMargin = HasRoomFor(exact, shm);
            const bool belowMargin = HasRoomFor(exact - 1, shm);
            if (DiskFreeBytes(shm) != free)
                continue;
            QVERIFY(!atMargin);
            QVERIFY(belowMargin);
            QVERIFY(!HasRoomFor(0, path("missing")));
            return;
        }
        QSKIP("free space kept changing");
    }

    void cleanName()
    {
        QCOMPARE(CleanName("AC/DC: Live?"), QStringLiteral("ACDC Live"));
        QCOMPARE(CleanName("A|B"), QStringLiteral("A|B"));
        QCOMPARE(CleanName("\"Quoted\" \"twice\""), QStringLiteral("Quoted twice"));
        QCOMPARE(CleanName("??"), QString());
        QCOMPARE(CleanName("a\\b/c*d<e>f"), QStringLiteral("abcdef"));
        QCOMPARE(CleanName(" .. "), QStringLiteral(" .. "));
    }
};

// Run as "test_checks isFileFreeProbe PATH", the executable answers "free" or
// "held" for PATH: the fallback test runs it as another user.
int main(int argc, char* argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "isFileFreeProbe") == 0) {
        std::puts(FileIsFree(QFile::decodeName(argv[2])) ? "free" : "held");
        return 0;
    }
    QCoreApplication app(argc, argv);
    TestChecks checks;
    return QTest::qExec(&checks, argc, argv);
}

#include "test_checks.moc"
