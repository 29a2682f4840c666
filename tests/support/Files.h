// Whole-file reads for the tests.
#pragma once

#include <fstream>
#include <iterator>
#include <string>

namespace notavox::testing {

// The bytes of a file; empty when it cannot be read.
inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace notavox::testing
