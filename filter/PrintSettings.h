// The job's print settings that shape each page image: resolution, paper
// rotation, white border, sharpness and colour adjustment. The device reads
// them from the job's options and PPD defaults; the page image buffer
// processes every page with them.
#pragma once

#include <cstdint>

struct PrintSettings {
    int64_t resolutionY = 300;          // dots per inch down the page: 300 or 600
    int64_t resolutionMode = 0;         // 0 300x300, 1 300x600, 2 600x600 dpi (pages come twice as wide)
    bool paperRotate = false;           // turn the page a quarter before processing
    bool border = false;                // white border of the media record's margins
    int32_t sharpness = 0;              // IL_SharpenBitmap strength, -1000..1000
    bool colorAdjustment = false;       // apply gamma, brightness, contrast and chroma below
    int32_t gamma[3] = {100, 100, 100}; // red, green, blue, in hundredths (100: unchanged)
    int32_t brightness[3] = {};         // red, green, blue, -1000..1000
    int32_t contrast[3] = {};
    int32_t chroma = 0;                 // saturation change, -1000..1000
};
