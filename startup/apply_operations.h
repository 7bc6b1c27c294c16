#pragma once

// The operations the settings apply step uses, as this build provides them.

#include "settings/apply.h"

namespace quarnel {

ApplyOperations DefaultApplyOperations();

}  // namespace quarnel
