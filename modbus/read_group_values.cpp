#include "modbus/read_group_values.h"

#include "modbus/connection_path.h"
#include "modbus/failure_reason.h"
#include "modbus/group_link_state.h"
#include "modbus/modbus_link.h"
#include "modbus/register_path.h"
#include "modbus/typed_number.h"
#include "modbus/value_format.h"
#include "model/clock_reader.h"
#include "model/group.h"
#include "model/source.h"
#include "platform/string_table.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <modbus/modbus.h>
#include <string>
#include <unordered_map>
#include <vector>

namespace mistvale {

namespace {

using Clock = std::chrono::steady_clock;

// Registers (or bits) that may lie unread between two sources of one block.
constexpr unsigned kLargestGap = 8;
// A device's delay varies a little from reply to reply.
constexpr auto kLateReplySlack = std::chrono::milliseconds(100);
// Later than this no reply is waited for (devices seen answering up to 4 s late): with a long refresh
// time the quiet wait after an unanswered request would otherwise hold the line for a whole interval.
constexpr auto kLatestReply = std::chrono::seconds(5);
constexpr long long kQuietSliceUs = 100000;

bool IsException(int err) {
    return err > MODBUS_ENOBASE && err <= MODBUS_ENOBASE + MODBUS_EXCEPTION_GATEWAY_TARGET;
}

bool Blockable(unsigned function) {
    return function >= 1 && function <= 4;
}

struct Item {
    Source* source = nullptr;
    RegisterPath reg;
    unsigned span = 1; // items the value takes
    bool done = false;
};

struct Block {
    unsigned function = 3;
    unsigned start = 0;
    unsigned count = 0;
    std::vector<std::size_t> items;
};

unsigned SpanOf(const RegisterPath& reg) {
    if (reg.format == ValueFormat::Text) {
        // Addresses do not wrap past the last register.
        const uint32_t room = 0x10000u - reg.address;
        return static_cast<unsigned>(std::min<uint32_t>(reg.textCount, room));
    }
    return RegistersOfNumber(reg.format);
}

// One read pass over the sources of a Modbus group.
class GroupPass {
public:
    GroupPass(const ConnectionPath& path, GroupLinkState& state, const std::atomic<bool>& stop)
        : state_(state), stop_(stop), path_(path) {}

    // 0 when the link could not be opened.
    int Run(std::vector<Item>& items);

private:
    std::vector<Block> Plan(const std::vector<Item>& items) const;
    // Reads count items of a run that may be longer than one request takes.
    bool ReadRun(unsigned function, unsigned start, unsigned count, uint16_t* out);
    // After a reply taken while a request was unanswered: true when nothing else came for as long as
    // its own reply could still come late.
    bool InStepAfter(Clock::time_point sent);
    void ReadBlock(std::vector<Item>& items, const Block& block);
    void ReadAlone(Item& item);
    void Deliver(Item& item, const uint16_t* values, unsigned delivered);
    void Fail(Item& item, int err, bool opening = false);
    std::string Reason(int err, bool opening) const;

