#pragma once

#include "sim/simcrc.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

// The tool's side of the line for the simulator's own tests: plain fds on the slave, frames
// built by hand, and readers that wait a bounded time.
class SimClient
{
public:
    using Bytes = std::vector<uint8_t>;

    ~SimClient() { close(); }

    bool open(const std::string &path)
    {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return false;
        termios tio{};
        tcgetattr(fd, &tio);
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);
        return true;
    }

    void close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }

    bool send(const Bytes &bytes) { return ::write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size()); }

    // Everything that arrives within the window, and the number of reads it took.
    Bytes readFor(int ms, int *chunks = nullptr)
    {
        Bytes out;
        int reads = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
            if (left <= 0)
                break;
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, int(left)) <= 0)
                continue;
            if (p.revents & (POLLHUP | POLLERR))
                break;
            uint8_t buf[4096];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0) {
                out.insert(out.end(), buf, buf + n);
                ++reads;
            }
        }
        if (chunks)
            *chunks = reads;
        return out;
    }

    // One response frame (bytes before the start byte skipped), or empty after timeoutMs.
    Bytes readFrame(int timeoutMs = 1000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < end) {
            const size_t start = findStart();
            if (start != npos && pending.size() >= start + 2) {
                const size_t total = size_t(pending[start + 1]) + 2;
                if (pending.size() >= start + total) {
                    Bytes frame(pending.begin() + long(start), pending.begin() + long(start + total));
                    skipped = start;
                    pending.erase(pending.begin(), pending.begin() + long(start + total));
                    return frame;
                }
            }
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0) {
                uint8_t buf[4096];
                const ssize_t n = ::read(fd, buf, sizeof buf);
                if (n > 0)
                    pending.insert(pending.end(), buf, buf + n);
                else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                    break;
            }
        }
        return {};
    }

    size_t bytesSkippedBeforeLastFrame() const { return skipped; }

    static Bytes withCrc(Bytes packet)
    {
        const uint16_t crc = simCrc16(packet.data(), packet.size());
        packet.push_back(uint8_t(crc & 0xFF));
        packet.push_back(uint8_t(crc >> 8));
        return packet;
    }
    static Bytes readRegisters(uint16_t reg, uint8_t count)
    {
        return withCrc({0x5A, 6, 8, uint8_t(reg), uint8_t(reg >> 8), count});
    }
    static Bytes writeRegisters(uint16_t reg, const std::vector<uint16_t> &values)
    {
        Bytes p{0x5A, uint8_t(2 * values.size() + 5), 7, uint8_t(reg), uint8_t(reg >> 8)};
        for (uint16_t v : values) {
            p.push_back(uint8_t(v));
            p.push_back(uint8_t(v >> 8));
        }
        return withCrc(p);
    }
    static Bytes pageRead(uint8_t command, uint16_t offset, uint8_t count)
    {
        return withCrc({0x5A, 8, command, uint8_t(offset), uint8_t(offset >> 8), 0, 0, count});
    }
    static Bytes blockWrite(uint8_t command, uint32_t offset, const Bytes &data)
    {
        Bytes p{0x5A,
                uint8_t(data.size() + 7),
                command,
                uint8_t(offset),
                uint8_t(offset >> 8),
                uint8_t(offset >> 16),
                uint8_t(offset >> 24)};
        p.insert(p.end(), data.begin(), data.end());
        return withCrc(p);
    }

private:
    static constexpr size_t npos = size_t(-1);
    size_t findStart() const
    {
        for (size_t i = 0; i < pending.size(); ++i) {
            if (pending[i] == 0x5A)
                return i;
        }
        return npos;
    }

    int fd = -1;
    Bytes pending;
    size_t skipped = 0;
};
