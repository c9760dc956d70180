#include "manager/PendingCall.h"

#include <atomic>
#include <mutex>
#include <utility>

namespace {
std::atomic<const char*> g_pendingCall{nullptr};
std::mutex g_startLock;
ModuleStart g_start;

// Sets the module being started and returns the one it replaces.
ModuleStart ExchangeStart(ModuleStart start) {
    std::lock_guard<std::mutex> guard(g_startLock);
    std::swap(g_start, start);
    return start;
}
}  // namespace

const char* PendingModuleCall() {
    return g_pendingCall.load();
}

PendingCallScope::PendingCallScope(const char* name) : m_previous(g_pendingCall.exchange(name)) {}

PendingCallScope::~PendingCallScope() {
    g_pendingCall.store(m_previous);
}

ModuleStart StartingModule() {
    std::lock_guard<std::mutex> guard(g_startLock);
    return g_start;
}

StartingModuleScope::StartingModuleScope(const std::string& name)
    : m_previous(ExchangeStart({name, std::chrono::steady_clock::now()})) {}

StartingModuleScope::~StartingModuleScope() {
    ExchangeStart(std::move(m_previous));
}
