#include "kits/crash/symbols/MVXProcessReportOperation.h"

#include "kits/crash/capture/MVXFileReader.h"
#include "kits/crash/symbols/MVXDemangleOperation.h"
#include "kits/crash/symbols/MVXSerializeSymbolicatedFramesOperation.h"
#include "kits/crash/symbols/MVXSymbolicationOperation.h"

MVXProcessReportOperation::MVXProcessReportOperation(std::shared_ptr<MVXInternalReport> report,
                                                     std::shared_ptr<MVXSymbolResolver> resolver)
    : report_(std::move(report)), resolver_(std::move(resolver)) {}

std::string MVXProcessReportOperation::binaryImagePath() const {
  return report_ ? report_->binaryImagePath() : std::string();
}

std::optional<MVXThreadArray> MVXProcessReportOperation::threadArrayFromFile(
    const std::string& path) {
  const auto threads =
      MVXFileReadSections(path, false, [](const tw::Value& line) -> std::optional<tw::Value> {
        const tw::Value& value = line["threads"];
        if (value.isNull()) return std::nullopt;
        return value;
      });
  if (!threads || threads->empty()) return std::nullopt;
  const tw::Array* list = (*threads)[0].array();
  if (list == nullptr) return std::nullopt;
  MVXThreadArray array;
  array.reserve(list->size());
  for (const tw::Value& thread : *list) {
    std::vector<std::shared_ptr<MVXStackFrame>> frames;
    if (const tw::Array* stack = thread["stacktrace"].array()) {
      frames.reserve(stack->size());
      for (const tw::Value& address : *stack) {
        frames.push_back(MVXStackFrame::stackFrameWithAddress(address.unsignedValue()));
      }
    }
    array.push_back(std::move(frames));
  }
  return array;
}

bool MVXProcessReportOperation::symbolicateFile(
    const std::string& path, const std::shared_ptr<MVXSymbolResolver>& resolver) {
  auto threads = threadArrayFromFile(path);
  if (!threads) return false;
  auto symbolication = std::make_shared<MVXSymbolicationOperation>();
  symbolication->setThreadArray(*threads);
  symbolication->setSymbolResolver(resolver);
  auto demangle = std::make_shared<MVXDemangleOperation>();
  demangle->setThreadArray(*threads);
  auto serialize = std::make_shared<MVXSerializeSymbolicatedFramesOperation>();
  serialize->setThreadArray(*threads);
  serialize->setOutputPath(path + "." + "symbolicated");
  symbolication->start();
  demangle->start();
  serialize->start();
  return true;
}

void MVXProcessReportOperation::main() {
  if (!report_ || !resolver_) return;
  if (!resolver_->loadBinaryImagesFromFile(binaryImagePath())) return;
  report_->enumerateSymbolicatableFilesInContent(
      [this](const std::string& path) { symbolicateFile(path, resolver_); });
}
