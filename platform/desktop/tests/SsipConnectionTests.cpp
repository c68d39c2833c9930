// What the speech client puts on the wire and where it looks for the daemon.

#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/desktop/SsipConnection.h"

namespace tw {
namespace {

TEST(SsipText, LineEndsBecomeCrLfLeadingDotsAreDoubledAndTheDotLineCloses) {
  EXPECT_EQ(SsipConnection::encodeText("Tea is ready."), "Tea is ready.\r\n.\r\n");
  // A line of its own holding a dot would otherwise end the text early.
  EXPECT_EQ(SsipConnection::encodeText(".\n.5 minutes\r\nleft\r..."),
            "..\r\n..5 minutes\r\nleft\r\n....\r\n.\r\n");
  EXPECT_EQ(SsipConnection::encodeText(""), "\r\n.\r\n");
}

class SsipAddress : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* v = ::getenv("SPEECHD_ADDRESS")) saved_ = v;
  }
  void TearDown() override {
    if (saved_)
      ::setenv("SPEECHD_ADDRESS", saved_->c_str(), 1);
    else
      ::unsetenv("SPEECHD_ADDRESS");
  }
  std::optional<std::string> saved_;
};

TEST_F(SsipAddress, GivenPathThenEnvironmentThenRuntimeFolder) {
  std::string error;
  ::setenv("SPEECHD_ADDRESS", "unix_socket:/run/other.sock", 1);
  EXPECT_EQ(SsipConnection::resolveAddress(std::string("/tmp/a.sock"), error)->socketPath,
            "/tmp/a.sock");
  EXPECT_EQ(SsipConnection::resolveAddress(std::nullopt, error)->socketPath, "/run/other.sock");

  ::setenv("SPEECHD_ADDRESS", "inet_socket:localhost:7000", 1);
  auto inet = SsipConnection::resolveAddress(std::nullopt, error);
  ASSERT_TRUE(inet && inet->isInet());
  EXPECT_EQ(inet->host, "localhost");
  EXPECT_EQ(inet->port, 7000);

  for (const char* bad : {"inet_socket:localhost:99999", "dbus:session"}) {
    ::setenv("SPEECHD_ADDRESS", bad, 1);
    error.clear();
    EXPECT_FALSE(SsipConnection::resolveAddress(std::nullopt, error)) << bad;
    EXPECT_NE(error.find(bad), std::string::npos) << error;
  }

  ::unsetenv("SPEECHD_ADDRESS");
  const auto fallback = SsipConnection::resolveAddress(std::nullopt, error);
  ASSERT_TRUE(fallback);
  EXPECT_TRUE(fallback->socketPath.ends_with("/speech-dispatcher/speechd.sock"))
      << fallback->socketPath;
}

}  // namespace
}  // namespace tw
