#pragma once
// BTTestActionObject: marks an action that is only being tried out and was never stored (the
// editor's "Test" button); the executor gives its notifications no identifier. No members.
// Main thread only.

#include "core/Source/Model/BTActionObjectProtocol.h"

class BTTestActionObject : public virtual BTActionObjectProtocol {};
