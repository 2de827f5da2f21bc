#include "TestSupport.h"

#include "config/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace TestSupport {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList asOrdinaryAccount()
{
    if (::geteuid() != 0)
        return {};
    return {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--inh-caps=-all"};
}

QString outputAsOrdinaryAccount(const QStringList& command)
{
    const QStringList full = asOrdinaryAccount() + command;
    QProcess process;
    process.start(full.first(), full.mid(1));
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

void clearSettings()
{
    QFile::remove(SettingsStore::filePath());
}

void clearSettingsWithFoldersIn(const QString& root)
{
    clearSettings();
    for (const auto& [setting, name] :
         {std::pair{Setting::InboxPath, "/inbox"}, {Setting::OutboxPath, "/outbox"}, {Setting::ErrorsPath, "/errors"}})
        SettingsStore::write(setting, root + name);
}

// `runAs` is a command that runs the holder as another user (for example
// setpriv with its options); empty runs it as this user.
HeldFile::HeldFile(const QString& mode, const QString& path, const QStringList& runAs)
{
    QStringList arguments = runAs;
    arguments << QStringLiteral(HOLDFILE_PATH) << mode << path;
    process_.start(arguments.takeFirst(), arguments);
    holding_ =
        process_.waitForStarted(5000) && process_.waitForReadyRead(5000) && process_.readAll().startsWith("ready");
}

HeldFile::~HeldFile()
{
    release();
}

void HeldFile::release()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.closeWriteChannel();
    if (!process_.waitForFinished(5000))
        process_.kill();
    process_.waitForFinished(5000);
    holding_ = false;
}

} // namespace TestSupport
