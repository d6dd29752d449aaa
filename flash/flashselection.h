#pragma once

// Which sections of an image to write and whether to skip the hardware-ID comparison.
// Set by the window's section check boxes, read by the flash procedure.
struct FlashSelection {
    bool app = false;
    bool settings = false;
    bool calibration = false;
    bool ignoreHardwareId = false;
};