    GroupLinkState& state_;
    const std::atomic<bool>& stop_;
    const ConnectionPath& path_;
    ModbusLink link_;
    unsigned slave_ = 1;
    bool answered_ = false; // the slave sent a proper reply in this pass
    int silent_ = 0;        // the error of the request the slave did not answer; 0 while it answers
    OutcomeStamp stamp_;    // when the last reply came
    WideString scratch_;    // the next value text, made here and swapped into its source
};

std::string GroupPass::Reason(int err, bool opening) const {
    return DescribeLinkFailure(path_, err, opening, link_.DevicePath(), link_.RequestDeadlineUs());
}

void GroupPass::Fail(Item& item, int err, bool opening) {
    item.source->SetFailedValue(WideString(Text(kStrCantGetValue)), Reason(err, opening));
    item.done = true;
}

void GroupPass::Deliver(Item& item, const uint16_t* values, unsigned delivered) {
    Source& source = *item.source;
    // The text is made in a buffer that is swapped with the source's old one: a pass over many
    // sources reuses the buffers it hands over instead of allocating one a value.
    switch (item.reg.format) {
    case ValueFormat::Text: {
        std::u16string chars;
        for (unsigned i = 0; i < delivered; ++i)
            AppendRegisterText(&chars, values[i]);
        scratch_.Assign(chars.c_str(), static_cast<int>(chars.size()));
        source.TakeValue(scratch_, stamp_);
        break;
    }
    case ValueFormat::Hex:
    case ValueFormat::Decimal: {
        char16_t units[kValueUnits];
        const int length = item.reg.format == ValueFormat::Hex ? FormatHexUnits(values[0], units)
                                                               : FormatDecimalUnits(values[0], units);
        scratch_.Assign(units, length);
        source.TakeValue(scratch_, stamp_);
        source.AppendSample(static_cast<int16_t>(values[0]));
        break;
    }
    default: {
        std::string text;
        std::string reason;
        int16_t sample = 0;
        if (delivered < RegistersOfNumber(item.reg.format) ||
            !FormatTypedNumber(item.reg, values, &text, &sample, &reason)) {
            source.SetFailedValue(WideString(Text(kStrCantGetValue)),
                                  reason.empty() ? kReasonBadRegisterPath : reason);
            break;
        }
        scratch_.AssignAnsi(text.data(), static_cast<int>(text.size()), WideString::kCodePageLatin1);
        source.TakeValue(scratch_, stamp_);
        source.AppendSample(sample);
        break;
    }
    }
    item.done = true;
}

std::vector<Block> GroupPass::Plan(const std::vector<Item>& items) const {
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < items.size(); ++i)
        if (!items[i].done)
            order.push_back(i);
    auto before = [&](std::size_t a, std::size_t b) {
        const RegisterPath& x = items[a].reg;
        const RegisterPath& y = items[b].reg;
        return x.function != y.function ? x.function < y.function : x.address < y.address;
    };
    // Sources are mostly listed in register order already.
    if (!std::is_sorted(order.begin(), order.end(), before))
        std::stable_sort(order.begin(), order.end(), before);
    std::vector<Block> blocks;
    for (std::size_t index : order) {
        const Item& item = items[index];
        const unsigned function = item.reg.function;
        const unsigned first = item.reg.address;
        const unsigned end = first + item.span;
        if (!blocks.empty() && Blockable(function)) {
            Block& last = blocks.back();
            const unsigned lastEnd = last.start + last.count;
            const unsigned gap = state_.GapsAllowed(function) ? kLargestGap : 0;
            const unsigned newEnd = std::max(lastEnd, end);
            if (last.function == function && first <= lastEnd + gap &&
                newEnd - last.start <= state_.Limit(function) &&
                !state_.HasLonelyIn(function, last.start, newEnd)) {
                last.count = newEnd - last.start;
                last.items.push_back(index);
                continue;
            }
        }
        blocks.push_back(Block{function, first, item.span, {index}});
    }
    // A request that went unanswered last time goes first: a late reply to it must meet nothing else.
    if (state_.owing) {
        auto owed = std::find_if(blocks.begin(), blocks.end(), [&](const Block& block) {
            return block.function == state_.owedFunction && block.start == state_.owedStart &&
                   std::min(block.count, state_.Limit(block.function)) == state_.owedCount;
        });
        if (owed != blocks.end())
            std::rotate(blocks.begin(), owed, owed + 1);
    }
    // A slave whose first request went unanswered last time is asked for one source before any block.
    if (state_.probeFirst && !blocks.empty() && blocks.front().items.size() > 1) {
        Block& front = blocks.front();
        const Item& probe = items[front.items.front()];
        Block alone{front.function, probe.reg.address, probe.span, {front.items.front()}};
        front.items.erase(front.items.begin());
        unsigned start = 0x10000, end = 0;
        for (std::size_t index : front.items) {
            start = std::min<unsigned>(start, items[index].reg.address);
            end = std::max<unsigned>(end, items[index].reg.address + items[index].span);
        }
        front.start = start;
        front.count = end - start;
        blocks.insert(blocks.begin(), alone);
    }
    return blocks;
}

bool GroupPass::InStepAfter(Clock::time_point sent) {
    if (link_.IsTcp())
        return true; // a request without a reply ended its connection: its reply cannot come here
    // Had the reply just taken been the late one of the unanswered request, this request's own reply
    // would come as much later as this request went out after that one: as long as that, the line
    // must stay quiet. The wait is cut in slices so that a shutdown does not wait for it.
    const auto quietUntil =
        Clock::now() + std::min<Clock::duration>(sent - state_.owedAt, kLatestReply) + kLateReplySlack;
    while (Clock::now() < quietUntil) {
        if (stop_.load())
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(quietUntil - Clock::now());
        if (!link_.StaysQuiet(std::min<long long>(left.count(), kQuietSliceUs)))
            return false;
    }
    return true;
}

bool GroupPass::ReadRun(unsigned function, unsigned start, unsigned count, uint16_t* out) {
    const unsigned step = Blockable(function) ? std::max(1u, state_.Limit(function)) : count;
    for (unsigned done = 0; done < count;) {
        if (stop_.load())
            return false;
        unsigned n = std::min(step, count - done);
        unsigned got = n;
        const Clock::time_point sent = Clock::now();
        const bool ok = link_.ReadItems(slave_, start + done, function, &got, out + done, 0) && got == n;
        const int err = ok ? 0 : link_.LastError();
        if (!ok && !IsException(err)) {
            silent_ = err != 0 ? err : ETIMEDOUT;
            state_.owing = true;
            state_.owedAt = sent;
            state_.owedFunction = function;
            state_.owedStart = start + done;
            state_.owedCount = n;
            return false;
        }
        answered_ = true;
        stamp_ = OutcomeStamp::Now();
        if (state_.owing) {
            // This reply may have been the late one of the request that went unanswered before (the
            // same request: the pass asks it first), and this request's own reply may then still be
            // on its way, to be taken for the next request.
            if (!InStepAfter(sent)) {
                silent_ = ETIMEDOUT;
                state_.owedAt = sent;
                if (ok)
                    done += n;
                return ok && done == count;
            }
            state_.owing = false;
        }
        if (!ok)
            return false;
        done += n;
    }
    return true;
}

void GroupPass::ReadAlone(Item& item) {
    if (!Blockable(item.reg.function) && item.reg.function != 7 && item.reg.function != 9) {
        // No read function: nothing is sent, and the slave is not taken for silent.
        item.source->SetFailedValue(WideString(Text(kStrCantGetValue)), kReasonBadRegisterPath);
        item.done = true;
        return;
    }
    std::vector<uint16_t> values(std::max(1u, item.span), 0);
    if (ReadRun(item.reg.function, item.reg.address, item.span, values.data())) {
        Deliver(item, values.data(), item.span);
        return;
    }
    if (stop_.load())
        return;
    const int err = link_.LastError();
    if (IsException(err) && item.reg.format == ValueFormat::Text && item.span > 1 && silent_ == 0) {
        // A text longer than the device's registers: what it has, register by register.
        unsigned read = 0;
        while (read < item.span &&
               ReadRun(item.reg.function, item.reg.address + read, 1, values.data() + read))
            ++read;
        if (read > 0) {
            Deliver(item, values.data(), read);
            return;
        }
    }
    if (IsException(err) && Blockable(item.reg.function))
        state_.MarkLonely(item.reg.function, item.reg.address);
    Fail(item, silent_ != 0 ? silent_ : err);
}

void GroupPass::ReadBlock(std::vector<Item>& items, const Block& block) {
    if (block.items.size() == 1 && block.count == items[block.items.front()].span) {
        ReadAlone(items[block.items.front()]);
        return;
    }
    std::vector<uint16_t> values(block.count, 0);
    const bool answeredBefore = answered_;
    if (ReadRun(block.function, block.start, block.count, values.data())) {
        for (std::size_t index : block.items) {
            Item& item = items[index];
            Deliver(item, values.data() + (item.reg.address - block.start), item.span);
        }
        return;
    }
    if (stop_.load())
        return;
    const int err = link_.LastError();
    if (IsException(err)) {
        // One register the device lacks must not hide its neighbours.
        bool allAnswered = true;
        for (std::size_t index : block.items) {
            if (silent_ != 0 || stop_.load())
                break;
            ReadAlone(items[index]);
            allAnswered = allAnswered && !items[index].source->HasFailed();
        }
        if (allAnswered && silent_ == 0) {
            // Every source alone was fine: the block was too long (exception 3, an illegal quantity),
            // or spanned registers the device lacks.
            if (err != MODBUS_ENOBASE + MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE &&
                state_.GapsAllowed(block.function))
                state_.ForbidGaps(block.function);
            else
                state_.Shrink(block.function, block.count);
        }
        return;
    }
    // No proper reply. Smaller pieces from the next pass on when the slave answered other requests;
    // when it answered nothing yet, the next pass first asks for one source to tell which it is.
    if (answeredBefore)
        state_.Shrink(block.function, block.count);
    else
        state_.probeFirst = true;
}

int GroupPass::Run(std::vector<Item>& items) {
    bool pending = false;
    for (const Item& item : items)
        pending = pending || !item.done;
    if (!pending)
        return 1; // nothing to ask: the link is not even opened
    if (!OpenModbusLink(path_, link_, &slave_)) {
        // The port or host cannot be reached at all: one attempt for the whole group.
        const int err = link_.LastError();
        for (Item& item : items)
            if (!item.done)
                Fail(item, err, true);
        link_.Disconnect();
        return 0;
    }
    const std::vector<Block> blocks = Plan(items);
    if (state_.owing && !blocks.empty()) {
        // The request that went unanswered is not asked first (the sources changed): a first request
        // whose reply has the same shape could take its late reply, so whatever is still on its way
        // must have arrived before. A reply of another length is refused anyway.
        const Block& first = blocks.front();
        const unsigned count = std::min(first.count, state_.Limit(first.function));
        if (first.function == state_.owedFunction && count == state_.owedCount &&
            first.start != state_.owedStart && link_.StaysQuiet(link_.RequestDeadlineUs()))
            state_.owing = false;
    }
    for (const Block& block : blocks) {
        if (stop_.load())
            break;
        if (silent_ == 0)
            ReadBlock(items, block);
        if (stop_.load())
            break;
        // A slave that did not answer is asked nothing more in this pass: its late reply cannot be
        // taken for another request, and its time-out is paid once.
        if (silent_ != 0)
            for (std::size_t index : block.items)
                if (!items[index].done)
                    Fail(items[index], silent_);
    }
    if (answered_)
        state_.probeFirst = false;
    link_.Disconnect();
    return 1;
}

} // namespace

