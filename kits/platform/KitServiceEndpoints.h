#pragma once
// The built-in base addresses of the kits' web service, used when neither the Info.plist's
// "Morvex" dictionary nor the environment names a service. They are loopback addresses on a
// privileged port that no ordinary process listens on, so a run of Tickwell sends no data off the
// machine unless its Info.plist configures a service: every request fails to connect and is
// handled as the failure it is. Constants only; any thread.

namespace tw::kitservice {

inline constexpr const char* kDefaultSettingsEndpoint = "https://127.0.0.1:1";
inline constexpr const char* kDefaultConfigureEndpoint = "https://127.0.0.1:1";
inline constexpr const char* kDefaultBetaEndpoint = "https://127.0.0.1:1";
inline constexpr const char* kDefaultReportsEndpoint = "https://127.0.0.1:1";
inline constexpr const char* kDefaultEventsURL = "https://127.0.0.1:1/spi/v2/events";

// The developer token every request carries in "X-Morvex-Developer-Token".
inline constexpr const char* kDeveloperToken = "6d1c9a4f0b2e8d7735a1c4e9f08b2d6a3e5c7f10";

}  // namespace tw::kitservice
