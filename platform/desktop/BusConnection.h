#pragma once
// Owning handles for sd-bus: a connection to the session or the system bus, a reference to a
// message, and the error a call fills in. Each lets go of what it holds exactly once, however its
// scope is left, and none may be copied.

#include <systemd/sd-bus.h>

#include <string>
#include <utility>

namespace tw {

// One connection to a message bus. Opened the way sd-bus opens its buses, so that
// DBUS_SESSION_BUS_ADDRESS and DBUS_SYSTEM_BUS_ADDRESS, when set, name the bus. Like the sd_bus it
// holds, it is used by one thread at a time; the thread that works on a connection is the one to
// end it.
class BusConnection {
 public:
  enum class Bus { Session, System };

  // Holds no connection.
  BusConnection() = default;
  // A connection to `bus`; when that fails it holds none and `error()` says why.
  static BusConnection open(Bus bus);

  // Sends what is still queued, then closes and releases the connection.
  ~BusConnection();
  BusConnection(BusConnection&& other) noexcept;
  // Ends the connection held before as the destructor does, then takes over `other`'s.
  BusConnection& operator=(BusConnection&& other) noexcept;
  BusConnection(const BusConnection&) = delete;
  BusConnection& operator=(const BusConnection&) = delete;

  sd_bus* get() const { return bus_; }
  explicit operator bool() const { return bus_ != nullptr; }
  // Whether it holds a connection that is still open; a lost one is held but no longer open.
  bool isOpen() const;

  // The negative errno with which the last open failed, 0 when it did not.
  int openResult() const { return openResult_; }
  // Why the last open failed; empty when it did not.
  std::string error() const;

  // Ends the connection now as the destructor does.
  void reset();
  // Closes and releases the connection now without sending what is still queued: for one that
  // was lost or never finished setting up, where there is no one left to send to.
  void discard();

 private:
  sd_bus* bus_ = nullptr;
  int openResult_ = 0;
};

// One reference to a message, dropped with its holder.
class BusMessage {
 public:
  BusMessage() = default;
  ~BusMessage() { sd_bus_message_unref(message_); }
  BusMessage(BusMessage&& other) noexcept : message_(std::exchange(other.message_, nullptr)) {}
  BusMessage& operator=(BusMessage&& other) noexcept {
    if (this != &other) {
      sd_bus_message_unref(message_);
      message_ = std::exchange(other.message_, nullptr);
    }
    return *this;
  }
  BusMessage(const BusMessage&) = delete;
  BusMessage& operator=(const BusMessage&) = delete;

  sd_bus_message* get() const { return message_; }
  explicit operator bool() const { return message_ != nullptr; }
  // Where an sd-bus call stores the reference it hands out; the one held before is dropped.
  sd_bus_message** out() {
    message_ = sd_bus_message_unref(message_);
    return &message_;
  }

 private:
  sd_bus_message* message_ = nullptr;
};

// The error a call fills in, freed with its holder.
class BusError {
 public:
  BusError() = default;
  ~BusError() { sd_bus_error_free(&error_); }
  BusError(const BusError&) = delete;
  BusError& operator=(const BusError&) = delete;

  sd_bus_error* get() { return &error_; }
  // Null while no error is set.
  const char* name() const { return error_.name; }
  const char* message() const { return error_.message; }

 private:
  sd_bus_error error_ = SD_BUS_ERROR_NULL;
};

}  // namespace tw
