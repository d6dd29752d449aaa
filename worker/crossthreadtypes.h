#pragma once

#include "fod/fodtypes.h"
#include "target/rwtarget.h"

#include <QMetaType>

// The value types that travel by value through queued connections between the window and the
// worker thread. The information record is declared beside its struct; the board type lives in
// the plain C++ fit core, so it is declared here.
Q_DECLARE_METATYPE(FOD_BOARD_TYPE_T)

// Registers both under the names their queued signals use; called once before any window or
// worker exists.
inline void registerCrossThreadTypes()
{
    qRegisterMetaType<RWTarget::APP_BL_REG_RO_T>("RWTarget::APP_BL_REG_RO_T");
    qRegisterMetaType<FOD_BOARD_TYPE_T>("FOD_BOARD_TYPE_T");
}
