// quintabel-pack: puts an application's bundle into a prebuilt Windows
// launcher, and checks bundles.
#pragma once

#include <string>
#include <vector>

// Runs the tool with Arguments (without the program name); messages go to
// Out and Errors. Gives the exit code: 0 done, 1 refused or failed, 2 wrong
// usage.
int RunPackTool(const std::vector<std::string>& Arguments, std::string& Out, std::string& Errors);
