#include "core/Source/Actions/UserMessages/BTNotification.h"
