// Feeds response bytes to the frame assembler in chunks chosen by the input, as readResponse
// does with whatever the port delivers, and checks the frame against a plain model of the format.
//
// Input: byte 0 = flags (low 4 bits: number of chunk sizes, bit 4: start with an empty response
// buffer instead of stale bytes), byte 1 = command expected by checkResponse, then the chunk
// sizes (one byte each), then the byte stream. Bytes past the last chunk size form one last chunk.

#include "target/responseassembler.h"
#include "target/rwtarget.h"
#include "tests/fuzz/fuzzsupport.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr quint8 kSof = RWTarget::START_OF_FRAME;
constexpr int kMinLength = 1;
constexpr int kMaxLength = 127;
const QByteArray kStaleResponse("stale contents of an earlier exchange");

struct Chunk {
    int begin;
    int size;
};

// What the format says one read makes of the stream, worked out from the whole stream at once.
struct ExpectedFrame {
    int start = -1; // index of the first start byte, -1 when there is none
    int length = 0; // Length byte as a signed value, once it is in the stream
    bool hasLength = false;
    bool complete = false;
    int lastIndex = -1; // index of the frame's last byte when complete
};

ExpectedFrame expectFrame(const char *stream, int size)
{
    ExpectedFrame e;
    const void *sof = std::memchr(stream, kSof, size_t(size));
    if (!sof)
        return e;
    e.start = int(static_cast<const char *>(sof) - stream);
    if (e.start + 1 >= size)
        return e;
    e.hasLength = true;
    e.length = qint8(stream[e.start + 1]);
    if (e.length >= kMinLength && e.length <= kMaxLength && e.start + 1 + e.length < size) {
        e.complete = true;
        e.lastIndex = e.start + 1 + e.length;
    }
    return e;
}

// checkResponse on a buffer of exactly the given bytes, so that any read past them hits ASan.
void checkExactly(const QByteArray &bytes, int command)
{
    const int size = bytes.size();
    std::unique_ptr<char[]> exact(new char[size_t(size > 0 ? size : 1)]);
    if (size > 0)
        std::memcpy(exact.get(), bytes.constData(), size_t(size));
    const QByteArray view = QByteArray::fromRawData(exact.get(), size);
    RWTarget target;
    const bool accepted = target.checkResponse(view, command, QStringLiteral("FUZZ"));
    const bool wellFormed =
        size >= 4 && quint8(bytes.at(0)) == kSof && quint8(bytes.at(2)) == command && bytes.at(3) == 0;
    FUZZ_CHECK(accepted == wellFormed);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    silenceQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2 || size > 1 << 16)
        return 0;
    const int chunkCount = data[0] & 0x0F;
    const bool startEmpty = (data[0] & 0x10) != 0;
    const int command = data[1];
    size_t pos = 2;
    std::vector<int> sizes;
    for (int i = 0; i < chunkCount && pos < size; ++i)
        sizes.push_back(data[pos++]);
    const char *stream = reinterpret_cast<const char *>(data + pos);
    const int streamSize = int(size - pos);

    std::vector<Chunk> chunks;
    int at = 0;
    for (int s : sizes) {
        const int take = qMin(s, streamSize - at);
        chunks.push_back({at, take});
        at += take;
    }
    if (at < streamSize)
        chunks.push_back({at, streamSize - at});

    const ExpectedFrame expected = expectFrame(stream, streamSize);
    const QByteArray initial = startEmpty ? QByteArray() : kStaleResponse;

    // The chunked walk, stopping at the completing chunk as readResponse does.
    ResponseAssembler assembler(kSof);
    QByteArray response = initial;
    int consumed = 0;
    int completingChunkEnd = -1;
    for (const Chunk &chunk : chunks) {
        const bool done = assembler.feed(stream + chunk.begin, chunk.size, response);
        consumed = chunk.begin + chunk.size;
        FUZZ_CHECK(done == assembler.isComplete());
        if (!expected.hasLength || consumed <= expected.start + 1) {
            // No Length byte seen yet: the buffer still holds what the caller left in it.
            FUZZ_CHECK(!done);
            FUZZ_CHECK(response == initial);
            continue;
        }
        FUZZ_CHECK(response.size() >= 2);
        FUZZ_CHECK(quint8(response.at(0)) == kSof);
        FUZZ_CHECK(response.at(1) == stream[expected.start + 1]);
        if (done) {
            FUZZ_CHECK(expected.complete);
            FUZZ_CHECK(expected.lastIndex < consumed);
            completingChunkEnd = consumed;
            break;
        }
        // Still inside the body: the buffer is exactly the frame's size, never more.
        FUZZ_CHECK(!(expected.complete && expected.lastIndex < consumed));
        const int frameSize = expected.length >= kMinLength ? expected.length + 2 : 2;
        FUZZ_CHECK(response.size() == frameSize);
        const int stored = qMin(frameSize, consumed - expected.start);
        FUZZ_CHECK(std::memcmp(response.constData(), stream + expected.start, size_t(stored)) == 0);
    }

    FUZZ_CHECK(assembler.isComplete() == expected.complete);
    if (expected.complete) {
        // A Length outside 1..127 never gets here: expectFrame admits only 1..127.
        const int length = qint8(response.at(1));
        FUZZ_CHECK(length >= kMinLength && length <= kMaxLength);
        const int frameSize = length + 2;
        const int trailing = completingChunkEnd - expected.lastIndex - 1;
        FUZZ_CHECK(response.size() == frameSize + trailing);
        FUZZ_CHECK(response.size() <= ResponseAssembler::MAX_FRAME_BYTES + trailing);
        FUZZ_CHECK(std::memcmp(response.constData(), stream + expected.start, size_t(frameSize + trailing)) == 0);

        // Bytes offered after completion change nothing.
        const QByteArray frozen = response;
        FUZZ_CHECK(assembler.feed(stream, streamSize, response));
        FUZZ_CHECK(response == frozen);
    } else if (expected.hasLength && expected.length < kMinLength) {
        FUZZ_CHECK(response.size() == 2);
        FUZZ_CHECK(assembler.state() == ResponseAssembler::State::Body);
    } else if (!expected.hasLength) {
        FUZZ_CHECK(response == initial);
    }

    // The same bytes in one chunk give the same frame.
    ResponseAssembler whole(kSof);
    QByteArray single;
    const bool wholeDone = whole.feed(stream, streamSize, single);
    FUZZ_CHECK(wholeDone == expected.complete);
    if (expected.complete) {
        const int frameSize = expected.length + 2;
        FUZZ_CHECK(single.size() >= frameSize);
        FUZZ_CHECK(single.left(frameSize) == response.left(frameSize));
        // In one chunk everything behind the frame trails it.
        FUZZ_CHECK(single.size() == streamSize - expected.start);
    }

    checkExactly(response, command);
    if (expected.complete)
        checkExactly(response.left(expected.length + 2), command);
    return 0;
}
