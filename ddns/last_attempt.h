#pragma once

// The service's last update attempt as its state key records it: when it was made, what came of
// it and whether the provider decided anything. Everything that describes the attempt reads it
// here, so that all of them agree.

#include <cstdint>
#include <string>
#include <string_view>

namespace quarnel {

enum class AttemptOutcome {
    None,           // nothing attempted yet
    Accepted,       // good, nochg
    TryLater,       // dnserr, 911: the provider asks to be asked again later
    Outage,         // no answer, or a page that is no verdict of the provider
    Refused,        // any other return code: nothing more is sent until the settings change
    NotConfigured,  // no user name: nothing was sent
};

struct LastAttempt {
    AttemptOutcome outcome = AttemptOutcome::None;
    std::int64_t time = 0;  // the attempt's time stamp (the unit of every Time value); 0: none
    int eventType = 0;      // as recorded: 4 information, 2 warning, 1 error
    std::uint32_t eventId = 0;
    std::string answer;   // as recorded; "!noanswer" when nothing came back
    std::string code;     // the answer's return code, lower-cased
    std::string address;  // the address the answer names, else the stored IP
    std::string message;  // what the answer means, in the user's language
    // A return code of the protocol came back, so the request reached the provider.
    bool reachedProvider = false;
    // False for a store of an older build, which is described from Time and Result.
    bool fromAttemptValues = false;
};

LastAttempt ReadLastAttempt();

// The same description of an attempt that is not read from the store (the service describes
// the outcome it has just recorded): its answer as recorded, event type and id, time stamp, and
// the address to name when the answer names none.
LastAttempt DescribeAttempt(std::string answer, int eventType, std::uint32_t eventId,
                            std::int64_t time, std::string_view address);

}  // namespace quarnel
