#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include <functional>

struct MoveResult;

// What happened to each file the service took from the inbox, one line per
// file in history.log: the time, what happened (filed, duplicate, error), the
// inbox name, and where the file went (with why, for the errors folder). The
// log is kept bounded: past about a megabyte it becomes history.log.1,
// replacing the older one. A log that cannot be written is skipped; it never
// stops the filing.
class History {
public:
    // The log in `folder`; by default $XDG_STATE_HOME/tovrel
    // (~/.local/state/tovrel when that is unset or not an absolute path).
    explicit History(const QString& folder = defaultFolder());

    static QString defaultFolder();
    QString filePath() const { return filePath_; }

    // One line for what a move did with the inbox file `inboxName`; `why`, when
    // given, is the failure that sent it to the errors folder. A move that was
    // abandoned left the file in the inbox, and writes no line.
    void record(const QString& inboxName, const MoveResult& moved, const QString& why = {});
    // One "error" line for a file that could not be filed and did not reach
    // the errors folder as it should, saying why. A file tried again and again
    // for the same reason gets the line once.
    void recordFailure(const QString& inboxName, const QString& why);
    // One "gone" line for a file that left the inbox before it could be filed.
    void recordGone(const QString& inboxName);
    // One line for a move of an already filed file: `kind` is "refiled" (in
    // the outbox, from the path `from`), "copied" (a picture copied beside
    // another folder of its songs) or "put back" (into the inbox, from the
    // outbox path `from`, under the inbox name `name`).
    void recordMove(const QString& kind, const QString& name, const QString& from, const MoveResult& moved);

    // One line of the log, its fields unescaped.
    struct Entry {
        QString time;
        QString kind;   // filed, duplicate, error, gone, refiled, put back
        QString name;   // the inbox name; for "refiled", where the file was
        QString detail; // where it went, and why, as written
        // The path the file went to, when the line names one.
        QString destination() const;
    };
    // Every line of history.log.1 and history.log, the latest first.
    QList<Entry> entries() const;
    // The inbox name under which the file now at `path` in the outbox was
    // filed, following its re-filings back; empty when no line tells.
    static QString inboxNameOf(const QList<Entry>& entries, const QString& path);
    // Every re-filing the lines tell: where a file was, and where it went.
    static QHash<QString, QString> refiledMoves(const QList<Entry>& entries);

    // Told of each line as it is written (with its time first), as a running
    // service tells it.
    void onAppended(std::function<void(const QString& line)> appended) { appended_ = std::move(appended); }

    static constexpr qint64 kRotateAtBytes = 1024 * 1024;

private:
    void append(const QString& line);
    void rotateWhenFull();

    QString folder_;
    QString filePath_;
    std::function<void(const QString& line)> appended_;
    QHash<QString, QString> lastFailure_; // by inbox name, until the file is recorded otherwise
};
