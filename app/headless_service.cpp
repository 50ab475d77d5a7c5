#include "app/headless_service.h"

#include "app/refresh_interval.h"
#include "model/group.h"
#include "model/locked_list.h"
#include "model/model_messages.h"
#include "model/source.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace mistvale {

namespace {

constexpr int kSaveIntervalMs = 1000;

void Pump(void*) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

} // namespace

HeadlessService::HeadlessService() : mqtt_(tree_) {}

void HeadlessService::Log(const std::string& line, bool problem) {
    // Under systemd standard error goes to the journal, which reads a "<N>" priority prefix.
    static const bool journal = std::getenv("JOURNAL_STREAM") != nullptr;
    if (journal)
        std::fprintf(stderr, "<%d>%s\n", problem ? 4 : 6, line.c_str());
    else
        std::fprintf(stderr, "mistvale: %s\n", line.c_str());
    std::fflush(stderr);
}

void HeadlessService::OnSignal(void* context, int signal) {
    auto* self = static_cast<HeadlessService*>(context);
    Log(std::string("ending on ") + (signal == SIGTERM  ? "SIGTERM"
                                     : signal == SIGINT ? "SIGINT"
                                     : signal == SIGHUP ? "SIGHUP"
                                                        : "a signal"));
    self->refreshTimer_.stop();
    QCoreApplication::quit();
}

void HeadlessService::OnNotify(void* context, int message) {
    // A line's thread: only noted; the topics follow the tree on the service's own thread.
    auto* self = static_cast<HeadlessService*>(context);
    if (message == WM_MODEL_CHANGED)
        self->treeChanged_.store(true);
}

void HeadlessService::OnGroupOutcome(void* context, Group& group, Source& source) {
    auto* self = static_cast<HeadlessService*>(context);
    const SourceOutcome outcome = source.Outcome();
    std::lock_guard<std::mutex> guard(self->linesLock_);
    LineState& state = self->lines_[&group];
    // A device that answers with an exception is there; only a line that brings no answer is lost.
    if (outcome.failed && outcome.reason.rfind("Modbus exception", 0) != 0) {
        state.failSeen = true;
        state.reason = outcome.reason;
    } else {
        state.okSeen = true;
    }
}

void HeadlessService::CheckLines() {
    // Once a refresh: a group none of whose sources could be read since the last check is lost; one
    // read again is back. Logged on the change only.
    std::vector<std::string> lines;
    {
        LockedList& groups = tree_.Groups();
        SharedLock groupsLock(groups);
        std::lock_guard<std::mutex> guard(linesLock_);
        for (ListItem* g = groups.First(); g != nullptr; g = g->Next()) {
            auto* group = static_cast<Group*>(g);
            auto found = lines_.find(group);
            if (found == lines_.end())
                continue;
            LineState& state = found->second;
            const std::string where =
                "group \"" + group->Name().ToUtf8() + "\" (" + group->Parameter().ToUtf8() + ")";
            if (state.failSeen && !state.okSeen && !state.lost) {
                state.lost = true;
                lines.push_back("line lost: " + where + ": " + state.reason);
            } else if (state.okSeen && state.lost) {
                state.lost = false;
                lines.push_back("line back: " + where);
            }
            state.okSeen = state.failSeen = false;
        }
    }
    for (const std::string& line : lines)
        Log(line, line.rfind("line lost", 0) == 0);
}

int HeadlessService::Run(const HeadlessOptions& options) {
    settings_.Open(SettingsForm::Registry);
    const unsigned refreshTime =
        static_cast<unsigned>(settings_.GetNumber(kSettingRefreshTime, kDefaultRefreshTime));
    const unsigned flags = static_cast<unsigned>(settings_.GetNumber(kSettingFlags, kDefaultFlags));

    InstallDeviceJobs(tree_, &deviceJobs_);
    tree_.SetNotifyHandler(&HeadlessService::OnNotify, this);
    outcomes_.Add(&ValueRecorder::OnOutcome, &recorder_);
    outcomes_.Add(&MqttBridge::OnOutcome, &mqtt_, &MqttBridge::OnPassOutcome);
    outcomes_.Add(&HeadlessService::OnGroupOutcome, this);
    tree_.SetOutcomeHandler(&OutcomeFanOut::OnOutcome, &outcomes_);
    tree_.SetPassOutcomeHandler(&OutcomeFanOut::OnPassOutcome, &outcomes_);

    std::string why;
    if (!options.recordFile.empty()) {
        if (recorder_.Start(options.recordFile, &why))
            Log("recording to " + options.recordFile);
        else
            Log("cannot record to " + options.recordFile + ": " + why, true);
    }
    if (!tree_.Start(options.tree)) {
        Log("cannot start the tree " + options.tree, true);
        return 1;
    }
    if (tree_.StartedFromUnreadableFile())
        Log("the tree " + options.tree + " could not be read; it was kept as " + tree_.KeptUnreadableAs() +
                " and an empty tree is used",
            true);
    if (options.mqtt) {
        MqttSettings mqtt = options.mqttSettings;
        if (mqtt.clientId.empty())
            mqtt.clientId = StableClientId(options.tree);
        if (!mqtt_.Start(
                mqtt, [](const std::string& line) { Log(line, line.find(" lost") != std::string::npos); },
                &why))
            Log("cannot publish to " + mqtt.url + ": " + why, true);
        topicsAt_ = tree_.ChangeCount();
    }
    size_t groups = 0, sources = 0;
    {
        SharedLock lock(tree_.Groups());
        for (ListItem* g = tree_.Groups().First(); g != nullptr; g = g->Next()) {
            ++groups;
            SharedLock sourcesLock(static_cast<Group*>(g)->Sources());
            for (ListItem* s = static_cast<Group*>(g)->Sources().First(); s != nullptr; s = s->Next())
                ++sources;
        }
    }
    Log("started: " + options.tree + ", " + std::to_string(groups) + " groups, " + std::to_string(sources) +
        " sources, refresh every " + std::to_string(refreshTime) + " s" +
        (options.mqtt ? ", publishing to " + options.mqttSettings.url : std::string()));

    signals_.Install(&HeadlessService::OnSignal, this);
    QObject::connect(&refreshTimer_, &QTimer::timeout, [this] {
        CheckLines();
        tree_.QueueRefresh();
    });
    refreshTimer_.start(RefreshIntervalMs(refreshTime));
    tree_.QueueRefresh();
    QObject::connect(&saveTimer_, &QTimer::timeout, [this] {
        tree_.SaveIfChanged();
        // Records added or renamed (an import) get their topics; values alone change none.
        if (treeChanged_.exchange(false) && mqtt_.IsOn() && tree_.ChangeCount() != topicsAt_) {
            topicsAt_ = tree_.ChangeCount();
            mqtt_.UpdateTopics();
        }
    });
    saveTimer_.start(kSaveIntervalMs);

    QCoreApplication::exec();

    refreshTimer_.stop();
    saveTimer_.stop();
    tree_.Stop(&Pump, nullptr);
    recorder_.Stop();
    mqtt_.Stop();
    settings_.SetNumber(kSettingRefreshTime, refreshTime);
    settings_.SetNumber(kSettingFlags, flags);
    settings_.Close();
    signals_.Remove();
    Log("stopped; the tree is saved");
    return 0;
}

} // namespace mistvale
