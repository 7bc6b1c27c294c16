#include <cstring>
#include <string>
#include <vector>

#include "platform/service_host.h"
#include "startup/entry.h"

int main(int argc, char** argv) {
    // Before anything else, and before any thread exists to inherit another mask: a reload or
    // stop that reaches a starting service must wait for the service host, not end the process.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "/service") == 0) {
            quarnel::BlockServiceHostSignals();
        }
    }
    std::vector<std::string> arguments(argv + 1, argv + argc);
    // The exit status carries the low 8 bits of the result; every code the program gives fits.
    return static_cast<int>(quarnel::RunProcess(arguments) & 0xFF);
}
