#include <gtest/gtest.h>

#include <string>

#include "core/Source/Library/BTTypeChecks.h"
#include "core/Source/Library/Proxying/BTProxy.h"
#include "core/Source/Library/Proxying/Protocol.h"
#include "platform/foundation/Exception.h"
#include "platform/testsupport/TestSupport.h"

// Protocols of a made-up action family: two kinds that share a titled base.
class ProxyTestTitled {
 public:
  virtual ~ProxyTestTitled() = default;
  virtual std::string title() const = 0;
};
TW_PROTOCOL(ProxyTestTitled, {&tw::rootProtocol()}, {"title", "setTitle:"})

class ProxyTestSoundKind : public virtual ProxyTestTitled {
 public:
  virtual std::string soundName() const = 0;
};
TW_PROTOCOL(ProxyTestSoundKind, {&tw::protocolOf<ProxyTestTitled>()}, {"soundName"}, {"volume"})

class ProxyTestFlashKind : public virtual ProxyTestTitled {
 public:
  virtual std::int64_t color() const = 0;
};
TW_PROTOCOL(ProxyTestFlashKind, {&tw::protocolOf<ProxyTestTitled>()}, {"color", "setColor:"})

// Adopts nothing, not even the root.
class ProxyTestBare {
 public:
  virtual ~ProxyTestBare() = default;
  virtual int ping() = 0;
};
TW_PROTOCOL(ProxyTestBare, {}, {"ping"})

namespace {

// A builder that can be any kind: what an editor must not see all of.
class Builder : public tw::Object, public ProxyTestSoundKind, public ProxyTestFlashKind {
 public:
  std::string title() const override { return title_; }
  std::string soundName() const override { return "Glass"; }
  std::int64_t color() const override { return color_; }

 protected:
  bool getValueForKey(std::string_view key, tw::Value& out) const override {
    if (key == "title") return out = title_, true;
    if (key == "soundName") return out = "Glass", true;
    if (key == "color") return out = color_, true;
    if (key == "secret") return out = 42, true;
    return tw::Object::getValueForKey(key, out);
  }
  bool setValueForKeyImpl(std::string_view key, const tw::Value& v) override {
    if (key == "title") return title_ = v.description(), true;
    if (key == "color") return color_ = v.integerValue(), true;
    if (key == "soundName" || key == "secret") return true;
    return tw::Object::setValueForKeyImpl(key, v);
  }

