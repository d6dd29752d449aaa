#pragma once

#include "fod/calareawrite.h"
#include "fod/fodfitreport.h"
#include "fod/fodtypes.h"
#include "target/rwtarget.h"

#include <QMetaType>

// The value types that travel by value through queued connections between the window and the
// worker thread. The information record is declared beside its struct; the board type and the
// fit report live in the plain C++ fit core and the calibration write's state beside a writer
// without Qt signals, so they are declared here.
Q_DECLARE_METATYPE(FOD_BOARD_TYPE_T)
Q_DECLARE_METATYPE(FodFitReport)
Q_DECLARE_METATYPE(CalWriteState)

// The window's working tabs by index, as tabIndexChanged carries them: the worker keeps the
// board in its bootloader on the first and routes its text on the other two.
enum WorkingTab : int {
    kFirmwareTab = 0,
    kTerminalTab = 1,
    kFodTab = 2,
    kWorkingTabCount = 3,
};

// Registers them under the names their queued signals use; called once before any window or
// worker exists.
inline void registerCrossThreadTypes()
{
    qRegisterMetaType<RWTarget::APP_BL_REG_RO_T>("RWTarget::APP_BL_REG_RO_T");
    qRegisterMetaType<FOD_BOARD_TYPE_T>("FOD_BOARD_TYPE_T");
    qRegisterMetaType<FodFitReport>("FodFitReport");
    qRegisterMetaType<CalWriteState>("CalWriteState");
}
