// Times the filing of one 20 MB MP3 file against `cp` of the same file
// followed by `sync`, in the same run on the same file system, and prints the
// ratio (target: within 1.3).
#include "BenchSupport.h"
#include "Mp3Fixture.h"

#include "engine/processor.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <unistd.h>
#include <vector>

using BenchSupport::median;

namespace {

constexpr int kRounds = 5;
constexpr int kFrames = 20 * 1000 * 1000 / 417;

bool run(const QString& program, const QStringList& arguments)
{
    return QProcess::execute(program, arguments) == 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path())); // the default folder format, not the user's
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);

    QTemporaryDir dir;
    const QString inbox = dir.path() + "/inbox/";
    const QString outbox = dir.path() + "/outbox/";
    const QString copies = dir.path() + "/copies/";
    const QByteArray file = Mp3Fixture::build({"Artist", "Album", "Title", "1"}, Mp3Fixture::Tag::Id3v23, kFrames);
    if (!QDir().mkpath(inbox) || !QDir().mkpath(outbox) || !QDir().mkpath(copies))
        return 1;

    processor engine;
    engine.setInboxpath(inbox);
    engine.setOutboxpath(outbox);
    std::vector<double> filing, copying;
    for (int round = 0; round < kRounds; ++round) {
        const QString name = QStringLiteral("song%1.mp3").arg(round);
        QFile source(inbox + name);
        if (!source.open(QIODevice::WriteOnly) || source.write(file) != file.size())
            return 1;
        source.close();
        ::sync();

        QElapsedTimer timer;
        timer.start();
        engine.setCurrentinfile(name);
        engine.process();
        filing.push_back(timer.nsecsElapsed() / 1e6);
        ::sync();

        timer.start();
        if (!run("cp", {outbox + "Artist/Album/" + name, copies + name}) || !run("sync", {}))
            return 1;
        copying.push_back(timer.nsecsElapsed() / 1e6);
    }

    const double process = median(filing);
    const double cpSync = median(copying);
    out << "file size:        " << file.size() << " bytes\n"
        << "process:          " << process << " ms (median of " << kRounds << ")\n"
        << "cp + sync:        " << cpSync << " ms (median of " << kRounds << ")\n"
        << "ratio:            " << process / cpSync << "\n";
    return 0;
}
