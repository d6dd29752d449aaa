#pragma once

#include "fod/fodmessages.h"
#include "target/rwtarget.h"

#include <QByteArray>

#include <atomic>
#include <functional>

class QSerialPort;

// Where a write of the board's calibration area stands. While the area is being written or the
// board is being sent back (Writing, Returning) nothing may stop the write; before that a cancel
// ends it without a single block written. The last four are how it ended.
enum class CalWriteState {
    Idle,
    Catching,    // pinging through the user's power cycle for the bootloader
    Reading,     // bootloader caught: the pause and the reads before the first block write
    Writing,     // block writes under way
    Returning,   // sending the board back to its application
    Completed,   // every block written
    Cancelled,   // cancelled before the first block write
    Interrupted, // a block write failed after the writes had begun: the area may be partly new
    NotWritten,  // stopped by the board before the first block write (not caught, area unreadable)
};

// One line for the user that says how a write ended (the last four states); empty for the others.
const char *calWriteOutcomeText(CalWriteState state);

// What a write of the calibration area found and did, for the caller's record.
struct CalWriteFacts {
    int pageSize = 0;         // REG_BL_PAGE_SIZE; 0 until read
    QByteArray areaRead;      // the whole buffer as read, before any change; empty unless read completely
    quint32 bytesWritten = 0; // of the blocks the board took
    CalWriteState outcome = CalWriteState::Idle;
};

// How a writer of the calibration area is watched and stopped. `cancel` is set from another
// thread and counts until the first block write; the write clears it when it ends. `report`
// hears every state, on the writer's thread. `backup` gets the area as read, before anything is
// changed or written; when it returns false the write stops before its first block (it has said
// why). `facts`, when given, is filled as the write goes.
struct CalWriteControl {
    std::atomic_bool *cancel = nullptr;
    std::function<void(CalWriteState)> report;
    std::function<bool(const QByteArray &area)> backup;
    CalWriteFacts *facts = nullptr;
};

// Timing of a calibration area write. The defaults are what the board and its user need; tests
// shorten them to walk every failure path quickly.
struct FodCalWriteTiming {
    int catchWindowMs = 9999; // no new catch pass starts after this much time
    int pingsPerBurst = 30;
    int pingGapMs = 5;
    int settleMs = 1000; // after the bootloader was caught
    int blockReadAttempts = 10;
    int returnPauseMs = 10; // after sending the board back to its application
};

// The steps every writer of the calibration area takes, in order: catch the bootloader after the
// user's power cycle, read what is needed, write the area in blocks, send the board back to its
// application. Each step reports its state through the control and honours its cancel flag
// until the first block write.
class CalAreaWrite
{
public:
    enum class Catch { Caught, NotCaught, Cancelled };
    enum class Read { Complete, Unreadable, Cancelled, NotBackedUp };

    CalAreaWrite(RWTarget &target, QSerialPort &port, const FodMessages &messages, const FodCalWriteTiming &timing,
                 const CalWriteControl &control);

    // A cancel has arrived and no block has been written yet.
    bool cancelled() const;

    // Pings through the power cycle until the bootloader answers or the catch window closes.
    Catch catchBootloader();
    // The pause after the catch, cut short by a cancel (false then).
    bool settle();
    // REG_BL_PAGE_SIZE from the bootloader's register block, tried again on failure; 0 when it
    // could not be read (or a cancel came).
    int readPageSize();
    // The first `size` bytes of the area into `buffer`, one page at a time, then the whole buffer
    // to the control's backup: the area is never written without its copy.
    Read readArea(QByteArray &buffer, quint16 size, int pageSize);
    // From here on the write is never cancelled: a board left between two blocks holds an area
    // that is part new, part old.
    bool writeArea(const QByteArray &data, quint32 size);
    void returnToApplication();
    // Reports how the write ended and clears the cancel flag for the next write.
    void finish(CalWriteState outcome);

private:
    void enter(CalWriteState state) const;

    RWTarget &target;
    QSerialPort &port;
    const FodMessages &messages;
    const FodCalWriteTiming &timing;
    const CalWriteControl &control;
    bool writingStarted = false;
};
