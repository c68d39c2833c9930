#pragma once
// The session description at the head of every event log file: ORVMetadata (this run's values,
// fixed at creation) and ORVCrashMetadata (the previous run's dictionary read back from disk),
// both behind ORVMetadataSerializable for the write operation. Immutable; any thread.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

class Tessaly;

class ORVMetadataSerializable {
 public:
  virtual ~ORVMetadataSerializable() = default;
  virtual std::string eventName() const = 0;
  virtual tw::Dictionary dictionaryRepresentationWithStartTime(std::uint64_t startTime) const = 0;
};

class ORVMetadata : public ORVMetadataSerializable {
 public:
  struct Fields {
    std::optional<std::string> APIKey;
    std::optional<std::string> betaToken;  // already unwrapped
    std::optional<std::string> buildVersion;
    std::optional<std::string> bundleIdentifier;
    std::optional<std::string> displayVersion;
    std::optional<std::string> executionIdentifier;
    std::optional<std::string> hostModel;
    std::optional<std::string> installationId;
    std::optional<std::string> instanceIdentifier;
    bool isJailbroken = false;
    std::optional<std::string> locale;
    std::uint32_t numberOfCores = 0;
    std::optional<std::string> OSBuildVersion;
    std::optional<std::string> OSDisplayVersion;
    std::string platform = "Mac";
  };

  explicit ORVMetadata(Fields fields) : f_(std::move(fields)) {}
  // Reads every source once: the kit platform's identifiers, the main bundle, the machine.
  // `instanceIdentifier` is the build's identifier from the kit platform's identifier model.
  ORVMetadata(Tessaly& tessaly, const std::optional<std::string>& betaToken,
              std::optional<std::string> instanceIdentifier);

  // "2:<token>" gives "<token>"; anything else gives nullopt.
  static std::optional<std::string> unwrapBetaToken(const std::optional<std::string>& token);
  static std::string currentLocaleIdentifier();
  std::int64_t platformCode() const { return 0; }
  bool computeIsJailbroken() const { return false; }
  std::string eventName() const override { return "metadata"; }
  tw::Dictionary dictionaryRepresentationWithStartTime(std::uint64_t startTime) const override;
  const Fields& fields() const { return f_; }

 private:
  Fields f_;
};

class ORVCrashMetadata : public ORVMetadataSerializable {
 public:
  explicit ORVCrashMetadata(tw::Dictionary raw) : raw_(std::move(raw)) {}
  // nullopt when the file cannot be read or does not hold a JSON object.
  static std::optional<tw::Dictionary> readSerializedDictionaryFromURL(
      const std::filesystem::path& url);
  // Compact JSON, written through a temporary file and rename.
  static bool writeSerializedDictionary(const tw::Dictionary& dictionary,
                                        const std::filesystem::path& url);
  std::string eventName() const override { return "metadata"; }
  tw::Dictionary dictionaryRepresentationWithStartTime(std::uint64_t) const override {
    return raw_;
  }
  const tw::Dictionary& rawMetadataDictionary() const { return raw_; }

 private:
  tw::Dictionary raw_;
};
