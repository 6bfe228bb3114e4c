#include "tests/support/TempDir.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace cloakline::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path p = fs::temp_directory_path() / ("cloakline-test-" + std::to_string(rd()));
        std::error_code ec;
        if (fs::create_directory(p, ec)) {
            FPath = p.string();
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests may leave folders read-only; make them writable again so that they can go.
    for (auto it = fs::recursive_directory_iterator(FPath, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(FPath, ec);
}

std::string TempDir::Sub(const std::string& relative) const {
    fs::path p = fs::path(FPath) / relative;
    fs::create_directories(p.parent_path());
    return p.string();
}

std::string TempDir::ProgramPath(const std::string& relative) const {
    return ToProgramForm(relative.empty() ? FPath : FPath + "/" + relative);
}

void TempDir::WriteFile(const std::string& relative, const std::string& bytes) const {
    std::ofstream out(Sub(relative), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + relative);
    }
}

std::string TempDir::ReadFile(const std::string& relative) const {
    std::ifstream in(fs::path(FPath) / relative, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool TempDir::Exists(const std::string& relative) const {
    return fs::exists(fs::path(FPath) / relative);
}

std::string ToProgramForm(const std::string& nativePath) {
    std::string s = nativePath;
    for (char& c : s) {
        if (c == '/') {
            c = '\\';
        }
    }
    return s;
}

}  // namespace cloakline::test
