#include "engine/InboxVerdicts.h"

#include "engine/AudioFormats.h"
#include "engine/FileName.h"

#include <algorithm>
#include <optional>

namespace {

// The safety net, for what no event tells (a file opened through a hard link
// elsewhere, a folder put back behind a symbolic link): a full look about once
// a minute, and never more than about half a percent of the time, so that a
// very large inbox is looked at less often.
constexpr qint64 kFullLookMs = 60 * 1000;
constexpr qint64 kFullLookShare = 200;
const QString kNotMusic = QStringLiteral("not music");

// While looking at many files, our own opens and closes fill the kernel's
// queue of events; it is read after this many looks so it cannot overflow.
constexpr int kLooksBetweenDrains = 1024;

} // namespace

QString InboxVerdicts::outboxNameOf(const QString& inboxName) const
{
    return AudioFormats::outboxName(inboxName, scope_.inext, scope_.outext);
}

// The outbox root names that some inbox file may be filed under.
bool InboxVerdicts::isOutboxName(const QString& name) const
{
    return name.endsWith(QLatin1Char('.') + scope_.outext) || AudioFormats::of(name);
}

InboxVerdicts::Pass::Pass(InboxVerdicts& verdicts)
    : inbox(verdicts.scope_.inbox, &verdicts.inboxWatch_), outbox(verdicts.scope_.outbox, &verdicts.outboxWatch_),
      verdicts_(verdicts)
{
}

bool InboxVerdicts::Pass::hasOutboxName(const QString& inboxName) const
{
    return verdicts_.outboxNames_.contains(verdicts_.outboxNameOf(inboxName));
}

void InboxVerdicts::refresh(const Scope& scope, const Examine& examine, bool askUnsettled)
{
    if (!(scope == scope_)) {
        scope_ = scope;
        lookedAtAll_ = false;
        inboxWatch_.watch(scope_.inbox);
        outboxWatch_.watch(scope_.outbox);
    }
    inboxWatch_.collect(inboxChanges_);
    outboxWatch_.collect(outboxChanges_);
    freeBytes_ = double(commonold::DiskFreeBytes(scope_.outbox));
    const bool full = needsFullLook();
    if (!full && inboxChanges_.names.isEmpty() && outboxChanges_.names.isEmpty() &&
        (!askUnsettled || unsettled_.isEmpty()))
        return; // nothing to look at: the folders are not even opened
    Pass pass(*this);
    if (full)
        lookAtAll(pass, examine);
    else
        lookAtChanged(pass, examine, askUnsettled);
}

bool InboxVerdicts::needsFullLook()
{
    for (FolderWatch* watch : {&inboxWatch_, &outboxWatch_}) {
        if (!watch->isWatching() && watch->watch(watch->folder()))
            lookedAtAll_ = false; // events before the watch began are unknown
    }
    return !lookedAtAll_ || !inboxWatch_.isWatching() || !outboxWatch_.isWatching() || inboxChanges_.lookAgain ||
           outboxChanges_.lookAgain || sinceFullLook_.hasExpired(fullLookEveryMs_);
}

void InboxVerdicts::lookAtAll(Pass& pass, const Examine& examine)
{
    // What happened before this look is seen by it.
    QElapsedTimer duration;
    duration.start();
    inboxChanges_ = {};
    outboxChanges_ = {};
    lookedAtAll_ = false;
    QStringList others;
    const QStringList names = pass.inbox.audioFiles(&others);
    clear();
    for (const QString& name : std::as_const(others))
        leftAlone_.push_back({name, kNotMusic, pass.inbox.isFolder(name)});
    for (const QString& name : pass.outbox.allNames()) {
        if (isOutboxName(name))
            outboxNames_.insert(name);
    }
    entries_.reserve(size_t(names.size()));
    for (const QString& name : names) {
        entries_.push_back({name, examine(name, pass)});
        count(entries_.back(), +1);
        byOutboxName_.insert(outboxNameOf(name), name);
        drainEvents(int(entries_.size()));
    }
    std::sort(sizes_.begin(), sizes_.end());
    std::sort(settledSizes_.begin(), settledSizes_.end());
    lookedAtAll_ = true;
    fullLookEveryMs_ = qMax(kFullLookMs, kFullLookShare * duration.elapsed());
    sinceFullLook_.start();
}

void InboxVerdicts::lookAtChanged(Pass& pass, const Examine& examine, bool askUnsettled)
{
    QSet<QString> names = outboxChanges(pass);
    for (const QByteArray& name : std::as_const(inboxChanges_.names))
        names.insert(FileName::decode(name));
    inboxChanges_.names.clear();
    if (askUnsettled)
        names.unite(unsettled_);
    int looked = 0;
    for (const QString& name : std::as_const(names)) {
        lookAt(name, pass, examine);
        drainEvents(++looked);
    }
}

// The outbox root names that changed, turned into the inbox names that would
// be filed under them.
QSet<QString> InboxVerdicts::outboxChanges(const Pass& pass)
{
    QSet<QString> inboxNames;
    for (const QByteArray& encoded : std::as_const(outboxChanges_.names)) {
        const QString name = FileName::decode(encoded);
        if (!isOutboxName(name))
            continue;
        if (pass.outbox.hasEntry(name))
            outboxNames_.insert(name);
        else
            outboxNames_.remove(name);
        for (auto found = byOutboxName_.constFind(name); found != byOutboxName_.cend() && found.key() == name; ++found)
            inboxNames.insert(found.value());
    }
    outboxChanges_.names.clear();
    return inboxNames;
}

