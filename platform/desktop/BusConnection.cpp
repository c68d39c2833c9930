#include "platform/desktop/BusConnection.h"

#include <cstring>

namespace tw {

BusConnection BusConnection::open(Bus bus) {
  BusConnection connection;
  sd_bus* b = nullptr;
  const int r = bus == Bus::System ? sd_bus_open_system(&b) : sd_bus_open_user(&b);
  if (r < 0) {
    connection.openResult_ = r;
    return connection;
  }
  connection.bus_ = b;
  return connection;
}

BusConnection::~BusConnection() { reset(); }

BusConnection::BusConnection(BusConnection&& other) noexcept
    : bus_(std::exchange(other.bus_, nullptr)), openResult_(std::exchange(other.openResult_, 0)) {}

BusConnection& BusConnection::operator=(BusConnection&& other) noexcept {
  if (this != &other) {
    reset();
    bus_ = std::exchange(other.bus_, nullptr);
    openResult_ = std::exchange(other.openResult_, 0);
  }
  return *this;
}

bool BusConnection::isOpen() const { return bus_ && sd_bus_is_open(bus_) > 0; }

std::string BusConnection::error() const {
  return openResult_ < 0 ? std::strerror(-openResult_) : std::string();
}

// Both let go of the pointer before sd-bus runs the destroy callbacks of the connection's slots,
// so that a callback finds no connection rather than a dying one.
void BusConnection::reset() {
  if (sd_bus* b = std::exchange(bus_, nullptr)) sd_bus_flush_close_unref(b);
}

void BusConnection::discard() {
  if (sd_bus* b = std::exchange(bus_, nullptr)) sd_bus_close_unref(b);
}

}  // namespace tw
