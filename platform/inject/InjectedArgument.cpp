#include "platform/inject/InjectedArgument.h"

#include "platform/foundation/Exception.h"
#include "platform/foundation/TypeName.h"

namespace tw {

void InjectedArgument::raiseMismatch(const std::type_info& expected) const {
  raise(NSInternalInconsistencyException,
        "<TyphoonComponentFactory> " + description_ + " expects " + demangledTypeName(expected) +
            " but the injected component is a " + component_->className());
}
}  // namespace tw
