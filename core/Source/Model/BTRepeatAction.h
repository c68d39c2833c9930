#pragma once
// BTRepeatAction: the stored action of its kind; what it does and its value codes are told
// in BTRepeatActionProtocol.h. Owned by its store context; main thread only.

#include "core/Source/Model/BTActionObject.h"
#include "core/Source/Model/BTRepeatActionProtocol.h"

class BTRepeatAction : public BTActionObject, public virtual BTRepeatActionProtocol {};
