// PDF documents as page pictures. Poppler's pdfinfo counts the pages and
// pdftoppm draws one page at a time as a PNG, each as a program of its
// own, caged (Cage.h): it reads the document on its standard input and
// writes the picture to a pipe, runs as an unprivileged user with bounded
// memory, CPU time (per page, and the job's budget over all pages) and
// output, and is killed when the job is cancelled or it takes too long. A
// PDF that crashes or hangs the renderer ends that program, not the
// application.
#pragma once

#include "Cage.h"

#include <cstddef>
#include <string>

namespace pdf_pages {

// Most pages printed from one PDF.
inline constexpr int kMaxPdfPages = 500;
// Longest time one page (or the page count) may take, in seconds.
inline constexpr int kRenderSeconds = 60;

// The job's log line when a cancel stopped a renderer.
inline constexpr char kRendererStopped[] = "The PDF renderer was stopped: the job was canceled.";

enum class PdfResult {
    Done,
    Refused,   // not printable: *reason says why, as a sentence without a final stop
    Canceled,
};

// Asked while a renderer runs; true ends it.
struct CancelCheck {
    bool (*isCanceled)(void* data) = nullptr;
    void* data = nullptr;
};

// The number of pages of the PDF open on `pdf` (1 to kMaxPdfPages).
// Its CPU time is taken from `budget` (may be null).
PdfResult CountPdfPages(int pdf, const CancelCheck& cancel, vantora_cage::CpuBudget* budget, int* pages,
                        std::string* reason);

// Draws page `page` (from 1) of the PDF open on `pdf` as a PNG whose long
// side is `longSide` pixels, into a new memory file open for reading at
// its start (*png; the caller closes it). Its CPU time is taken from
// `budget` (may be null).
PdfResult RenderPdfPage(int pdf, int page, int longSide, const CancelCheck& cancel, vantora_cage::CpuBudget* budget,
                        int* png, std::string* reason);

}  // namespace pdf_pages
