#include "kits/crash/symbols/MVXStackFrame.h"

#include <cstdio>

#include "platform/foundation/Format.h"

std::shared_ptr<MVXStackFrame> MVXStackFrame::stackFrame() {
  return std::make_shared<MVXStackFrame>();
}

std::shared_ptr<MVXStackFrame> MVXStackFrame::stackFrameWithAddress(std::uint64_t address) {
  auto frame = stackFrame();
  frame->address_ = address;
  return frame;
}

std::shared_ptr<MVXStackFrame> MVXStackFrame::stackFrameWithSymbol(const std::string& symbol) {
  auto frame = stackFrame();
  frame->symbol_ = symbol;
  frame->rawSymbol_ = symbol;
  return frame;
}

std::string MVXStackFrame::description() const {
  const std::string symbol = symbol_.value_or("(null)");
  char address[24];
  std::snprintf(address, sizeof address, "0x%llx", static_cast<unsigned long long>(address_));
  if (fileName_) return tw::format("{[%s] %@ - %@:%u}", address, *fileName_, symbol, lineNumber_);
  return tw::format("{[%s + %u] %@}", address, lineNumber_, symbol);
}
