#include "HotplugQueue.h"

#include <algorithm>

HotplugQueue::~HotplugQueue()
{
    Clear();
}

void HotplugQueue::Arrived(libusb_device* device)
{
    if (device == nullptr)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_arrivals.push_back(libusb_ref_device(device));
    }
    m_news.notify_all();
}

void HotplugQueue::Left(libusb_device* device)
{
    if (device == nullptr)
        return;
    bool dropped = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto queued = std::find(m_arrivals.begin(), m_arrivals.end(), device);
        if (queued != m_arrivals.end()) {
            m_arrivals.erase(queued);
            dropped = true;
        } else {
            m_departures.push_back(libusb_ref_device(device));
        }
    }
    m_news.notify_all();
    // The queue's reference of the dropped arrival; libusb holds its own
    // while the callback runs.
    if (dropped)
        libusb_unref_device(device);
}

libusb_device* HotplugQueue::TakeArrival()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_arrivals.empty())
        return nullptr;
    libusb_device* device = m_arrivals.front();
    m_arrivals.pop_front();
    return device;
}

std::vector<libusb_device*> HotplugQueue::TakeDepartures()
{
    std::vector<libusb_device*> departures;
    std::lock_guard<std::mutex> lock(m_mutex);
    departures.swap(m_departures);
    return departures;
}

void HotplugQueue::WaitForNews(std::chrono::milliseconds wait, bool (*stop)())
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const unsigned long wakes = m_wakes;
    m_news.wait_for(lock, wait, [&] {
        return m_wakes != wakes || !m_arrivals.empty() || !m_departures.empty() || (stop != nullptr && stop());
    });
}

void HotplugQueue::Wake()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_wakes;
    m_news.notify_all();
}

void HotplugQueue::Clear()
{
    std::deque<libusb_device*> arrivals;
    std::vector<libusb_device*> departures;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        arrivals.swap(m_arrivals);
        departures.swap(m_departures);
    }
    for (libusb_device* device : arrivals)
        libusb_unref_device(device);
    for (libusb_device* device : departures)
        libusb_unref_device(device);
}
