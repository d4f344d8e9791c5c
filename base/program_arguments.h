// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A program's arguments as the station's text: UTF-8 on every system.

#include <string>
#include <vector>

/// The command line's arguments after the program's name, in UTF-8 (Windows hands `main` them in
/// the ANSI code page, which cannot hold every site or file name).
std::vector<std::string> ProgramArguments(int argc, char** argv);
