#include "engine/Clutter.h"

#include "engine/FileName.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QStringDecoder>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A folder-settings file is a few lines of INI; more than this is something else.
constexpr qsizetype kMostSettingsBytes = 16 * 1024;

// The first bytes of the file, without following a link or waiting on a FIFO.
QByteArray head(int folderFd, const QString& name, qsizetype most)
{
    const int fd = ::openat(folderFd, FileName::encode(name).constData(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return {};
    QByteArray bytes(most + 1, Qt::Uninitialized);
    struct stat info;
    const ssize_t got =
        ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) ? ::pread(fd, bytes.data(), size_t(most + 1), 0) : -1;
    ::close(fd);
    bytes.resize(got < 0 ? 0 : got);
    return bytes;
}

// Only section headers, "key=value" lines and comments, with a section of
// Explorer's own; UTF-16 with its byte-order mark, as Windows writes it, or 8-bit text.
bool isFolderSettings(const QByteArray& bytes)
{
    if (bytes.isEmpty() || bytes.size() > kMostSettingsBytes)
        return false;
    const bool wide = bytes.startsWith("\xff\xfe");
    const QString text =
        wide ? QStringDecoder(QStringDecoder::Utf16LE).decode(bytes.mid(2)) : QString::fromLatin1(bytes);
    static const QRegularExpression line(QStringLiteral(R"(^\s*(\[[^\]]+\]|[^=\[;]+=.*|;.*)?\s*$)"));
    static const QRegularExpression own(
        QStringLiteral(R"(^\s*\[(\.ShellClassInfo|ViewState|LocalizedFileNames)\]\s*$)"),
        QRegularExpression::CaseInsensitiveOption);
    bool hasOwnSection = false;
    for (const QString& each : text.split(QLatin1Char('\n'))) {
        if (!line.match(each).hasMatch())
            return false;
        hasOwnSection = hasOwnSection || own.match(each).hasMatch();
    }
    return hasOwnSection;
}

} // namespace

bool Clutter::is(int folderFd, const QString& name)
{
    if (name.startsWith(QLatin1String("._")))
        return head(folderFd, name, 4).startsWith(QByteArrayLiteral("\x00\x05\x16\x07"));
    if (name.compare(QLatin1String(".DS_Store"), Qt::CaseInsensitive) == 0)
        return head(folderFd, name, 8)
            .startsWith(QByteArrayLiteral("\x00\x00\x00\x01"
                                          "Bud1"));
    if (name.compare(QLatin1String("Thumbs.db"), Qt::CaseInsensitive) == 0)
        return head(folderFd, name, 8).startsWith(QByteArrayLiteral("\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1"));
    if (name.compare(QLatin1String("desktop.ini"), Qt::CaseInsensitive) == 0)
        return isFolderSettings(head(folderFd, name, kMostSettingsBytes));
    return false;
}
