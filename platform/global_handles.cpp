#include "platform/global_handles.h"

namespace quarnel {

GlobalHandles globalHandles;

}  // namespace quarnel
