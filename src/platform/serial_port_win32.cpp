// The serial device on Windows: the communications calls of kernel32, every transfer
// overlapped and waited on in place, so nothing is left in flight between calls.
#include "platform/win32.h"

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "core/numbers.h"
#include "platform/os_error.h"
#include "platform/serial_port.h"

namespace platform {
namespace {

constexpr DWORD READ_INTERVAL_MS = 65535;
constexpr BYTE XON_CHAR = 0x11;
constexpr BYTE XOFF_CHAR = 0x13;
constexpr WORD FLOW_LIMIT = SerialPort::INPUT_QUEUE_SIZE / 4;
// A read asks only for characters the driver already holds, so it completes at
// once; this bound only guards against a driver that over-reports its queue.
constexpr DWORD READ_LIMIT_MS = 1000;
// How long a cancelled request may take to come back before it is given up on.
constexpr DWORD CANCEL_LIMIT_MS = 1000;
// A UART divides its clock; a rate within this many per mille of the request is
// what the request meant.
constexpr int64_t RATE_TOLERANCE_PER_MILLE = 30;
// How long a request whose event is up may take to show its result (see settle).
constexpr int STATUS_GRACE_MS = 3;
// Requests a driver never handed back (see retire); past this many the port is given up.
constexpr std::size_t MAX_LOST_REQUESTS = 4096;

bool rate_close_enough(DWORD got, int32_t wanted) {
  return std::llabs(static_cast<int64_t>(got) - wanted) * 1000 <=
         static_cast<int64_t>(wanted) * RATE_TOLERANCE_PER_MILLE;
}

// The device given, or for "COMn" in any letter case "\\.\COMn", the form that also
// reaches COM10 and above.
bool device_path(const std::string& name, const std::string& device, std::string& path) {
  if (!device.empty()) {
    path = device;
    return true;
  }
  const std::optional<core::ComPort> port = core::parse_comport(name);
  if (!port || !port->plain) return false;
  const int32_t number = port->number;
  path = "\\\\.\\COM" + std::to_string(number);
  return true;
}

// One overlapped request slot with its own manual-reset event. It lives as long as
// the device, so a request still in the driver's hands never outlives its memory
// (WaitCommEvent writes its event mask when it completes, not when it is issued).
struct Request {
  OVERLAPPED ov{};
  DWORD events = 0;
  bool in_flight = false;

  ~Request() { destroy(); }

  bool create() {
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return ov.hEvent != nullptr;
  }
  // Only once the request is back, or after the file handle is closed.
  void destroy() {
    if (ov.hEvent != nullptr) CloseHandle(ov.hEvent);
    ov.hEvent = nullptr;
    in_flight = false;
  }
  void prepare() {
    HANDLE event = ov.hEvent;
    ov = OVERLAPPED{};
    ov.hEvent = event;
    events = 0;
    ResetEvent(event);
  }
};

class Win32SerialDevice final : public SerialDevice {
 public:
  explicit Win32SerialDevice(core::Waits waits) : waits_(waits) {}
  ~Win32SerialDevice() override { close(); }

  bool open(const std::string& name, const std::string& device) override {
    close();
    std::string path;
    if (!device_path(name, device, path)) {
      error_ = ERROR_FILE_NOT_FOUND;
      return false;
    }
    path_ = path;
    handle_ = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OVERLAPPED, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) return fail();
    if (!renew(wait_) || !renew(read_) || !renew(write_) || !prepare_line()) {
      const DWORD cause = GetLastError();
      close();
      error_ = cause;
      return false;
    }
    error_ = 0;
    return true;
  }

  bool configure(int32_t rate) override {
    if (!is_open() || rate <= 0) {
      error_ = ERROR_INVALID_PARAMETER;
      return false;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle_, &dcb)) return fail();
    dcb.BaudRate = static_cast<DWORD>(rate);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = static_cast<char>(XON_CHAR);
    dcb.XoffChar = static_cast<char>(XOFF_CHAR);
    dcb.XonLim = FLOW_LIMIT;
    dcb.XoffLim = FLOW_LIMIT;
    set_line_flags(dcb);
    if (!SetCommState(handle_, &dcb)) return fail();
    // Some drivers keep a rate they cannot make without saying so; a line at the
    // wrong rate would only show as time-outs later, so the open fails here instead.
    DCB check{};
    check.DCBlength = sizeof check;
    if (!GetCommState(handle_, &check)) return fail();
    if (!rate_close_enough(check.BaudRate, rate)) {
      error_ = ERROR_INVALID_PARAMETER;
      return false;
    }
    error_ = 0;
    return true;
  }

