#include "target/responseassembler.h"

ResponseAssembler::ResponseAssembler(quint8 startOfFrame) : sof(startOfFrame)
{
}

bool ResponseAssembler::feed(const char *data, int size, QByteArray &response)
{
    for (int i = 0; i < size; ++i) {
        const char byte = data[i];
        switch (current) {
        case State::Hunting:
            if (quint8(byte) == sof)
                current = State::AwaitingLength;
            break;
        case State::AwaitingLength:
            length = qint8(byte);
            // A Length below 1 cannot hold even the command echo; keep just the two header
            // bytes so the buffer is never sized negative.
            response.resize(length >= 1 ? length + 2 : 2);
            response[0] = char(sof);
            response[1] = byte;
            position = 2;
            current = State::Body;
            break;
        case State::Body:
            if (length < 1)
                break;
            response[position] = byte;
            if (position == length + 1) {
                current = State::Complete;
                response.append(data + i + 1, size - i - 1);
                return true;
            }
            ++position;
            break;
        case State::Complete:
            return true;
        }
    }
    return current == State::Complete;
}
