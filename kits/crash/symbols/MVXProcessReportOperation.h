#pragma once
// MVXProcessReportOperation: symbolicates one report directory (by then in "processing") before
// it is packaged: for each crash record file with thread stacks it writes the parallel
// ".symbolicated" file of names, offsets and libraries. The crash records are never changed.
// Run with start() on the caller's thread (the crash kit's work queue); one thread at a time.

#include <memory>
#include <optional>
#include <string>

#include "kits/crash/reports/MVXInternalReport.h"
#include "kits/crash/symbols/MVXStackFrame.h"
#include "kits/crash/symbols/MVXSymbolResolver.h"
#include "platform/foundation/OperationQueue.h"

class MVXProcessReportOperation : public tw::Operation {
 public:
  MVXProcessReportOperation(std::shared_ptr<MVXInternalReport> report,
                            std::shared_ptr<MVXSymbolResolver> resolver);

  std::string binaryImagePath() const;
  // The first "threads" line's stacks, one frame per recorded address; nullopt without one.
  static std::optional<MVXThreadArray> threadArrayFromFile(const std::string& path);
  bool symbolicateFile(const std::string& path, const std::shared_ptr<MVXSymbolResolver>& resolver);
  const std::shared_ptr<MVXSymbolResolver>& symbolResolver() const { return resolver_; }
  const std::shared_ptr<MVXInternalReport>& report() const { return report_; }

 protected:
  void main() override;

 private:
  std::shared_ptr<MVXInternalReport> report_;
  std::shared_ptr<MVXSymbolResolver> resolver_;
};