  std::size_t bytes_waiting() override {
    if (!is_open()) return 0;
    DWORD line_errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handle_, &line_errors, &status)) {
      fail();
      return 0;
    }
    return status.cbInQue;
  }

  bool wait_readable(int timeout_ms) override {
    if (!is_open()) return false;
    const int64_t deadline = waits_.now_ms() + (timeout_ms > 0 ? timeout_ms : 0);
    // The mask goes on before the queue is checked, so a character arriving in
    // between is remembered by the driver and ends the wait at once.
    if (!SetCommMask(handle_, EV_RXCHAR)) return fail();
    bool ready = bytes_waiting() > 0;
    // In slices, so that a cancelled wait ends at once; a wait that runs out its
    // slice stays pending and is taken up again.
    while (!ready && !waits_.cancelled()) {
      const int left = waits_.remaining_ms(deadline);
      if (left == 0) break;
      if (!wait_for_event(static_cast<DWORD>(core::wait_slice(left))) && !wait_->in_flight) break;
      ready = bytes_waiting() > 0;
    }
    stop_event_wait();
    return ready || bytes_waiting() > 0;
  }

  std::size_t read_waiting(uint8_t* buffer, std::size_t max) override {
    if (!is_open() || max == 0) return 0;
    // Only what the driver holds: a larger request would wait out the read interval.
    std::size_t want = bytes_waiting();
    if (want > max) want = max;
    if (want == 0) return 0;
    read_->prepare();
    DWORD got = 0;
    if (ReadFile(handle_, buffer, static_cast<DWORD>(want), &got, &read_->ov)) return got;
    if (GetLastError() != ERROR_IO_PENDING) {
      fail();
      return 0;
    }
    read_->in_flight = true;
    DWORD cause = 0;
    if (settle(*read_, READ_LIMIT_MS, got, cause) != Outcome::back) abandon(read_, got);
    return got;
  }

  SerialError write_all(const uint8_t* data, std::size_t size, int timeout_ms) override {
    if (!is_open()) {
      error_ = ERROR_INVALID_HANDLE;
      return SerialError::failed;
    }
    if (size == 0) return SerialError::none;
    write_->prepare();
    DWORD sent = 0;
    if (!WriteFile(handle_, data, static_cast<DWORD>(size), &sent, &write_->ov)) {
      if (GetLastError() != ERROR_IO_PENDING) {
        fail();
        return SerialError::failed;
      }
      write_->in_flight = true;
      DWORD cause = 0;
      if (!settle_write(timeout_ms, sent, cause)) {
        // The line is stuck (flow control, a dead adapter) or the wait was
        // cancelled: abandon the rest.
        PurgeComm(handle_, PURGE_TXABORT | PURGE_TXCLEAR);
        abandon(write_, sent);
        error_ = WAIT_TIMEOUT;
        return SerialError::timeout;
      }
      if (cause != 0) {
        error_ = cause;
        return SerialError::failed;
      }
    }
    if (sent != size) {
      error_ = ERROR_WRITE_FAULT;
      return SerialError::failed;
    }
    error_ = 0;
    return SerialError::none;
  }

  void purge() override {
    if (is_open()) PurgeComm(handle_, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  }

  bool set_rts() override { return is_open() && escape(SETRTS); }

  std::string last_error_text() const override {
    // The system does not say which program holds a port.
    if (in_use()) return "in use by another program";
    return os_error_text(static_cast<int>(error_));
  }
  bool in_use() const override { return error_ == ERROR_ACCESS_DENIED || error_ == ERROR_SHARING_VIOLATION; }
  std::string path() const override { return path_; }

 private:
  bool is_open() const { return handle_ != INVALID_HANDLE_VALUE; }

  bool fail() {
    error_ = GetLastError();
    return false;
  }

  // Everything the open does after CreateFileA: no events, the queue sizes, reads
  // that return what is there, modem lines up, both directions emptied.
  bool prepare_line() {
    if (!SetCommMask(handle_, 0)) return false;
    // The queue sizes are advice to the driver, and one that ignores them still
    // works; the output queue keeps whatever size the driver has.
    COMMPROP properties{};
    const DWORD out_queue = GetCommProperties(handle_, &properties) ? properties.dwCurrentTxQueue : 0;
    SetupComm(handle_, static_cast<DWORD>(SerialPort::INPUT_QUEUE_SIZE), out_queue);
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = READ_INTERVAL_MS;
    if (!SetCommTimeouts(handle_, &timeouts)) return false;
    if (!escape(SETRTS) || !escape(SETDTR)) return false;
    return PurgeComm(handle_, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR) != 0;
  }

  // Binary mode, DTR and RTS held on, no parity check, no flow control of any kind:
  // the flags word 0x1011.
  static void set_line_flags(DCB& dcb) {
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    dcb.fDummy2 = 0;
  }

  // A line without modem control (a pseudo-terminal behind an emulator) refuses the
  // modem-line functions; that is not a failure of the port.
  bool escape(DWORD function) {
    if (EscapeCommFunction(handle_, function)) return true;
    if (GetLastError() == ERROR_NOT_SUPPORTED) return true;
    return fail();
  }

  // Waits up to limit_ms for one receive event. True when the wait ended with an
  // event or with none (a driver may end it spuriously; a pseudo-terminal under an
  // emulator does so every few milliseconds): the caller then looks at the queue.
  // False at the time-out, with the request still pending, or on a real failure.
  bool wait_for_event(DWORD limit_ms) {
    Request& request = *wait_;
    if (!request.in_flight) {
      request.prepare();
      if (WaitCommEvent(handle_, &request.events, &request.ov)) return true;
      const DWORD cause = GetLastError();
      if (cause == ERROR_OPERATION_ABORTED) return true;
      if (cause != ERROR_IO_PENDING) {
        error_ = cause;
        return false;
      }
      request.in_flight = true;
    }
    DWORD unused = 0;
    DWORD cause = 0;
    switch (settle(request, limit_ms, unused, cause)) {
      case Outcome::back:
        if (cause == 0 || cause == ERROR_OPERATION_ABORTED) return true;
        error_ = cause;
        return false;
      case Outcome::stuck:
        retire(wait_);
        return is_open();
      case Outcome::late:
        break;
    }
    return false;
  }

  // Clearing the mask ends a pending WaitCommEvent; it is then waited for, so that
  // no request stays in flight between calls.
  void stop_event_wait() {
    SetCommMask(handle_, 0);
    if (!wait_->in_flight) return;
    DWORD unused = 0;
    DWORD cause = 0;
    if (settle(*wait_, CANCEL_LIMIT_MS, unused, cause) != Outcome::back) abandon(wait_, unused);
  }

  enum class Outcome { back, late, stuck };

  // Waits for the pending write in slices that look at the token; false when it did
  // not come back within timeout_ms or the wait was cancelled.
  bool settle_write(int timeout_ms, DWORD& sent, DWORD& cause) {
    const int64_t deadline = waits_.now_ms() + (timeout_ms > 0 ? timeout_ms : 0);
    for (;;) {
      const int left = waits_.remaining_ms(deadline);
      const Outcome outcome = settle(*write_, static_cast<DWORD>(core::wait_slice(left)), sent, cause);
      if (outcome == Outcome::back) return true;
      if (outcome == Outcome::stuck || left <= core::WAIT_SLICE_MS || waits_.cancelled()) return false;
    }
  }

  // Waits up to limit_ms for a pending request to come back: back (with the bytes it
  // moved and its failure code, 0 for success), late (still pending at the limit),
  // or stuck (its event went up but its result never did).
  Outcome settle(Request& request, DWORD limit_ms, DWORD& moved, DWORD& cause) {
    if (WaitForSingleObject(request.ov.hEvent, limit_ms) != WAIT_OBJECT_0) return Outcome::late;
    // The result can trail the event by a moment; under an emulator it sometimes
    // never comes, and the request is then lost to this device.
    for (int waited = 0;; ++waited) {
      if (GetOverlappedResult(handle_, &request.ov, &moved, FALSE)) {
        request.in_flight = false;
        cause = 0;
        return Outcome::back;
      }
      cause = GetLastError();
      if (cause != ERROR_IO_INCOMPLETE) {
        request.in_flight = false;
        return Outcome::back;
      }
      if (waited == STATUS_GRACE_MS) return Outcome::stuck;
      Sleep(1);
    }
  }

  // Cancels a request that did not come back in time and waits for it.
  void abandon(std::unique_ptr<Request>& slot, DWORD& moved) {
    CancelIo(handle_);
    DWORD cause = 0;
    if (settle(*slot, CANCEL_LIMIT_MS, moved, cause) != Outcome::back) retire(slot);
  }

  // A request the driver never hands back keeps its memory and event for the rest
  // of the run (the driver may still write to them); the slot gets a fresh request.
  void retire(std::unique_ptr<Request>& slot) {
    lost_.push_back(std::move(slot));
    if (lost_.size() > MAX_LOST_REQUESTS || !renew(slot)) {
      error_ = WAIT_TIMEOUT;
      drop_handle();
    }
  }

  static bool renew(std::unique_ptr<Request>& slot) {
    slot = std::make_unique<Request>();
    return slot->create();
  }

  void drop_handle() {
    if (!is_open()) return;
    CancelIo(handle_);
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

  void close() {
    // Closing the handle ends every request on it; only then can their memory go.
    drop_handle();
    wait_.reset();
    read_.reset();
    write_.reset();
    lost_.clear();
  }

  core::Waits waits_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  std::unique_ptr<Request> wait_;
  std::unique_ptr<Request> read_;
  std::unique_ptr<Request> write_;
  std::vector<std::unique_ptr<Request>> lost_;
  DWORD error_ = 0;
  std::string path_;
};

}  // namespace

std::unique_ptr<SerialDevice> make_serial_device(core::Waits waits) {
  return std::make_unique<Win32SerialDevice>(waits);
}

}  // namespace platform