 private:
  std::string title_ = "Alert";
  std::int64_t color_ = -1;
};

class Pinger : public tw::Object, public ProxyTestBare {
 public:
  int ping() override { return 7; }
};

using tw::test::exceptionOf;

TEST(Proxy, ExposesOnlyItsProtocolAndWhatItAdopts) {
  auto builder = std::make_shared<Builder>();
  auto proxy = BTProxy::proxyWithTarget<ProxyTestSoundKind>(builder);

  EXPECT_TRUE(proxy->conformsTo(tw::protocolOf<ProxyTestSoundKind>()));
  EXPECT_TRUE(proxy->conformsTo(tw::protocolOf<ProxyTestTitled>()));
  EXPECT_TRUE(proxy->conformsTo(tw::rootProtocol()));  // adopted through ProxyTestTitled
  EXPECT_FALSE(proxy->conformsTo(tw::protocolOf<ProxyTestFlashKind>()));  // hidden, though the
  EXPECT_TRUE(tw::conformsTo<ProxyTestFlashKind>(builder.get()));         // target has it

  ASSERT_NE(proxy->as<ProxyTestSoundKind>(), nullptr);
  EXPECT_EQ(proxy->as<ProxyTestSoundKind>()->soundName(), "Glass");
  EXPECT_EQ(proxy->as<ProxyTestTitled>()->title(), "Alert");
  EXPECT_EQ(proxy->as<ProxyTestFlashKind>(), nullptr);

  EXPECT_TRUE(proxy->respondsToSelector("soundName"));
  EXPECT_TRUE(proxy->respondsToSelector("volume"));    // optional methods count
  EXPECT_TRUE(proxy->respondsToSelector("isEqual:"));  // from the root
  EXPECT_FALSE(proxy->respondsToSelector("color"));
}

TEST(Proxy, KindsAreToldApartByInterfaceForProxiesAndObjectsAlike) {
  auto builder = std::make_shared<Builder>();
  std::shared_ptr<tw::Object> asFlash = BTProxy::proxyWithTarget<ProxyTestFlashKind>(builder);
  std::shared_ptr<tw::Object> asSound = BTProxy::proxyWithTarget<ProxyTestSoundKind>(builder);

  EXPECT_TRUE(tw::conformsTo<ProxyTestFlashKind>(asFlash));
  EXPECT_FALSE(tw::conformsTo<ProxyTestSoundKind>(asFlash));
  EXPECT_TRUE(tw::conformsTo<ProxyTestSoundKind>(asSound));
  EXPECT_EQ(tw::interfaceOf<ProxyTestFlashKind>(asFlash)->color(), -1);
  EXPECT_EQ(tw::interfaceOf<ProxyTestFlashKind>(asSound), nullptr);
  EXPECT_NE(tw::interfaceOf<ProxyTestFlashKind>(std::shared_ptr<tw::Object>(builder)), nullptr);

  // The interface handed out keeps the target alive like the target itself would.
  auto flash = tw::interfaceOf<ProxyTestFlashKind>(asFlash);
  builder.reset();
  asFlash.reset();
  asSound.reset();
  EXPECT_EQ(flash->title(), "Alert");

  // A proxy of a proxy cannot widen what the inner one lets through.
  auto inner = BTProxy::proxyWithTarget<ProxyTestSoundKind>(std::make_shared<Builder>());
  auto outer = BTProxy::proxyWithTarget<ProxyTestTitled>(inner);
  EXPECT_EQ(outer->as<ProxyTestSoundKind>(), nullptr);
  EXPECT_EQ(outer->as<ProxyTestTitled>()->title(), "Alert");
  EXPECT_EQ(exceptionOf([&] { BTProxy::proxyWithTarget<ProxyTestFlashKind>(inner); }),
            "NSInternalInconsistencyException: `object` (<BTProxy>) does not conform to protocol "
            "`ProxyTestFlashKind`");
}

TEST(Proxy, KeyValueCodingPassesOnlyTheProtocolsKeys) {
  auto builder = std::make_shared<Builder>();
  auto proxy = BTProxy::proxyWithTarget<ProxyTestFlashKind>(builder);
  EXPECT_EQ(proxy->valueForKey("color"), tw::Value(-1));
  proxy->setValueForKey(tw::Value(0x00FF00), "color");
  proxy->setValueForKey(tw::Value("Flash"), "title");
  EXPECT_EQ(builder->color(), 0x00FF00);
  EXPECT_EQ(builder->title(), "Flash");

  EXPECT_THROW(proxy->valueForKey("secret"), tw::Exception);
  EXPECT_THROW(proxy->valueForKey("soundName"), tw::Exception);
  auto sound = BTProxy::proxyWithTarget<ProxyTestSoundKind>(builder);
  EXPECT_EQ(sound->valueForKey("soundName"), tw::Value("Glass"));
  // Readable but not settable: the protocol lists no setter.
  EXPECT_EQ(exceptionOf([&] {
              sound->setValueForKey(tw::Value("Ping"), "soundName");
            }).rfind("NSUnknownKeyException", 0),
            0u);
}

TEST(Proxy, ARootlessProtocolHidesTheRootToo) {
  auto proxy = BTProxy::proxyWithTarget<ProxyTestBare>(std::make_shared<Pinger>());
  EXPECT_FALSE(proxy->conformsTo(tw::rootProtocol()));
  EXPECT_EQ(proxy->as<ProxyTestBare>()->ping(), 7);
  EXPECT_EQ(proxy->selectorNames(), (std::set<std::string, std::less<>>{"ping"}));
}

TEST(Proxy, CreationChecksItsArguments) {
  auto builder = std::make_shared<Builder>();
  EXPECT_EQ(
      exceptionOf([&] { BTProxy::proxyWithTarget(nullptr, &tw::protocolOf<ProxyTestTitled>()); }),
      "NSInternalInconsistencyException: Invalid parameter not satisfying: target");
  EXPECT_EQ(exceptionOf([&] { BTProxy::proxyWithTarget(builder, nullptr); }),
            "NSInternalInconsistencyException: Invalid parameter not satisfying: protocol");
  EXPECT_EQ(exceptionOf([&] { BTProxy::proxyWithTarget<ProxyTestBare>(builder); }),
            "NSInternalInconsistencyException: `object` (<Builder>) does not conform to protocol "
            "`ProxyTestBare`");
}

TEST(Protocols, AreRegisteredByNameWithTheirAdoptedProtocols) {
  const tw::Protocol* sound = tw::Protocol::named("ProxyTestSoundKind");
  ASSERT_EQ(sound, &tw::protocolOf<ProxyTestSoundKind>());
  EXPECT_EQ(tw::Protocol::named("NSObject"), &tw::rootProtocol());
  EXPECT_EQ(tw::Protocol::named("NoSuchProtocol"), nullptr);
  EXPECT_TRUE(sound->includes(tw::rootProtocol()));
  EXPECT_FALSE(tw::protocolOf<ProxyTestTitled>().includes(*sound));
  auto names = sound->allMethodNames();
  ASSERT_GE(names.size(), 5u);
  EXPECT_EQ((std::vector<std::string>(names.begin(), names.begin() + 4)),
            (std::vector<std::string>{"soundName", "volume", "title", "setTitle:"}));
}

}  // namespace
