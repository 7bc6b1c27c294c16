#include "platform/helper_call_frames.h"

namespace quarnel {

std::string HelperFrame(char kind, std::string_view payload) {
    std::string frame;
    frame.reserve(kHelperFrameHeadSize + payload.size());
    frame.push_back(kind);
    const auto length = static_cast<std::uint32_t>(payload.size());
    for (int shift = 0; shift < 32; shift += 8) {
        frame.push_back(static_cast<char>((length >> shift) & 0xFF));
    }
    frame.append(payload);
    return frame;
}

HelperFrameHead ReadHelperFrameHead(std::string_view bytes) {
    HelperFrameHead head;
    head.kind = bytes[0];
    for (int index = 0; index < 4; ++index) {
        head.length |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[1 + index]))
                       << (8 * index);
    }
    return head;
}

}  // namespace quarnel
