#include "settings/schema.h"

#include "platform/clock.h"
#include "settings/registry.h"

namespace quarnel {

std::string ClientIdentityKey() {
    return "CLSID\\" + GuidToString(kClientIdentityGuid);
}

std::int64_t CurrentTimeStamp() {
    return LocalClockSeconds();
}

int WriteTimeStamp(RegistryHive hive, std::string_view keyPath, std::string_view valueName,
                   std::int64_t seconds) {
    return WriteRegistryDword(hive, keyPath, valueName, seconds);
}

std::int64_t ReadTimeStamp(RegistryHive hive, std::string_view keyPath,
                           std::string_view valueName) {
    // Unsigned, so that stamps after January 2038 still count forward.
    return static_cast<std::uint32_t>(ReadRegistryDword(hive, keyPath, valueName));
}

}  // namespace quarnel
