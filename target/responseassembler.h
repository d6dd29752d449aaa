#pragma once

#include <QByteArray>
#include <QtGlobal>

// Assembles one response frame from chunks of any size, byte by byte: hunts for the start
// byte, takes the Length byte (signed 8-bit) and stores Length further bytes behind it.
// A Length outside 1..127 can never form a frame; such a frame is never completed and its
// body bytes are dropped, so nothing is ever written outside the response buffer.
class ResponseAssembler
{
public:
    enum class State { Hunting, AwaitingLength, Body, Complete };

    explicit ResponseAssembler(quint8 startOfFrame);

    // Walks one chunk. `response` is untouched until a Length byte arrives; it is then sized to
    // the frame. Bytes that follow a completed frame in the same chunk are appended behind it.
    // Returns true once the frame is complete.
    bool feed(const char *data, int size, QByteArray &response);

    State state() const { return current; }
    bool isComplete() const { return current == State::Complete; }

    static constexpr int MAX_FRAME_BYTES = 129; // Length 127 plus the start and Length bytes

private:
    quint8 sof;
    State current = State::Hunting;
    int length = 0;
    int position = 0;
};
