#pragma once
// MVXSerializeSymbolicatedFramesOperation: writes a thread array's names as the ".symbolicated"
// record beside its crash file: one "threads" line, one array per thread, one object per frame.
// The record is written under the store's hidden temporary name in the same folder (locked while
// it is written) and renamed when complete, so a process killed mid-write never leaves a cut file
// under the final name; the next launch removes the leftover.
// Run with start() on the caller's thread; one thread at a time.

#include <string>

#include "kits/crash/symbols/MVXThreadArrayOperation.h"

class MVXSerializeSymbolicatedFramesOperation : public MVXThreadArrayOperation {
 public:
  const std::string& outputPath() const { return outputPath_; }
  void setOutputPath(std::string path) { outputPath_ = std::move(path); }

 protected:
  void main() override;

 private:
  std::string outputPath_;
};
