#pragma once

#include <QString>

// What happened to each file the service took from the inbox, one line per
// file in history.log: the time, what happened, the inbox name, and where the
// file went (or why it could not be filed). The log is kept bounded: past
// about a megabyte it becomes history.log.1, replacing the older one. A log
// that cannot be written is skipped; it never stops the filing.
class History {
public:
    // The log in `folder`; by default $XDG_STATE_HOME/tovrel
    // (~/.local/state/tovrel when that is unset or not an absolute path).
    explicit History(const QString& folder = defaultFolder());

    static QString defaultFolder();
    QString filePath() const { return filePath_; }

    void filed(const QString& inboxName, const QString& destination);
    void duplicate(const QString& inboxName, const QString& sameFile);
    void errorFiled(const QString& inboxName, const QString& destination, const QString& why);

    static constexpr qint64 kRotateAtBytes = 1024 * 1024;

private:
    void append(const char* outcome, const QString& inboxName, const QString& detail);
    void rotateWhenFull();

    QString folder_;
    QString filePath_;
};
