// The attached printer as clients see it: the PAPPL printer that shows its
// state reasons, supplies and ready media, and the uses of it that PAPPL's
// deletion of a printer waits for.
#include "AttachedPrinter.h"

#include "MediaSizes.h"
#include "PrinterAttributes.h"

void AttachedPrinter::SetPrinter(pappl_printer_t* printer)
{
    std::unique_lock<std::mutex> lock(m_state);
    m_printer = printer;
    m_readyIndex = -2;
    m_suppliesShown = false;
    m_mediaNeededShown = false;
    // PAPPL frees a deleted printer right after: nobody may still use it.
    m_printerFree.wait(lock, [this] { return m_printerUsers == 0; });
}

void AttachedPrinter::ShowLastPoll()
{
    int64_t status;
    MediaState media;
    {
        std::lock_guard<std::mutex> lock(m_state);
        status = m_facts.status;
        media = m_facts.media;
    }
    if (status != kStatusFailed)
        Publish(status, &media);
}

pappl_printer_t* AttachedPrinter::AcquireShownPrinter()
{
    std::lock_guard<std::mutex> lock(m_state);
    if (m_printer != nullptr)
        ++m_printerUsers;
    return m_printer;
}

void AttachedPrinter::ReleaseShownPrinter()
{
    std::lock_guard<std::mutex> lock(m_state);
    if (--m_printerUsers == 0)
        m_printerFree.notify_all();
}

pappl_printer_t* AttachedPrinter::Printer() const
{
    std::lock_guard<std::mutex> lock(m_state);
    return m_printer;
}

void AttachedPrinter::SetMediaNeeded(bool needed)
{
    {
        std::lock_guard<std::mutex> lock(m_state);
        m_mediaNeeded = needed;
    }
    ShowMediaNeeded();
}

void AttachedPrinter::SetQueueNeedsMedia(bool needed)
{
    {
        std::lock_guard<std::mutex> lock(m_state);
        m_queueNeedsMedia = needed;
    }
    ShowMediaNeeded();
}

void AttachedPrinter::ShowMediaNeeded()
{
    std::lock_guard<std::mutex> showing(m_showing);
    pappl_printer_t* printer;
    bool needed;
    {
        std::lock_guard<std::mutex> lock(m_state);
        needed = m_mediaNeeded || m_queueNeedsMedia;
        if (m_mediaNeededShown == needed || m_printer == nullptr)
            return;
        m_mediaNeededShown = needed;
        printer = m_printer;
        ++m_printerUsers;
    }
    papplPrinterSetReasons(printer, needed ? PAPPL_PREASON_MEDIA_NEEDED : PAPPL_PREASON_NONE,
                           needed ? PAPPL_PREASON_NONE : PAPPL_PREASON_MEDIA_NEEDED);
    ReleaseShownPrinter();
}

void AttachedPrinter::Publish(int64_t status, const MediaState* media)
{
    std::lock_guard<std::mutex> showing(m_showing);
    pappl_printer_t* printer;
    MediaState shown;
    int ready = -1;
    bool readyChanged = false;
    bool suppliesChanged = false;
    bool mediaNeeded = false;
    {
        std::lock_guard<std::mutex> lock(m_state);
        m_facts.status = status;
        if (media != nullptr)
            m_facts.media = *media;
        shown = m_facts.media;
        printer = m_printer;
        mediaNeeded = m_mediaNeeded || m_queueNeedsMedia;
        m_mediaNeededShown = mediaNeeded;
        ready = ReadyMediaIndex(shown.mediaCode);
        readyChanged = media != nullptr && ready >= 0 && ready != m_readyIndex;
        if (readyChanged)
            m_readyIndex = ready;
        suppliesChanged = media != nullptr && (!m_suppliesShown || shown.remaining != m_shownSupply.remaining ||
                                               shown.initial != m_shownSupply.initial);
        if (suppliesChanged) {
            m_suppliesShown = true;
            m_shownSupply = shown;
        }
        if (printer != nullptr)
            ++m_printerUsers;
    }
    if (printer == nullptr)
        return;
    struct Release {
        AttachedPrinter* attached;
        ~Release() { attached->ReleaseShownPrinter(); }
    } release{this};
    // The media count's reasons only while the printer answers.
    pappl_preason_t add = ReasonsForStatus(status);
    if (status != kStatusFailed)
        add |= ReasonsForMedia(shown);
    if (mediaNeeded)
        add |= PAPPL_PREASON_MEDIA_NEEDED;
    papplPrinterSetReasons(printer, add, kDeviceReasons & ~add);
    if (suppliesChanged)
        RefreshPrinterAttributes(printer, shown);
    if (readyChanged) {
        pappl_media_col_t col = MediaCol(ready, true);
        papplPrinterSetReadyMedia(printer, 1, &col);
    }
}
