// The hot-plug news of libusb's callbacks for the thread that acts on them:
// the devices that arrived and those that left, in order, each referenced
// while queued. libusb calls the callbacks on whichever thread handles its
// events, possibly inside another thread's transfer: they only queue, under
// the queue's own lock, and the acting thread takes the news in its loop.
// The USB monitor daemon and the printer application share it.
#pragma once

#include <libusb.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

class HotplugQueue {
public:
    HotplugQueue() = default;
    // Drops whatever is still queued.
    ~HotplugQueue();
    HotplugQueue(const HotplugQueue&) = delete;
    HotplugQueue& operator=(const HotplugQueue&) = delete;

    // `device` arrived: queued, referenced.
    void Arrived(libusb_device* device);
    // `device` left: its arrival, when still queued, is dropped (nobody
    // acted on it); otherwise the departure is queued, referenced.
    void Left(libusb_device* device);

    // The oldest arrival not yet taken, or null; the caller owns its
    // reference (libusb_unref_device).
    libusb_device* TakeArrival();
    // Every departure not yet taken, oldest first; the caller owns their
    // references.
    std::vector<libusb_device*> TakeDepartures();

    // Waits up to `wait` until news is queued, Wake is called or `stop()`
    // (asked under the queue's lock; may be null) is true. Whoever makes
    // `stop()` true calls Wake afterwards, not holding a lock `stop` takes.
    void WaitForNews(std::chrono::milliseconds wait, bool (*stop)());
    // Ends the waits under way.
    void Wake();

    // Drops every news not yet taken (unreferenced).
    void Clear();

private:
    std::mutex m_mutex;
    std::condition_variable m_news;
    std::deque<libusb_device*> m_arrivals;
    std::vector<libusb_device*> m_departures;
    unsigned long m_wakes = 0;   // Wake calls so far
};
