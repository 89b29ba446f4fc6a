// The object the system event notification service calls when the
// session's screen saver starts or stops. It answers for IUnknown,
// IDispatch and ISensLogon; every logon event but the two screen-saver
// ones is accepted and ignored.
//
// It lives as COM objects do: made with one reference, its owner's, and
// freed by its last Release. The owner removes the subscriptions,
// disconnects it from COM, closes it (no event reaches the service after
// that) and then drops its own reference; COM may still hold one for a
// call it has dispatched, and its Release, however late, frees it.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <sensevts.h>

#include <atomic>

#include "platform/screen_saver.h"

namespace vt::platform::win32 {

// COM interfaces have no virtual destructor, and must not get one (it would
// add a slot to the interface's table); the class is final and deletes
// itself as what it is.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class TWISensLogon final : public ISensLogon {
  public:
    // Made with `new` only: the last Release deletes it.
    explicit TWISensLogon(ScreenSaverSink& sink) : sink_(sink) { ++s_objects; }
    TWISensLogon(const TWISensLogon&) = delete;
    TWISensLogon& operator=(const TWISensLogon&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE Logon(BSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Logoff(BSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE StartShell(BSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DisplayLock(BSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DisplayUnlock(BSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE StartScreenSaver(BSTR) override;
    HRESULT STDMETHODCALLTYPE StopScreenSaver(BSTR) override;

    // No event reaches the service's sink from now on. True once no call is
    // inside the service's sink any more, waiting up to `waitMs` for those
    // that are; false when one still is.
    bool Close(DWORD waitMs);

    LONG references() const { return references_; }
    // Sinks not yet freed, in the whole process.
    static long Objects() { return s_objects; }

  private:
    ~TWISensLogon() { --s_objects; }
    void Deliver(void (ScreenSaverSink::*event)());

    ScreenSaverSink& sink_;
    volatile LONG references_ = 1;
    std::atomic<bool> closed_{false};
    std::atomic<int> inside_{0};  // calls between their entry and their return
    static inline std::atomic<long> s_objects{0};
};
#pragma GCC diagnostic pop

// The interface identifiers the sink answers for.
extern const IID kIIDISensLogon;

}  // namespace vt::platform::win32
