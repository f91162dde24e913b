#include "TurnMutex.h"

namespace vantora_usbmon {

void TurnMutex::lock()
{
    std::unique_lock<std::mutex> guard(m_guard);
    const unsigned long ticket = m_next++;
    m_turn.wait(guard, [&] { return m_serving == ticket; });
}

void TurnMutex::unlock()
{
    {
        std::lock_guard<std::mutex> guard(m_guard);
        ++m_serving;
    }
    m_turn.notify_all();
}

bool TurnMutex::try_lock()
{
    std::lock_guard<std::mutex> guard(m_guard);
    if (m_next != m_serving)
        return false;
    ++m_next;
    return true;
}

bool TurnMutex::contended()
{
    std::lock_guard<std::mutex> guard(m_guard);
    return m_next - m_serving > 1;
}

}  // namespace vantora_usbmon
