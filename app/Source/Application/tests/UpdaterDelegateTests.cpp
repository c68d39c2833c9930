// UpdaterDelegate: one activity while the scheduler runs, its options from the two settings,
// replaced at once when either changes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Source/Application/UpdaterDelegate.h"
#include "core/Source/Settings/BTGeneralBundleSettingsImpl.h"
#include "core/Source/Settings/BTSettingsNotification.h"
#include "core/Source/Timing/BTUpdater.h"
#include "platform/foundation/Dispatch.h"

namespace {

class RecordingActivities : public tw::ProcessActivities {
 public:
  struct Token : Activity {
    explicit Token(int n) : number(n) {}
    int number;
  };
  ProcessActivities::Token beginActivity(std::uint64_t options,
                                         const std::string& reason) override {
    begun.push_back(options);
    reasons.push_back(reason);
    auto token = std::make_shared<Token>(static_cast<int>(begun.size()));
    live.push_back(token->number);
    return token;
  }
  void endActivity(const ProcessActivities::Token& token) override {
    auto* t = dynamic_cast<Token*>(token.get());
    ASSERT_NE(t, nullptr);
    ended.push_back(t->number);
    std::erase(live, t->number);
  }
  std::vector<std::uint64_t> begun;
  std::vector<std::string> reasons;
  std::vector<int> ended, live;
};

class GeneralSettingsProvider : public BTSettingsProvider {
 public:
  GeneralSettingsProvider() : general_(std::make_shared<BTGeneralBundleSettingsImpl>()) {
    general_->registerDefaults();
  }
  void registerDefaults() override {}
  void restoreDefaults() override {}
  void load() override {}
  void save() override {}
  std::shared_ptr<BTGeneralBundleSettingsImpl> generalBundle() const override { return general_; }
  void setGeneralBundle(std::shared_ptr<BTGeneralBundleSettingsImpl> b) override {
    general_ = std::move(b);
  }
  std::shared_ptr<BTMasterDetailsBundleSettingsImpl> masterDetailBundle() const override {
    return nullptr;
  }
  void setMasterDetailBundle(std::shared_ptr<BTMasterDetailsBundleSettingsImpl>) override {}
  std::shared_ptr<BTTimeObjectsBundleSettingsImpl> timeObjectsBundle() const override {
    return nullptr;
  }
  void setTimeObjectsBundle(std::shared_ptr<BTTimeObjectsBundleSettingsImpl>) override {}
  std::shared_ptr<BTActionObjectsBundleSettingsImpl> actionObjectsBundle() const override {
    return nullptr;
  }
  void setActionObjectsBundle(std::shared_ptr<BTActionObjectsBundleSettingsImpl>) override {}

 private:
  std::shared_ptr<BTGeneralBundleSettingsImpl> general_;
};

class UpdaterDelegateTest : public ::testing::Test {
 protected:
  UpdaterDelegateTest() {
    delegate_ = std::make_shared<UpdaterDelegate>(activities_);
    delegate_->setSettingsProvider(settings_);
  }
  void drain() { tw::RunLoop::main().drain(); }
  // What the settings screen does: set, announce the key, let the main queue deliver.
  void change(const char* key, bool value) {
    general().setValueForKey(tw::Value(value), key);
    general().notifySettingsChangedWithKeys(std::vector<std::string>{std::string(key)});
    drain();
  }
  BTGeneralBundleSettingsImpl& general() { return *settings_->generalBundle(); }

  std::shared_ptr<RecordingActivities> activities_ = std::make_shared<RecordingActivities>();
  std::shared_ptr<GeneralSettingsProvider> settings_ = std::make_shared<GeneralSettingsProvider>();
  std::shared_ptr<UpdaterDelegate> delegate_;
  BTUpdater updater_;
};

TEST_F(UpdaterDelegateTest, OptionsFollowBothSettings) {
  struct Case {
    bool system, display;
    std::uint64_t options;
  } cases[] = {{false, false, 0xFF00EFFFFF},
               {true, false, 0xFF00FFFFFF},
               {false, true, 0x1FF00EFFFFF},
               {true, true, 0x1FF00FFFFFF}};
  for (const auto& c : cases) {
    change("preventSystemSleep", c.system);
    change("preventDisplaySleep", c.display);
    delegate_->updaterDidBeginUpdating(updater_);
    delegate_->updaterDidStopUpdating(updater_);
    EXPECT_EQ(activities_->begun.back(), c.options) << c.system << c.display;
  }
  EXPECT_EQ(activities_->reasons.back(), "Updater is managing updaterable objects.");
  EXPECT_TRUE(activities_->live.empty());
  // Without settings the activity is still held, idle sleep allowed.
  delegate_->setSettingsProvider({});
  EXPECT_EQ(delegate_->activityOptions(), 0xFF00EFFFFFull);
}

TEST_F(UpdaterDelegateTest, HoldsOneActivityFromBeginToStop) {
  delegate_->updaterDidStopUpdating(updater_);  // nothing held: ignored
  delegate_->updaterDidBeginUpdating(updater_);
  delegate_->updaterDidBeginUpdating(updater_);
  EXPECT_EQ(activities_->begun.size(), 1u);
  EXPECT_TRUE(delegate_->isHoldingActivity());
  delegate_->updaterDidStopUpdating(updater_);
  delegate_->updaterDidStopUpdating(updater_);
  EXPECT_EQ(activities_->ended, std::vector<int>{1});
  EXPECT_FALSE(delegate_->isHoldingActivity());
}

TEST_F(UpdaterDelegateTest, SleepSettingChangeReplacesTheHeldActivityAtOnce) {
  change("preventSystemSleep", true);
  delegate_->updaterDidBeginUpdating(updater_);
  change("preventSystemSleep", false);
  ASSERT_EQ(activities_->begun.size(), 2u);
  EXPECT_EQ(activities_->ended, std::vector<int>{1});
  EXPECT_EQ(activities_->begun[1], 0xFF00EFFFFFull);
  EXPECT_EQ(activities_->live, std::vector<int>{2});

  // Straight from the handler: the replacement is made before it returns.
  general().setPreventDisplaySleep(true);
  tw::Notification changed{
      BTSettingsChangedNotification, nullptr,
      tw::Dictionary{{BTSettingKeysUserInfoKey, tw::Array{tw::Value("preventDisplaySleep")}}}};
  activities_->begun.clear();
  delegate_->settingsChanged(changed);
  EXPECT_EQ(activities_->begun, std::vector<std::uint64_t>{0x1FF00EFFFFFull});
  drain();
}

TEST_F(UpdaterDelegateTest, OtherSettingsAndIdleChangesStartNothing) {
  change("preventSystemSleep", false);  // idle: a change starts nothing
  EXPECT_TRUE(activities_->begun.empty());
  delegate_->updaterDidBeginUpdating(updater_);
  change("useMilitaryTime", true);
  EXPECT_EQ(activities_->begun.size(), 1u);
  EXPECT_TRUE(activities_->ended.empty());
}

TEST_F(UpdaterDelegateTest, NoCallbackAfterTheDelegateIsGone) {
  delegate_->updaterDidBeginUpdating(updater_);
  delegate_->updaterDidStopUpdating(updater_);
  delegate_.reset();
  change("preventSystemSleep", false);  // the observation went with the delegate
  EXPECT_EQ(activities_->begun.size(), 1u);
}

}  // namespace
