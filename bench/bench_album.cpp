// Times 40 songs dropped as one album folder against the same 40 songs dropped
// loose, each from the drop (made right after a polling step, so both meet the
// one-second rhythm alike) until the inbox is empty again, through the
// program's own window (offscreen), and prints the ratio (target: within 1.2).
#include "BenchSupport.h"
#include "Mp3Fixture.h"

#include "config/SettingsStore.h"
#include "engine/FilingService.h"
#include "window/MainWindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <unistd.h>
#include <vector>

using BenchSupport::median;

namespace {

constexpr int kSongs = 40;
constexpr int kRounds = 5;

// Drops the songs into `folder` right after a polling step and answers the
// milliseconds until `inbox` is empty.
double dropAndDrain(QApplication& app, MainWindow& form, const QString& inbox, const QString& folder)
{
    bool stepped = false;
    QObject context;
    QObject::connect(form.service(), &FilingService::statusChanged, &context, [&stepped] { stepped = true; });
    while (!stepped)
        app.processEvents(QEventLoop::WaitForMoreEvents);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kSongs; ++i) {
        if (!Mp3Fixture::write(QStringLiteral("%1/%2 - Song.mp3").arg(folder).arg(i + 1, 2, 10, QLatin1Char('0')),
                               QStringLiteral("Band"), QStringLiteral("Album"), QStringLiteral("Song %1").arg(i),
                               i + 1))
            return -1;
    }
    QTimer probe; // wakes the loop to look
    probe.start(5);
    while (!QDir(inbox).isEmpty())
        app.processEvents(QEventLoop::WaitForMoreEvents);
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char* argv[])
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path())); // the default folder format, not the user's
    qputenv("XDG_STATE_HOME", QFile::encodeName(config.path()));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTextStream out(stdout);
    QTemporaryDir dir;
    const QString inbox = dir.path() + "/inbox", outbox = dir.path() + "/outbox";
    SettingsStore::write(Setting::State, QStringLiteral("True"));
    SettingsStore::write(Setting::InboxPath, inbox);
    SettingsStore::write(Setting::OutboxPath, outbox);
    SettingsStore::write(Setting::ErrorsPath, dir.path() + "/errors");
    if (!QDir().mkpath(inbox))
        return 1;
    MainWindow form;
    std::vector<double> loose, album;
    for (int round = 0; round < kRounds; ++round) {
        loose.push_back(dropAndDrain(app, form, inbox, inbox));
        QDir(outbox + "/Band").removeRecursively();
        album.push_back(dropAndDrain(app, form, inbox, inbox + "/Album"));
        QDir(outbox + "/Band").removeRecursively();
        if (loose.back() < 0 || album.back() < 0 || !QDir(dir.path() + "/errors").isEmpty())
            return 1;
    }
    out << "songs:        " << kSongs << " small tagged MP3 files, dropped, until the inbox is empty\n"
        << "loose:        " << median(loose) << " ms (median of " << kRounds << ")\n"
        << "album folder: " << median(album) << " ms (median of " << kRounds << ")\n"
        << "ratio:        " << median(album) / median(loose) << " (target: within 1.2)\n";
    return 0;
}
