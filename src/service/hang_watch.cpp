#include "service/hang_watch.h"

#include <atomic>
#include <memory>
#include <string>

#include "common/outside_calls.h"
#include "common/service_event.h"

namespace vt::service {

namespace {
std::atomic<HangWatch*> g_watch{nullptr};

std::wstring Widen(const char* text) {
    std::wstring out;
    for (const char* c = text; c != nullptr && *c != '\0'; ++c) {
        out += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    }
    return out;
}
}  // namespace

void HangWatch::StartOnce(platform::Threads& threads, platform::Clock& clock,
                          platform::EventLog& eventLog, platform::CrashHook& crashHook) {
    auto watch = std::make_unique<HangWatch>(threads, clock, eventLog, crashHook);
    HangWatch* none = nullptr;
    if (!g_watch.compare_exchange_strong(none, watch.get())) {
        return;
    }
    if (threads.StartThread(&HangWatch::Thread, watch.get())) {
        watch.release();  // the thread's until the process ends
    } else {
        g_watch = nullptr;
    }
}

void HangWatch::Thread(void* context) {
    auto* watch = static_cast<HangWatch*>(context);
    watch->threads_.NameCurrentThread("vt-hangwatch");
    do {
        watch->clock_.Sleep(watch->NextLookMs());
    } while (watch->Pass());
}

uint32_t HangWatch::NextLookMs() {
    const OutsideCalls::Slot* oldest = OutsideCalls::Process().Oldest();
    if (oldest == nullptr || oldest->call.load() == nullptr) {
        return kLookMs;
    }
    const uint64_t elapsed = clock_.TickCount64() - oldest->since.load();
    const uint64_t untilHang = elapsed > kHangBoundMs ? 1 : kHangBoundMs - elapsed + 1;
    return untilHang < kLookMs ? static_cast<uint32_t>(untilHang) : kLookMs;
}

bool HangWatch::Pass() {
    const OutsideCalls::Slot* oldest = OutsideCalls::Process().Oldest();
    if (oldest == nullptr) {
        return true;
    }
    // The name first: a call that began after it was read has a later start.
    const char* call = oldest->call.load();
    const uint64_t since = oldest->since.load();
    if (call == nullptr || clock_.TickCount64() - since <= kHangBoundMs) {
        return true;
    }
    const char* thread = oldest->thread.load();
    WriteServiceEvent(eventLog_, platform::EventType::Error,
                      L"TWservice hang in " + Widen(call) + L" on " + Widen(thread));
    crashHook_.Hung(call, thread);
    return false;
}

}  // namespace vt::service
