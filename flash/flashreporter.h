#pragma once

#include "target/rwtarget.h"

#include <QString>

class FirmwareImage;

// How the flash procedure tells its caller what happens; the worker maps these onto its signals.
class FlashReporter
{
public:
    virtual ~FlashReporter() = default;
    virtual void updateProgress(int percent) = 0;
    virtual void updateBytesTransferred(int bytes) = 0;
    virtual void transferStatus(const QString &msg) = 0;
    virtual void flashResult(RWTarget::RW_RESPONSE_T response) = 0;
    // Re-reads the board information after a successful flash.
    virtual void queryInfoBlock() = 0;
    // For a record of the flash: the image as read from its file, and every block the board took.
    virtual void imageRead(const FirmwareImage &) {}
    virtual void blockAccepted(int) {}
};
