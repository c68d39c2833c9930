#include "core/Source/UserMessages/BTNotification.h"
