#include "PrinterBoard.h"

#include "PrinterStatusCodes.h"

#include <condition_variable>
#include <mutex>
#include <set>

namespace vantora_usbmon {

namespace {

std::mutex g_boardMutex;
std::condition_variable g_boardNews;
std::map<std::string, PrinterFacts> g_printers;
std::set<std::string> g_quick;
bool g_news = false;
bool g_stopping = false;

}  // namespace

void PostPrinterRead(const std::string& serial, int64_t status, long media)
{
    const auto now = BoardClock::now();
    std::lock_guard<std::mutex> lock(g_boardMutex);
    PrinterFacts& facts = g_printers[serial];
    if (!facts.present) {
        facts.present = true;
        facts.departed = false;
        facts.statusRead = false;
        ++facts.arrivals;
        g_news = true;
    }
    if (!facts.statusRead || facts.status != status) {
        facts.conditionSince = now;
        g_news = true;
    }
    facts.statusRead = true;
    facts.status = status;
    facts.readAt = now;
    if (media >= 0 && media != facts.media) {
        facts.media = media;
        g_news = true;
    }
    if (g_news)
        g_boardNews.notify_all();
}

void PostPrinterLeft(const std::string& serial)
{
    std::lock_guard<std::mutex> lock(g_boardMutex);
    PrinterFacts& facts = g_printers[serial];
    facts.present = false;
    facts.departed = true;
    facts.statusRead = false;
    g_news = true;
    g_boardNews.notify_all();
}

std::map<std::string, PrinterFacts> BoardSnapshot()
{
    std::lock_guard<std::mutex> lock(g_boardMutex);
    return g_printers;
}

bool WantsQuickReads(const std::string& serial)
{
    std::lock_guard<std::mutex> lock(g_boardMutex);
    if (g_quick.count(serial) != 0)
        return true;
    const auto found = g_printers.find(serial);
    return found != g_printers.end() && found->second.statusRead &&
           vantora_exchange::PrinterStateOf(found->second.status) != vantora_exchange::PrinterState::kReady;
}

void AskQuickReads(const std::string& serial, bool quick)
{
    std::lock_guard<std::mutex> lock(g_boardMutex);
    if (quick)
        g_quick.insert(serial);
    else
        g_quick.erase(serial);
}

bool WaitForBoardNews(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(g_boardMutex);
    g_boardNews.wait_for(lock, limit, [] { return g_news || g_stopping; });
    g_news = false;
    return g_stopping;
}

void StopBoardWaits()
{
    std::lock_guard<std::mutex> lock(g_boardMutex);
    g_stopping = true;
    g_boardNews.notify_all();
}

void ResetBoard()
{
    std::lock_guard<std::mutex> lock(g_boardMutex);
    g_printers.clear();
    g_quick.clear();
    g_news = false;
    g_stopping = false;
}

}  // namespace vantora_usbmon
