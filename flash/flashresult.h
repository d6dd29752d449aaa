#pragma once

#include "target/rwtarget.h"

#include <QString>

// What a flash result is called and what the console says for it; the window shows the text,
// the board's history records both.
namespace FlashResult {

// The code's name ("RW_SUCCESS"); empty for a code no flash produces.
QString name(RWTarget::RW_RESPONSE_T response);

// The console text; empty for a code the tool does not know.
QString text(RWTarget::RW_RESPONSE_T response);

} // namespace FlashResult
