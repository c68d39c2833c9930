#include "app/drawing/GraphicsContext.h"

namespace tw {
namespace {
thread_local GraphicsContext* currentContext = nullptr;
}  // namespace

GraphicsContext* GraphicsContext::current() { return currentContext; }

GraphicsContext::Scope::Scope(GraphicsContext& context) : previous_(currentContext) {
  currentContext = &context;
}

GraphicsContext::Scope::~Scope() { currentContext = previous_; }

}  // namespace tw
