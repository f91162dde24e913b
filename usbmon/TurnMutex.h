// A mutex that is handed over in the order it was asked for: whoever gives
// it up and asks again comes after those already waiting. The USB section
// is one, so that a printer that lets go between its attempts really lets
// the others' cycles run.
#pragma once

#include <condition_variable>
#include <mutex>

namespace vantora_usbmon {

class TurnMutex {
public:
    // Waits for this caller's turn.
    void lock();
    void unlock();
    // Takes it only when nobody holds it or waits for it. True when taken.
    bool try_lock();
    // True while somebody waits for it (the holder does not count).
    bool contended();

private:
    std::mutex m_guard;
    std::condition_variable m_turn;
    unsigned long m_next = 0;     // the ticket the next caller gets
    unsigned long m_serving = 0;  // the ticket whose turn it is
};

}  // namespace vantora_usbmon
