// The session's screen saver starting and stopping, as the system reports
// it: on Windows through the system event notification service, on Linux
// through two signals (SIGUSR1 started, SIGUSR2 stopped) that whatever
// watches the desktop's screen saver sends to the service.
#pragma once

namespace vt::platform {

class ScreenSaverSink {
  public:
    virtual void ScreenSaverStarted() = 0;
    virtual void ScreenSaverStopped() = 0;

  protected:
    ~ScreenSaverSink() = default;
};

class ScreenSaverEvents {
  public:
    // Delivers the screen saver's start and stop to `sink`, on threads of
    // the system's choosing, until Unsubscribe. False when the system's
    // notification service is not there: nothing is delivered then, and the
    // service runs on without the reaction. Call once, from the thread that
    // will call Unsubscribe, before the process starts other threads.
    virtual bool Subscribe(ScreenSaverSink& sink) = 0;
    // Ends the delivery and releases what Subscribe took; also after a
    // failed or missing Subscribe.
    virtual void Unsubscribe() = 0;

  protected:
    ~ScreenSaverEvents() = default;
};

}  // namespace vt::platform