void InboxVerdicts::lookAt(const QString& name, Pass& pass, const Examine& examine)
{
    const auto found = find(name);
    const bool known = found != entries_.end() && found->name == name;
    const bool audio = pass.inbox.listsFile(name);
    setLeftAlone(name, pass, audio);
    if (!audio) {
        if (known) {
            count(*found, -1);
            byOutboxName_.remove(outboxNameOf(name), name);
            entries_.erase(found);
            ++generation_;
        }
        return;
    }
    const FileVerdict verdict = examine(name, pass);
    if (known) {
        count(*found, -1);
        found->verdict = verdict;
        count(*found, +1);
        return;
    }
    count(*entries_.insert(found, {name, verdict}), +1);
    byOutboxName_.insert(outboxNameOf(name), name);
    ++generation_;
}

// Brings the entry of `name` among those left alone in line with the inbox.
void InboxVerdicts::setLeftAlone(const QString& name, const Pass& pass, bool audio)
{
    const auto found =
        std::lower_bound(leftAlone_.begin(), leftAlone_.end(), name, [](const LeftAlone& other, const QString& name) {
            return ScanFolder::listedBefore(other.name, name);
        });
    const bool known = found != leftAlone_.end() && found->name == name;
    const bool left = !audio && !name.startsWith(QLatin1Char('.')) && pass.inbox.hasEntry(name);
    if (left == known)
        return;
    if (left)
        leftAlone_.insert(found, {name, kNotMusic, pass.inbox.isFolder(name)});
    else
        leftAlone_.erase(found);
    ++generation_;
}

void InboxVerdicts::setReason(size_t index, const QString& reason)
{
    if (leftAlone_[index].reason == reason)
        return;
    leftAlone_[index].reason = reason;
    ++generation_;
}

QString InboxVerdicts::nextFileable(const Examine& examine, const QSet<QString>& behind)
{
    // The usual quiet answer, without going through the files: none that is
    // not held fits.
    if (settledSizes_.empty() || !commonold::FitsInFreeSpace(double(settledSizes_.front()), freeBytes_))
        return QString();
    std::optional<Pass> pass;
    QString behindOne;
    for (size_t index = 0; index < entries_.size();) {
        if (!entries_[index].verdict.canBeFiled(freeBytes_)) {
            ++index;
            continue;
        }
        const QString name = entries_[index].name;
        if (!pass)
            pass.emplace(*this);
        lookAt(name, *pass, examine);
        if (index < entries_.size() && entries_[index].name == name) {
            const bool fileable = entries_[index].verdict.canBeFiled(freeBytes_);
            if (fileable && !behind.contains(name))
                return name;
            if (fileable && behindOne.isEmpty())
                behindOne = name;
            ++index;
        } // else it is gone, and the next file has taken its place
    }
    return behindOne;
}

void InboxVerdicts::drainEvents(int looked)
{
    if (looked % kLooksBetweenDrains == 0) {
        inboxWatch_.collect(inboxChanges_);
        outboxWatch_.collect(outboxChanges_);
    }
}

int InboxVerdicts::tooBigCount() const
{
    const auto fitting = std::partition_point(sizes_.begin(), sizes_.end(), [this](qint64 size) {
        return commonold::FitsInFreeSpace(double(size), freeBytes_);
    });
    return int(sizes_.end() - fitting);
}

void InboxVerdicts::clear()
{
    entries_.clear();
    leftAlone_.clear();
    sizes_.clear();
    settledSizes_.clear();
    unsettled_.clear();
    byOutboxName_.clear();
    outboxNames_.clear();
    inboxLocked_ = outboxLocked_ = 0;
    ++generation_;
}

std::vector<InboxVerdicts::Entry>::iterator InboxVerdicts::find(const QString& name)
{
    return std::lower_bound(entries_.begin(), entries_.end(), name, [](const Entry& entry, const QString& name) {
        return ScanFolder::listedBefore(entry.name, name);
    });
}

// Adds an entry to the counts (sign +1) or takes it out of them (-1).
void InboxVerdicts::count(const Entry& entry, int sign)
{
    const FileVerdict& verdict = entry.verdict;
    inboxLocked_ += sign * (!verdict.inboxFree || !verdict.removable);
    outboxLocked_ += sign * verdict.outboxLocked;
    if (sign > 0) {
        addSize(sizes_, verdict.size);
        if (verdict.settled())
            addSize(settledSizes_, verdict.size);
        else
            unsettled_.insert(entry.name);
    } else {
        sizes_.erase(std::lower_bound(sizes_.begin(), sizes_.end(), verdict.size));
        if (verdict.settled())
            settledSizes_.erase(std::lower_bound(settledSizes_.begin(), settledSizes_.end(), verdict.size));
        else
            unsettled_.remove(entry.name);
    }
}

// During a full look the sizes are sorted once at its end.
void InboxVerdicts::addSize(std::vector<qint64>& sizes, qint64 size) const
{
    sizes.insert(lookedAtAll_ ? std::upper_bound(sizes.begin(), sizes.end(), size) : sizes.end(), size);
}