int ReadGroupValues(Group& group, Source* const* sources, std::size_t count, const std::atomic<bool>& stop) {
    // The group's path is read and split once a pass.
    const WideString groupPath = group.Parameter();
    const ConnectionPath path = ParseConnectionPath(groupPath);
    switch (path.kind) {
    case ConnectionKind::Clock:
        for (std::size_t i = 0; i < count; ++i)
            ReadClockValue(*sources[i]);
        return 1;
    case ConnectionKind::Serial:
    case ConnectionKind::Tcp:
        break;
    default:
        return 1;
    }
    std::shared_ptr<GroupLinkState> state = LinkStateOf(group, groupPath);
    std::lock_guard<std::mutex> lock(state->Lock());
    std::vector<Item> items(count);
    // Paths are kept from pass to pass and parsed again only when their parameter's version changed.
    std::unordered_map<const Source*, GroupLinkState::ParsedPath>& parsed = state->parsed;
    for (std::size_t i = 0; i < count; ++i) {
        Item& item = items[i];
        item.source = sources[i];
        auto [entry, added] = parsed.try_emplace(item.source);
        GroupLinkState::ParsedPath& path = entry->second;
        // The version is read before the text: a change in between is parsed again next pass.
        const std::uint64_t version = item.source->ParameterVersion();
        if (added || !path.parsed || path.version != version) {
            path.version = version;
            path.parsed = true;
            path.ok = ParseRegisterPath(item.source->Parameter(), &path.reg) != 0;
        }
        item.reg = path.reg;
        if (!path.ok) {
            item.source->SetFailedValue(WideString(Text(kStrCantGetValue)), kReasonBadRegisterPath);
            item.done = true;
            continue;
        }
        item.span = SpanOf(item.reg);
        if (item.span == 0) {
            item.source->SetFailedValue(WideString(Text(kStrCantGetValue)), kReasonBadRegisterPath);
            item.done = true;
        }
    }
    // Sources that left the group leave the memory too (an address may come back as another source;
    // its parameter's version, new to every record, decides then).
    if (parsed.size() > count) {
        std::unordered_map<const Source*, GroupLinkState::ParsedPath> kept;
        for (std::size_t i = 0; i < count; ++i) {
            auto found = parsed.find(sources[i]);
            if (found != parsed.end())
                kept.emplace(sources[i], found->second);
        }
        parsed.swap(kept);
    }
    GroupPass pass(path, *state, stop);
    return pass.Run(items);
}

} // namespace mistvale
