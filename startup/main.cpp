#include <string>
#include <vector>

#include "startup/entry.h"

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    // The exit status carries the low 8 bits of the result; every code the program gives fits.
    return static_cast<int>(quarnel::RunProcess(arguments) & 0xFF);
}
