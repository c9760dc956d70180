#include "platform/WaitableNotice.h"

#include <windows.h>

#include <system_error>

// A manual-reset event: it stays signalled while a post is pending, as the eventfd reads as
// ready, and only Take resets it. An auto-reset event would not do: the event loop's wait on it
// would take the post before Take could see it.
struct WaitableNotice::System {
    HANDLE event;
};

WaitableNotice::WaitableNotice()
    : m_system(std::make_unique<System>(System{CreateEventA(nullptr, TRUE, FALSE, nullptr)})) {
    if (m_system->event == nullptr) {
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "CreateEvent");
    }
}

WaitableNotice::~WaitableNotice() {
    CloseHandle(m_system->event);
}

void WaitableNotice::Post() {
    SetEvent(m_system->event);
}

// A post between the test and the reset is lost to the event but not to the caller: it came
// before this returned true, so the work that follows the take sees what it posted.
bool WaitableNotice::Take() {
    if (WaitForSingleObject(m_system->event, 0) != WAIT_OBJECT_0) {
        return false;
    }
    ResetEvent(m_system->event);
    return true;
}

std::intptr_t WaitableNotice::Handle() const {
    return reinterpret_cast<std::intptr_t>(m_system->event);
}
