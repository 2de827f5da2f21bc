#include "TestSupport.h"

#include "config/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>
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

namespace {

constexpr uid_t kOrdinaryAccount = 65534;

// The folder of the programs the account runs, and in it the account's home.
const QTemporaryDir& accountFolder()
{
    static QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/tovrel-account-XXXXXX"));
    static const bool prepared = [] {
        const QString home = folder.filePath(QStringLiteral("home"));
        return ::chmod(QFile::encodeName(folder.path()).constData(), 0755) == 0 && QDir().mkpath(home) &&
               (::geteuid() != 0 ||
                ::chown(QFile::encodeName(home).constData(), kOrdinaryAccount, kOrdinaryAccount) == 0);
    }();
    if (!prepared)
        qWarning("The ordinary account's folder could not be prepared in %s", qPrintable(folder.path()));
    return folder;
}

} // namespace

QString reachableByOrdinaryAccount(const QString& program)
{
    if (::geteuid() != 0)
        return program;
    const QString copy = accountFolder().filePath(QFileInfo(program).fileName());
    if (!QFileInfo::exists(copy) &&
        (!QFile::copy(program, copy) || ::chmod(QFile::encodeName(copy).constData(), 0755) != 0))
        qWarning("%s could not be copied to %s", qPrintable(program), qPrintable(copy));
    return copy;
}

QString outputAsOrdinaryAccount(const QStringList& command)
{
    const QStringList full =
        asOrdinaryAccount() + QStringList(reachableByOrdinaryAccount(command.first())) + command.mid(1);
    const QString home = accountFolder().filePath(QStringLiteral("home"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), home + QStringLiteral("/.local/state"));
    QProcess process;
    process.setProcessEnvironment(environment);
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

// `runAs`, when given, runs the holder as another account (asOrdinaryAccount()).
HeldFile::HeldFile(const QString& mode, const QString& path, const QStringList& runAs)
{
    QStringList arguments = runAs;
    arguments << (runAs.isEmpty() ? QStringLiteral(HOLDFILE_PATH) : reachableByOrdinaryAccount(HOLDFILE_PATH)) << mode
              << path;
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
