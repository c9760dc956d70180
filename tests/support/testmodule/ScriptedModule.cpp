#include "testmodule/ScriptedModule.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "support/TempDir.h"

std::string BuiltTestModule(bool withEntryPoint) {
    return withEntryPoint ? LUMIDOR_TEST_MODULE : LUMIDOR_TEST_MODULE_WITHOUT_ENTRY;
}

std::string BuiltUnresolvedModule() {
    return LUMIDOR_TEST_MODULE_UNRESOLVED;
}

std::string NulBytes(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += "\\x00";
    }
    return text;
}

ScriptedModule::ScriptedModule(const std::string& directory, const std::string& fileName,
                               bool withEntryPoint)
    : m_path((std::filesystem::path(directory) / fileName).string()) {
    // A copy, never a link: the dynamic linker takes links to one file for one module.
    std::filesystem::copy_file(BuiltTestModule(withEntryPoint), m_path,
                               std::filesystem::copy_options::overwrite_existing);
    ResetCounters();
}

void ScriptedModule::SetScript(const std::string& script) const {
    WriteFile(m_path + ".script", script);
}

std::map<std::string, std::string> ScriptedModule::Counters() const {
    std::map<std::string, std::string> counters;
    std::ifstream in(m_path + ".counts", std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        std::size_t equals = line.find('=');
        if (equals != std::string::npos) {
            counters[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    return counters;
}

long ScriptedModule::Count(const std::string& key) const {
    std::string value = Value(key);
    return value.empty() ? 0 : std::stol(value);
}

std::string ScriptedModule::Value(const std::string& key) const {
    std::map<std::string, std::string> counters = Counters();
    auto found = counters.find(key);
    return found == counters.end() ? std::string() : found->second;
}

void ScriptedModule::ResetCounters() const {
    std::error_code ignored;
    std::filesystem::remove(m_path + ".counts", ignored);
}
