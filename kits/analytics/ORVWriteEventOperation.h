#pragma once
// ORVWriteEventOperation: appends one event (and, for a new file, the metadata line first) to an
// event log file. Lines are formatted when the operation is made, on the kit's serial event
// queue, and written when it runs there; one open, one or two appends and one close per event.
// A failed append is cut back to the file's previous length, so no file ends in a partial line.
#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "kits/analytics/ORVEvent.h"
#include "kits/analytics/ORVMetadata.h"
#include "platform/foundation/OperationQueue.h"

class ORVWriteEventOperation : public tw::Operation {
 public:
  // `formattedEvent`: the event's line when the caller made it already (for its journal).
  ORVWriteEventOperation(std::shared_ptr<const ORVEvent> event,
                         std::shared_ptr<const ORVMetadataSerializable> metadata,
                         std::filesystem::path logFileUrl,
                         std::optional<std::string> formattedEvent = std::nullopt);
  // Runs at the end of main, whatever the outcome, before the queue moves on.
  void setWrittenBlock(std::function<void()> block) { writtenBlock_ = std::move(block); }

  void main() override;
  bool writeDataToDescriptor(int fd, bool preexistingFile);
  bool appendLogLine(const std::string& line, int fd);
  static std::optional<std::string> generateFormattedLogLineWithEvent(const ORVEvent& event);
  static std::optional<std::string> generateFormattedLogLineWithMetdata(
      const ORVMetadataSerializable& metadata, tw::Date timestamp);
  // "<ms>\t<name>\t<payload bytes>\t<compact JSON>" without the line feed.
  static std::optional<std::string> logLineWithTimestamp(
      tw::Date timestamp, const std::string& eventName,
      const std::optional<tw::Dictionary>& payloadDictionary);

  const std::shared_ptr<const ORVEvent>& event() const { return event_; }
  const std::shared_ptr<const ORVMetadataSerializable>& metadata() const { return metadata_; }
  const std::filesystem::path& logFileUrl() const { return logFileUrl_; }
  bool success() const { return success_; }
  const std::optional<std::string>& formattedEvent() const { return formattedEvent_; }
  const std::optional<std::string>& formattedMetadata() const { return formattedMetadata_; }

 private:
  void write();
  std::shared_ptr<const ORVEvent> event_;
  std::shared_ptr<const ORVMetadataSerializable> metadata_;
  std::filesystem::path logFileUrl_;
  bool success_ = false;
  std::optional<std::string> formattedEvent_;
  std::optional<std::string> formattedMetadata_;
  std::function<void()> writtenBlock_;
  off_t knownLength_ = -1;  // the file's length when main opened it; -1 when unknown
};
