#pragma once

#include "engine/FileVerdict.h"
#include "engine/FolderWatch.h"
#include "engine/ProcessFileSnapshot.h"
#include "engine/ScanFolder.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QString>

#include <functional>
#include <vector>

// The last verdict on every inbox file, kept from pass to pass. The inbox and
// the outbox root are watched, and a pass looks again only at the files that
// the kernel reports as changed and at those whose verdict cannot be trusted
// to last (held open); the room on the outbox disk is judged again from the
// kept sizes whenever the free space changes. The whole inbox is looked at
// when watching starts, when events were lost or a folder was replaced, about
// once a minute as a safety net (less often when the inbox is so large that
// this would cost more than half a percent of the time), and on every pass
// where no watch can be set.
class InboxVerdicts {
public:
    // What the verdicts are about; a change of any of them starts afresh.
    struct Scope {
        QString inbox;
        QString outbox;
        QString inext;
        QString outext;
        bool operator==(const Scope&) const = default;
    };

    // What a pass opens once: the two folders and a look at other processes.
    class Pass {
    public:
        explicit Pass(InboxVerdicts& verdicts);
        ScanFolder inbox;
        ScanFolder outbox;
        ProcessFileSnapshot others;
        // Whether the outbox root holds the name the inbox file would have
        // there (AudioFormats::outboxName).
        bool hasOutboxName(const QString& inboxName) const;

    private:
        const InboxVerdicts& verdicts_;
    };
    using Examine = std::function<FileVerdict(const QString& name, Pass& pass)>;

    InboxVerdicts() = default;
    InboxVerdicts(const InboxVerdicts&) = delete;
    InboxVerdicts& operator=(const InboxVerdicts&) = delete;

    // Brings the verdicts up to date, asking `examine` about each file looked
    // at. `askUnsettled` also asks again about every file whose verdict is not
    // settled. Throws a FilingError when the inbox cannot be listed; the
    // verdicts then stay as they were.
    void refresh(const Scope& scope, const Examine& examine, bool askUnsettled);
    // The next refresh looks at every file again, as when watching starts:
    // verdicts that may no longer hold (files set aside) are asked anew.
    void lookAtAllAgain() { lookedAtAll_ = false; }

    // The first file, in listing order, that can be filed, those in `behind`
    // only when no other can: each candidate is looked at once more before it
    // is given. Empty when there is none.
    QString nextFileable(const Examine& examine, const QSet<QString>& behind = {});

    // An inbox entry that is not filed, with why: shown so that nothing in
    // the inbox sits there unexplained.
    struct LeftAlone {
        QString name;
        QString reason;
        bool folder = false; // a real folder, not a link to one
        bool operator==(const LeftAlone&) const = default;
    };
    // Every name in the inbox but the audio files and hidden names, in
    // listing order; kept up to date by the same looks as the verdicts.
    const std::vector<LeftAlone>& leftAlone() const { return leftAlone_; }
    // A folder's reason changes with what is inside it, which no event of
    // the inbox tells: the caller looks and says.
    void setReason(size_t index, const QString& reason);

    int count() const { return int(entries_.size()); }
    // The name at `index`, counted from 0 in listing order.
    const QString& name(int index) const { return entries_[size_t(index)].name; }
    const FileVerdict& verdict(int index) const { return entries_[size_t(index)].verdict; }
    // Files held open, or that this user may not remove from the inbox.
    int inboxLockCount() const { return inboxLocked_; }
    int outboxLockCount() const { return outboxLocked_; }
    int tooBigCount() const;
    // Changes whenever a name comes or goes.
    quint64 generation() const { return generation_; }

private:
    struct Entry {
        QString name;
        FileVerdict verdict;
    };

    bool needsFullLook();
    void lookAtAll(Pass& pass, const Examine& examine);
    void lookAtChanged(Pass& pass, const Examine& examine, bool askUnsettled);
    void lookAt(const QString& name, Pass& pass, const Examine& examine);
    void setLeftAlone(const QString& name, const Pass& pass, bool audio);
    QSet<QString> outboxChanges(const Pass& pass);
    void drainEvents(int looked);
    void clear();
    QString outboxNameOf(const QString& inboxName) const;
    bool isOutboxName(const QString& name) const;
    std::vector<Entry>::iterator find(const QString& name);
    void count(const Entry& entry, int sign);
    void addSize(std::vector<qint64>& sizes, qint64 size) const;

    Scope scope_;
    bool lookedAtAll_ = false;
    FolderWatch inboxWatch_;
    FolderWatch outboxWatch_;
    FolderWatch::Changes inboxChanges_;
    FolderWatch::Changes outboxChanges_;
    QElapsedTimer sinceFullLook_;
    qint64 fullLookEveryMs_ = 0;
    double freeBytes_ = 0;

    std::vector<Entry> entries_;       // in listing order
    std::vector<LeftAlone> leftAlone_; // in listing order
    std::vector<qint64> sizes_;        // ascending, for counting the files too big
    std::vector<qint64> settledSizes_; // the same for the files not held
    QSet<QString> unsettled_;
    QMultiHash<QString, QString> byOutboxName_; // inbox names by their outbox name
    QSet<QString> outboxNames_;                 // outbox root names of audio files
    int inboxLocked_ = 0;
    int outboxLocked_ = 0;
    quint64 generation_ = 0;
};
