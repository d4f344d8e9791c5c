// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/program_arguments.h"

std::vector<std::string> ProgramArguments(int argc, char** argv) { return {argv + 1, argv + argc}; }
