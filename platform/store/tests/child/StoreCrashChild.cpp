// The saving child of the store's crash recovery test: saves for ever, and after each save
// returns writes the save's sequence number to descriptor 3, until it is killed.
//   store_crash_child <store-path>
// Each save bumps the counter, adds one stopwatch (the oldest goes once there are enough) and
// stamps every stopwatch with the save's number, so a store holding rows of two saves shows.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/foundation/Dispatch.h"
#include "platform/store/Context.h"
#include "platform/store/tests/StoreTestModel.h"

namespace {

constexpr int kItems = 12;
constexpr int kReportFd = 3;

}  // namespace

int main(int argc, char** argv) {
  using namespace tw::store::test;
  if (argc != 2) {
    std::fprintf(stderr, "usage: store_crash_child <store-path>\n");
    return 2;
  }
  tw::RunLoop::main();
  auto context = tw::store::Context::open(testModel(), argv[1]);
  auto counters = context->fetch(tw::store::FetchRequest("TMCounter"));
  auto counter = counters.empty() ? context->insertNewObject("TMCounter") : counters[0];
  std::int64_t seq = counter->int64ForKey("value");
  for (;;) {
    ++seq;
    const tw::Value number(static_cast<long long>(seq));
    counter->setValueForKey(number, "value");
    auto fresh = context->insertNew<TMStopwatch>();
    fresh->setValueForKey(std::string(200, 'x'), "title");
    auto all = context->findAll<TMStopwatch>("creationDate");
    if (all.size() > static_cast<std::size_t>(kItems)) context->deleteObject(all.front());
    for (auto& o : context->findAll<TMStopwatch>()) o->setValueForKey(number, "sortOrder");
    if (context->save()) std::_Exit(3);
    if (::write(kReportFd, &seq, sizeof seq) != sizeof seq) std::_Exit(4);
    tw::RunLoop::main().drain();
  }
}
