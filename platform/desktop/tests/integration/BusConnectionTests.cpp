// The owning bus connection against the tests' own message buses: which bus it opens, what a
// failed open tells, and that moves leave exactly one owner. Under the address sanitizer a
// connection released twice aborts and one never released is reported as a leak.
#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

#include <string>
#include <utility>

#include "platform/desktop/BusConnection.h"
#include "platform/desktop/tests/integration/PrivateSessionBus.h"

namespace tw {
namespace {

using Bus = BusConnection::Bus;

class BusConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!systemBus_.ok() || !sessionBus_.ok()) GTEST_SKIP() << "no private message bus";
  }

  static std::string addressOf(const BusConnection& c) {
    const char* address = nullptr;
    return c && sd_bus_get_address(c.get(), &address) >= 0 && address ? address : "";
  }

  // Whether the connection still carries calls.
  static bool answers(const BusConnection& c) {
    BusError error;
    BusMessage reply;
    return sd_bus_call_method(c.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                              "org.freedesktop.DBus", "GetId", error.get(), reply.out(), "") >= 0;
  }

  // Made first, before the session bus takes over DBUS_SESSION_BUS_ADDRESS.
  test::PrivateSessionBus systemBus_;
  test::ScopedSystemBusAddress systemAddress_{systemBus_.address()};
  test::PrivateSessionBus sessionBus_;
};

TEST_F(BusConnectionTest, OpensTheBusTheEnvironmentNamesAndSaysWhyWhenItCannot) {
  const BusConnection session = BusConnection::open(Bus::Session);
  ASSERT_TRUE(session) << session.error();
  EXPECT_TRUE(session.isOpen());
  EXPECT_EQ(session.openResult(), 0);
  EXPECT_EQ(session.error(), "");
  EXPECT_EQ(addressOf(session), sessionBus_.address());

  const BusConnection system = BusConnection::open(Bus::System);
  ASSERT_TRUE(system) << system.error();
  EXPECT_EQ(addressOf(system), systemBus_.address());

  test::ScopedSystemBusAddress nowhere("unix:path=" + systemBus_.address().substr(10) + ".absent");
  BusConnection failed = BusConnection::open(Bus::System);
  EXPECT_FALSE(failed);
  EXPECT_EQ(failed.get(), nullptr);
  EXPECT_FALSE(failed.isOpen());
  EXPECT_LT(failed.openResult(), 0);
  EXPECT_NE(failed.error(), "");
  // The reason goes along with a move, and ending a connection that never opened is harmless.
  const std::string why = failed.error();
  BusConnection moved(std::move(failed));
  EXPECT_EQ(moved.error(), why);
  moved.reset();
  moved.discard();
}

TEST_F(BusConnectionTest, MovesLeaveOneOwnerThatStillCarriesCalls) {
  BusConnection first = BusConnection::open(Bus::Session);
  ASSERT_TRUE(first);
  sd_bus* const raw = first.get();

  BusConnection second(std::move(first));
  EXPECT_FALSE(first);  // NOLINT(bugprone-use-after-move): a moved-from one holds nothing
  EXPECT_EQ(second.get(), raw);

  // Taking over ends the connection held before.
  BusConnection third = BusConnection::open(Bus::Session);
  ASSERT_TRUE(third);
  third = std::move(second);
  EXPECT_FALSE(second);  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(third.get(), raw);

  BusConnection& same = third;
  third = std::move(same);
  EXPECT_EQ(third.get(), raw);
  EXPECT_TRUE(answers(third));

  // Ending a moved-from one releases nothing; the owner still works.
  first.reset();     // NOLINT(bugprone-use-after-move)
  second.discard();  // NOLINT(bugprone-use-after-move)
  EXPECT_TRUE(answers(third));

  third.discard();
  EXPECT_FALSE(third);
  third.reset();
}

}  // namespace
}  // namespace tw
