#pragma once

// Running the real program with something on its standard input: text from a file, or a
// pseudo-terminal on which a test answers the program's prompts one by one.

#include <map>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace quarnel::test {

// Standard input reads input; standard output and error are captured together.
ProgramResult RunProgramWithInput(const std::vector<std::string>& arguments,
                                  const std::map<std::string, std::string>& environment,
                                  const std::string& input, int timeoutSeconds = 30);

// One prompt and the line typed when it appears.
struct TerminalAnswer {
    std::string prompt;  // text the program's output must show (since the last answer)
    std::string answer;  // typed with a line feed after it
};

// Runs the program with a pseudo-terminal as its standard input and output. Each answer is
// typed only once its prompt has appeared; output is everything the terminal showed, so typed
// text appears in it only where the program let the terminal echo it.
ProgramResult RunProgramOnTerminal(const std::vector<std::string>& arguments,
                                   const std::map<std::string, std::string>& environment,
                                   const std::vector<TerminalAnswer>& answers,
                                   int timeoutSeconds = 30);

}  // namespace quarnel::test
