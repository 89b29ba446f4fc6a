#include "common/outside_calls.h"

namespace vt {

namespace {
thread_local OutsideCalls::Slot* t_slot = nullptr;
thread_local const char* t_name = "unnamed";
thread_local int t_depth = 0;
}  // namespace

OutsideCalls& OutsideCalls::Process() {
    static OutsideCalls calls;
    return calls;
}

void OutsideCalls::NameThisThread(const char* name) {
    t_name = name;
    if (t_slot != nullptr) {
        t_slot->thread = name;
    }
}

OutsideCalls::Slot* OutsideCalls::SlotOfThisThread() {
    if (t_slot == nullptr) {
        const int index = used_++;
        if (index >= kSlots) {
            return nullptr;  // asked again next time: cheap, and rare
        }
        t_slot = &slots_[index];
        t_slot->thread = t_name;
    }
    return t_slot;
}

const OutsideCalls::Slot* OutsideCalls::Oldest() const {
    const Slot* oldest = nullptr;
    const int used = used_.load() < kSlots ? used_.load() : kSlots;
    for (int i = 0; i < used; ++i) {
        const Slot& s = slots_[i];
        if (s.call.load() != nullptr && (oldest == nullptr || s.since < oldest->since)) {
            oldest = &s;
        }
    }
    return oldest;
}

OutsideCall::OutsideCall(const char* name) {
    OutsideCalls& calls = OutsideCalls::Process();
    platform::Clock* clock = calls.clock();
    if (t_depth++ != 0 || clock == nullptr) {
        return;
    }
    slot_ = calls.SlotOfThisThread();
    if (slot_ != nullptr) {
        slot_->since = clock->TickCount64();
        slot_->call = name;  // last: the watch reads the start only with a name
    }
}

bool OutsideCall::OnThisThread() {
    return t_depth > 0;
}

OutsideCall::~OutsideCall() {
    --t_depth;
    if (slot_ != nullptr) {
        slot_->call = nullptr;
    }
}

}  // namespace vt
