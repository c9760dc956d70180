#include "manager/PendingCall.h"

#include <atomic>

namespace {
std::atomic<const char*> g_pendingCall{nullptr};
}  // namespace

const char* PendingModuleCall() {
    return g_pendingCall.load();
}

PendingCallScope::PendingCallScope(const char* name) : m_previous(g_pendingCall.exchange(name)) {}

PendingCallScope::~PendingCallScope() {
    g_pendingCall.store(m_previous);
}
