#include <windows.h>
// After windows.h, which they need.
#include <eventsys.h>
#include <oleauto.h>

#include "platform/win32/sens_sink_win.h"
#include "platform/win32/system_win.h"

namespace vt::platform::win32 {

// The two screen-saver subscriptions in the COM event system, delivered to
// one TWISensLogon sink; COM is initialised for the multithreaded apartment
// on the subscribing thread.
class WinScreenSaverEvents final : public ScreenSaverEvents {
  public:
    ~WinScreenSaverEvents();
    bool Subscribe(ScreenSaverSink& sink) override;
    void Unsubscribe() override;

  private:
    bool comInitialised_ = false;
    ::IEventSystem* eventSystem_ = nullptr;
    TWISensLogon* sink_ = nullptr;
};

// The published identifiers, spelled out here so no import library has to
// carry them.
const IID kIIDISensLogon = {
    0xD597BAB3, 0x5B9F, 0x11D1, {0x8D, 0xD2, 0x00, 0xAA, 0x00, 0x4A, 0xBD, 0x5E}};

namespace {

const CLSID kCLSIDEventSystem = {
    0x4E14FBA2, 0x2E22, 0x11D1, {0x99, 0x64, 0x00, 0xC0, 0x4F, 0xBB, 0xB3, 0x45}};
const IID kIIDEventSystem = {
    0x4E14FB9F, 0x2E22, 0x11D1, {0x99, 0x64, 0x00, 0xC0, 0x4F, 0xBB, 0xB3, 0x45}};
const CLSID kCLSIDEventSubscription = {
    0x7542E960, 0x79C7, 0x11D1, {0x88, 0xF9, 0x00, 0x80, 0xC7, 0xD7, 0x71, 0xBF}};
const IID kIIDEventSubscription = {
    0x4A6B0E15, 0x2E38, 0x11D1, {0x99, 0x65, 0x00, 0xC0, 0x4F, 0xBB, 0xB3, 0x45}};

// How long the unsubscription waits for a screen-saver call still inside
// the sink (a cooler call, normally a few milliseconds).
constexpr DWORD kSinkCloseWaitMs = 2000;

constexpr wchar_t kLogonEventClass[] = L"{D5978630-5B9F-11D1-8DD2-00AA004ABD5E}";
constexpr wchar_t kSubscriptionProgId[] = L"EventSystem.EventSubscription";

struct Subscription {
    const wchar_t* method;
    const wchar_t* name;
    const wchar_t* id;
};
constexpr Subscription kSubscriptions[] = {
    {L"StartScreenSaver", L"CC_StartScreenSaver", L"{31912B7D-2AA3-45FA-8068-EC75B99E74E1}"},
    {L"StopScreenSaver", L"CC_StopScreenSaver", L"{548BCAD5-A07D-46BA-8901-FD539081E81F}"},
};

// A BSTR for the length of one call.
class Bstr {
  public:
    explicit Bstr(const wchar_t* text) : value_(SysAllocString(text)) {}
    explicit Bstr(const std::wstring& text) : value_(SysAllocString(text.c_str())) {}
    ~Bstr() { SysFreeString(value_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    operator BSTR() const { return value_; }

  private:
    BSTR value_;
};

}  // namespace

HRESULT STDMETHODCALLTYPE TWISensLogon::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, kIIDISensLogon)) {
        *object = static_cast<ISensLogon*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE TWISensLogon::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&references_));
}

ULONG STDMETHODCALLTYPE TWISensLogon::Release() {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) {
        delete this;
    }
    return static_cast<ULONG>(left);
}

HRESULT STDMETHODCALLTYPE TWISensLogon::StartScreenSaver(BSTR) {
    Deliver(&ScreenSaverSink::ScreenSaverStarted);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TWISensLogon::StopScreenSaver(BSTR) {
    Deliver(&ScreenSaverSink::ScreenSaverStopped);
    return S_OK;
}

void TWISensLogon::Deliver(void (ScreenSaverSink::*event)()) {
    // Counted before the look at `closed_`: Close either sees this call
    // inside, or this call sees the sink closed.
    ++inside_;
    if (!closed_) {
        // The event system's threads must never see an exception.
        try {
            (sink_.*event)();
        } catch (...) {
        }
    }
    --inside_;
}

bool TWISensLogon::Close(DWORD waitMs) {
    closed_ = true;
    constexpr DWORD kStepMs = 10;
    for (DWORD waited = 0; inside_.load() > 0; waited += kStepMs) {
        if (waited >= waitMs) {
            return false;
        }
        ::Sleep(kStepMs);
    }
    return true;
}

WinScreenSaverEvents::~WinScreenSaverEvents() = default;

bool WinScreenSaverEvents::Subscribe(ScreenSaverSink& sink) {
    const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    comInitialised_ = SUCCEEDED(init);
    if (init != S_OK) {
        return false;
    }
    IEventSystem* eventSystem = nullptr;
    if (FAILED(CoCreateInstance(kCLSIDEventSystem, nullptr, CLSCTX_SERVER, kIIDEventSystem,
                                reinterpret_cast<void**>(&eventSystem))) ||
        eventSystem == nullptr) {
        return false;  // no event system (Wine has none): no reaction
    }
    eventSystem_ = eventSystem;
    sink_ = new TWISensLogon(sink);
    for (const Subscription& row : kSubscriptions) {
        IEventSubscription* subscription = nullptr;
        if (FAILED(CoCreateInstance(kCLSIDEventSubscription, nullptr, CLSCTX_SERVER,
                                    kIIDEventSubscription,
                                    reinterpret_cast<void**>(&subscription))) ||
            subscription == nullptr) {
            continue;
        }
        // Failures here only cost the reaction; nothing to do about them.
        subscription->put_EventClassID(Bstr(kLogonEventClass));
        subscription->put_SubscriberInterface(static_cast<ISensLogon*>(sink_));
        subscription->put_MethodName(Bstr(row.method));
        subscription->put_SubscriptionName(Bstr(row.name));
        subscription->put_SubscriptionID(Bstr(row.id));
        subscription->put_PerUser(TRUE);
        eventSystem->Store(Bstr(kSubscriptionProgId), subscription);
        subscription->Release();
    }
    return true;
}

void WinScreenSaverEvents::Unsubscribe() {
    if (eventSystem_ != nullptr) {
        for (const Subscription& row : kSubscriptions) {
            int errorIndex = 0;
            eventSystem_->Remove(Bstr(kSubscriptionProgId),
                                 Bstr(std::wstring(L"SubscriptionID=") + row.id), &errorIndex);
        }
        eventSystem_->Release();
        eventSystem_ = nullptr;
    }
    if (sink_ != nullptr) {
        // The subscriptions are gone; COM lets go of the sink once the calls
        // it dispatched have returned (it does not wait for them). Closing
        // cuts off every event from now on, and waits a while for one
        // already inside the service. The sink itself goes with the last
        // reference, ours or COM's, whichever is dropped last.
        ::CoDisconnectObject(static_cast<ISensLogon*>(sink_), 0);
        sink_->Close(kSinkCloseWaitMs);
        sink_->Release();
        sink_ = nullptr;
    }
    // Balanced with the initialisation only: uninitialising a thread whose
    // initialisation failed would end someone else's.
    if (comInitialised_) {
        CoUninitialize();
        comInitialised_ = false;
    }
}

ScreenSaverEvents& SystemScreenSaverEvents() {
    static WinScreenSaverEvents screenSaver;
    return screenSaver;
}

}  // namespace vt::platform::win32
