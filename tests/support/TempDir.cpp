#include "TempDir.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

// Through std::filesystem alone, so that the Windows build has it too: a random name, and
// create_directory refusing one that exists, in place of mkdtemp.
TempDir::TempDir() {
    std::error_code ignored;
    m_previous = std::filesystem::current_path(ignored).string();
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "lumidor-test-%08x", static_cast<unsigned>(random()));
        if (std::filesystem::create_directory(base / name)) {
            m_path = (base / name).string();
            std::filesystem::current_path(m_path);
            return;
        }
    }
    throw std::runtime_error("no free temporary directory name in " + base.string());
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (!m_previous.empty()) {
        std::filesystem::current_path(m_previous, ignored);
    }
    std::filesystem::remove_all(m_path, ignored);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}
