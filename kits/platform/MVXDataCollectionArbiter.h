#pragma once
// MVXDataCollectionArbiter: whether the kits may collect data at all. A choice stored in the kit
// defaults store ("com.morvex.data_collection": 1 on, 2 off) outlives the run and outranks the
// Info.plist switch, which outranks the outside analytics platform's default (MVXEBNApp).
// MVXEBNApp asks that platform, when present, for its data-collection default.
// Class methods only; any thread.

class MVXDataCollectionArbiter {
 public:
  MVXDataCollectionArbiter() = delete;
  // Info.plist "emberlyn_morvex_collection_enabled" as a boolean; YES when absent.
  static bool isLegacyPlistMorvexCollectionEnabled();
  static bool isMorvexCollectionEnabled();
  // Stores the choice and writes the store at once.
  static void setMorvexCollectionEnabled(bool enabled);
  // 0 not set, 1 enabled, 2 disabled.
  static long stickySetting();
};

class MVXEBNApp {
 public:
  MVXEBNApp() = delete;
  // The outside platform's default; YES without the platform, its default app or the answer.
  static bool isDataCollectionDefaultEnabled();
};
