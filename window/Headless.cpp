#include "window/Headless.h"

#include "config/DefaultFolders.h"
#include "config/SettingsStore.h"
#include "config/StoredSettings.h"
#include "engine/FilingService.h"
#include "engine/FolderFormat.h"
#include "engine/commonold.h"
#include "window/ServiceCommands.h"
#include "window/SingleInstance.h"
#include "window/TerminationSignals.h"

#include <QCoreApplication>

#include <cstdio>

void PrintLine(const QString& line, FILE* to)
{
    std::fputs((line + QLatin1Char('\n')).toLocal8Bit().constData(), to);
    std::fflush(to);
}

namespace {

ServiceSettings storedWithOverrides(const CommandLine::Overrides& given)
{
    ServiceSettings settings = StoredSettings::read();
    for (const auto& [value, folder] : {std::pair{&given.inbox, &settings.inbox},
                                        {&given.outbox, &settings.outbox},
                                        {&given.errors, &settings.errors}}) {
        if (*value)
            *folder = StoredSettings::asFolder(**value);
    }
    if (given.folderFormat)
        settings.folderFormat = CleanedFolderFormat(*given.folderFormat);
    if (given.fileNameFormat)
        settings.fileNameFormat = commonold::CleanName(*given.fileNameFormat);
    return settings;
}

} // namespace

std::optional<ServiceSettings> UsableSettings(const CommandLine::Overrides& overrides)
{
    DefaultFolders::prepare();
    const ServiceSettings settings = storedWithOverrides(overrides);
    if (const QString why = StoredSettings::whyUnusable(settings); !why.isEmpty()) {
        PrintLine(QStringLiteral("tovrel: ") + why, stderr);
        return std::nullopt;
    }
    return settings;
}

int RunHeadless(QCoreApplication& app, const CommandLine::Overrides& overrides)
{
    const std::optional<ServiceSettings> usable = UsableSettings(overrides);
    if (!usable)
        return 2;
    const ServiceSettings& settings = *usable;
    for (const QString& token : UnknownTokens(settings.folderFormat + QLatin1Char('\\') + settings.fileNameFormat))
        PrintLine(QStringLiteral("tovrel: ") + token + QStringLiteral(" is not a token; it is kept as text."), stderr);
    SingleInstance instance(SettingsStore::filePath());
    if (!instance.isFirst()) {
        PrintLine(QStringLiteral("tovrel: Tovrel already runs for this account and settings file (%1); "
                                 "\"tovrel --status\" tells what it does.")
                      .arg(SettingsStore::filePath()),
                  stderr);
        return 1;
    }
    instance.setHeadless(true);
    FilingService service;
    instance.answerStatusWith([&service] { return service.report(); });
    QObject::connect(&instance, &SingleInstance::commandRequested, &service,
                     [&service](const QByteArray& request, QLocalSocket* socket) {
                         ServeCommand(
                             &service, [&service](std::function<void(FilingService&)> command) { command(service); },
                             request, socket);
                     });
    QObject::connect(&service, &FilingService::recorded, &service, [](const QString& line) { PrintLine(line); });
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &service, [&service] {
        service.shutdown();
        QCoreApplication::exit(0);
    });
    PrintLine(QStringLiteral("Filing %1 into %2 by %3%4 (errors to %5); the history is in %6.")
                  .arg(settings.inbox, settings.outbox, settings.folderFormat,
                       settings.fileNameFormat.isEmpty() ? QString() : QStringLiteral("\\") + settings.fileNameFormat,
                       settings.errors, History().filePath()));
    service.configure(settings);
    service.run(true); // whatever the start-up state: nothing could switch a headless service on
    const int status = app.exec();
    PrintLine(QStringLiteral("Stopped."));
    return status;
}

int PrintRunningStatus()
{
    const QByteArray reply = SingleInstance::askStatus(SettingsStore::filePath());
    if (reply.isEmpty()) {
        PrintLine(QStringLiteral("Tovrel is not running for this account and settings file (%1).")
                      .arg(SettingsStore::filePath()));
        return 3;
    }
    const qsizetype lineEnd = reply.indexOf('\n');
    const QList<QByteArray> who = reply.left(lineEnd).split(' ');
    const bool headless = who.value(0) == "headless";
    PrintLine(QStringLiteral("Tovrel is running %1 (process %2).")
                  .arg(headless ? QStringLiteral("without a window") : QStringLiteral("with its window"),
                       QString::fromLatin1(who.value(1))));
    std::fputs(reply.mid(lineEnd + 1).constData(), stdout);
    return 0;
}
