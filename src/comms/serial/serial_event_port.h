#pragma once
// CSerialEventPort: a CSerialPort with a worker thread that waits for line
// events and hands each wake-up that found events to OnPortEvent.
//
// The worker runs OnPortEvent on its own thread. A class that implements
// OnPortEvent must stop the worker (ClosePort) in its own destructor, before
// its part of the object is gone.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <thread>

#include "comms/serial/serial_port.h"

class CSerialEventPort : public CSerialPort {
 public:
  CSerialEventPort() = default;
  ~CSerialEventPort() override;

  // Opens the port; the worker is not started here.
  std::uint32_t OpenPort(std::string_view name, std::uint32_t inQueue,
                         std::uint32_t outQueue) override;
  // Stops the worker, then closes the port.
  std::uint32_t ClosePort() override;

  // Starts the worker unless one runs (one that ended on a hang-up is
  // replaced). kErrorInvalidHandle on a closed port.
  virtual std::uint32_t StartWorker();
  // Asks the worker to stop and waits up to timeoutMs for it to end. A
  // worker that has not ended in time is kept (and kErrorTimeout returned),
  // so that a later call, or closing the port, still waits for it.
  virtual std::uint32_t StopWorker(std::uint32_t timeoutMs);

  // False once the worker has ended, on request or because the device went
  // away (a hung-up device ends it quietly; nothing more is reported).
  bool IsWorkerRunning() const;

 protected:
  // Called on the worker thread, once per wake-up that found events in the
  // mask; errors are the line error flags taken at that wake-up.
  virtual void OnPortEvent(std::uint32_t events, std::uint32_t errors) = 0;

 private:
  void RunWorker();

  std::thread workerThread_;
  // Signalled to stop the worker; stays signalled until the next start.
  CDescriptor stopEvent_;
  mutable std::mutex workerMutex_;
  std::condition_variable workerEnded_;
  bool workerRunning_ = false;
};
