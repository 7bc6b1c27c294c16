#include "startup/entry.h"

int main(int argc, char** argv) {
    return quarnel::ProgramMain(argc, argv);
}
