#pragma once
// BTRepeatActionProtocol: runs its own time object again. No members: the
// kind is the whole of it.
// Adopted by the stored BTRepeatAction and by the action builders; main thread only. See
// BTActionObjectProtocol.h for the naming and the rule on telling kinds apart.

#include "core/Source/Model/BTActionObjectProtocol.h"

class BTRepeatActionProtocol : public virtual BTActionObjectProtocol {};
