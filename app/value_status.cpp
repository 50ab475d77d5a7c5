#include "app/value_status.h"

#include "model/clock_reader.h"
#include "model/group.h"
#include "model/locked_list.h"
#include "model/monitor_tree.h"

#include <QStringList>

namespace mistvale {

namespace {

QString ClockTime(std::int64_t ms) {
    WideString text;
    if (!FormatClockTime(ms, text))
        return QString();
    return QString::fromUtf16(text.Text(), text.Length());
}

} // namespace

QString ValueToolTip(const SourceOutcome& outcome, bool stale) {
    if (!outcome.known)
        return QString();
    QStringList lines;
    if (!outcome.note.empty())
        lines << QString::fromStdString(outcome.note);
    if (stale)
        lines << QStringLiteral("Not refreshed since %1").arg(ClockTime(outcome.atMs));
    if (outcome.failed)
        lines << QString::fromStdString(outcome.reason);
    if (outcome.okAtMs != 0 && (!stale || outcome.okAtMs != outcome.atMs))
        lines << QStringLiteral("Read at %1").arg(ClockTime(outcome.okAtMs));
    return lines.join(QLatin1Char('\n'));
}

int StaleValues::Update(MonitorTree& tree, unsigned refreshTime, SteadyTime now) {
    std::unordered_set<const void*> stale;
    SteadyTime next = SteadyTime::max();
    LockedList& groups = tree.Groups();
    SharedLock groupsLock(groups);
    for (ListItem* g = groups.First(); g != nullptr; g = g->Next()) {
        LockedList& sources = static_cast<Group*>(g)->Sources();
        SharedLock sourcesLock(sources);
        for (ListItem* s = sources.First(); s != nullptr; s = s->Next()) {
            // Only the time is read: a rebuild of many sources copies no reason texts.
            SteadyTime at{};
            if (!static_cast<Source*>(s)->OutcomeSteadyTime(&at))
                continue;
            const SteadyTime from = at + std::chrono::seconds(2 * static_cast<long long>(refreshTime) + 1);
            if (from <= now)
                stale.insert(static_cast<Record*>(static_cast<Source*>(s)));
            else if (from < next)
                next = from;
        }
    }
    next_ = next;
    if (stale == stale_)
        return 0;
    stale_.swap(stale);
    return 1;
}

} // namespace mistvale
