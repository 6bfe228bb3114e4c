// Packs a readable skin source into a ".skn" file:
//   cloakline_skinpack STYLE.qss STRINGS.txt OUT.skn
// STRINGS.txt holds name=text lines; empty lines and lines starting with "#"
// are left out.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "ui/KTSkinFile.h"

namespace {

bool ReadAll(const char* path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: cloakline_skinpack STYLE.qss STRINGS.txt OUT.skn\n";
        return 2;
    }
    cloakline::TSkinBundle bundle;
    std::string strings;
    if (!ReadAll(argv[1], bundle.StyleSheet) || !ReadAll(argv[2], strings)) {
        std::cerr << "cloakline_skinpack: cannot read the sources\n";
        return 1;
    }
    std::istringstream lines(strings);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (line.find('=') == std::string::npos || line.front() == '=') {
            std::cerr << "cloakline_skinpack: " << argv[2] << ": not a name=text line: " << line << "\n";
            return 1;
        }
        bundle.ResourceStrings.Add(line);
    }
    const std::string bytes = cloakline::EncodeSkinBundle(bundle);
    std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
    if (bytes.empty() || !out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
        std::cerr << "cloakline_skinpack: cannot write " << argv[3] << "\n";
        return 1;
    }
    return 0;
}
