#pragma once

#include "fod/calareawrite.h"
#include "fod/fodmessages.h"
#include "fod/fodtypes.h"
#include "target/rwtarget.h"

class QSerialPort;

constexpr int FOD_CAL_READ_SIZE = 888;

// Bytes of the calibration buffer: 888 rounded up to whole pages of `pageSize` bytes, plus one
// page more when 888 is a whole number of pages. 0 for a page size of 0.
int fodCalDataSize(int pageSize);

// Writes fitted FOD parameters into the board's calibration area: asks the user to power-cycle
// the board, catches its bootloader, reads the area, patches the FOD fields, writes the area
// back and returns the board to its application. The area is written only from a complete
// read. Its texts for the FOD pane and the debug log go to `messages`, its states to `control`,
// whose cancel flag stops it before its first block write. True when the area was written.
bool writeFodParameters(RWTarget &target, QSerialPort &port, FOD_BOARD_TYPE_T board, const FodGainResult &result,
                        const FodMessages &messages, const FodCalWriteTiming &timing = FodCalWriteTiming(),
                        const CalWriteControl &control = CalWriteControl());
