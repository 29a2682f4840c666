// Where the program finds the note model without any configuration: beside
// its executable (the build copies it there), in ../share/notavox next to the
// executable's folder (an installed program), or in the installation's
// share/notavox.
#pragma once

#include <string>
#include <vector>

namespace notavox::recognition {

constexpr const char* kModelFileName = "notes.nvm";

// The places looked at, in order.
std::vector<std::string> ModelSearchPaths();
// The first of them that exists, or "" when none does.
std::string FindModelFile();

}  // namespace notavox::recognition
