#pragma once

// The product's fixed names.

namespace quarnel {

// The service's name, its event source and the name of its autostart entries.
inline constexpr const char* ServiceName = "Quarnel Updater";

}  // namespace quarnel
