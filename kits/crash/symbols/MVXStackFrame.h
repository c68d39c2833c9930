#pragma once
// MVXStackFrame: one frame of a recorded thread while a report is symbolicated: its address and
// what the symbol resolver and the demangler find for it. Shared (shared_ptr) by the operations
// that symbolicate, demangle and write one record file; used by one thread at a time.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class MVXStackFrame {
 public:
  static std::shared_ptr<MVXStackFrame> stackFrame();
  static std::shared_ptr<MVXStackFrame> stackFrameWithAddress(std::uint64_t address);
  // Sets both the symbol and the raw symbol.
  static std::shared_ptr<MVXStackFrame> stackFrameWithSymbol(const std::string& symbol);

  std::string description() const;

  const std::optional<std::string>& symbol() const { return symbol_; }
  void setSymbol(std::optional<std::string> symbol) { symbol_ = std::move(symbol); }
  const std::optional<std::string>& rawSymbol() const { return rawSymbol_; }
  void setRawSymbol(std::optional<std::string> symbol) { rawSymbol_ = std::move(symbol); }
  const std::optional<std::string>& library() const { return library_; }
  void setLibrary(std::optional<std::string> library) { library_ = std::move(library); }
  const std::optional<std::string>& fileName() const { return fileName_; }
  void setFileName(std::optional<std::string> fileName) { fileName_ = std::move(fileName); }
  std::uint32_t lineNumber() const { return lineNumber_; }
  void setLineNumber(std::uint32_t line) { lineNumber_ = line; }
  std::uint64_t offset() const { return offset_; }
  void setOffset(std::uint64_t offset) { offset_ = offset; }
  std::uint64_t address() const { return address_; }
  void setAddress(std::uint64_t address) { address_ = address; }

 private:
  std::optional<std::string> symbol_;
  std::optional<std::string> rawSymbol_;
  std::optional<std::string> library_;
  std::optional<std::string> fileName_;
  std::uint32_t lineNumber_ = 0;
  std::uint64_t offset_ = 0;
  std::uint64_t address_ = 0;
};

// One array of frames per recorded thread, in the file's order.
using MVXThreadArray = std::vector<std::vector<std::shared_ptr<MVXStackFrame>>>;
