#pragma once

#include <map>
#include <string>

// A copy of the scriptable PKCS#11 test module (TestModule.cpp) under a file name of the
// test's choosing. The script and the counters live beside the copy, so that several copies
// behave and count independently.
class ScriptedModule {
public:
    // Copies the built module into `directory` as `fileName`; `withEntryPoint` false takes
    // the build that does not export C_GetFunctionList.
    ScriptedModule(const std::string& directory, const std::string& fileName,
                   bool withEntryPoint = true);

    // Full path of the copy.
    const std::string& path() const { return m_path; }
    // Replaces the script; it takes effect at the module's next load.
    void SetScript(const std::string& script) const;
    // A counter ("loads", "unloads", "calls.C_Xxx", ...), 0 when never counted.
    long Count(const std::string& key) const;
    // A recorded value ("last.C_OpenSession.slot", ...), empty when none.
    std::string Value(const std::string& key) const;
    std::map<std::string, std::string> Counters() const;
    void ResetCounters() const;

private:
    std::string m_path;
};

// The paths of the built helper objects.
std::string BuiltTestModule(bool withEntryPoint = true);
std::string BuiltUnresolvedModule();

// `count` copies of the escape for a zero byte, for scripts of texts made of NULs.
std::string NulBytes(int count);
