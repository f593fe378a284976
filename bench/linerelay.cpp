// A serial line of a given speed between two programs that each believe they
// have a port: a new pseudo-terminal on one side, the instrument's port on
// the other, and every byte held for the time it takes on a real line.
//
//   bench_line UPSTREAM BAUD BITS_PER_BYTE
//
// BITS_PER_BYTE is 10 for 8N1 and 11 with a parity bit or a second stop bit.
// The first line on standard output names the new port. Runs until killed or
// until standard input closes.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

using Nanos = long long;

Nanos now()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return Nanos(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

bool makeRaw(int fd)
{
    termios settings;
    if (tcgetattr(fd, &settings) != 0)
        return false;
    cfmakeraw(&settings);
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

// One direction of the line: a byte leaves the far end one byte-time after
// the previous one did, or one byte-time after it came in if the line was idle.
struct Direction
{
    int from = -1;
    int to = -1;
    Nanos byteTime = 0;
    Nanos lineFreeAt = 0;
    std::deque<std::pair<Nanos, char>> inFlight;

    bool receive()
    {
        char buffer[4096];
        const ssize_t n = read(from, buffer, sizeof(buffer));
        if (n < 0)
            return errno == EAGAIN || errno == EINTR || errno == EIO;
        const Nanos arrived = now();
        for (ssize_t i = 0; i < n; ++i) {
            lineFreeAt = std::max(lineFreeAt, arrived) + byteTime;
            inFlight.emplace_back(lineFreeAt, buffer[i]);
        }
        return true;
    }

    void deliver()
    {
        char buffer[4096];
        size_t count = 0;
        const Nanos t = now();
        while (!inFlight.empty() && inFlight.front().first <= t && count < sizeof(buffer)) {
            buffer[count++] = inFlight.front().second;
            inFlight.pop_front();
        }
        // A peer that is not reading loses what the line carried, as on a real one.
        if (count > 0 && write(to, buffer, count) < 0 && errno != EAGAIN && errno != EIO)
            std::exit(3);
    }

    Nanos nextDue() const { return inFlight.empty() ? -1 : inFlight.front().first; }
};

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s UPSTREAM BAUD BITS_PER_BYTE\n", argv[0]);
        return 2;
    }
    const long baud = std::atol(argv[2]);
    const long bits = std::atol(argv[3]);
    if (baud <= 0 || bits <= 0)
        return 2;
    const int upstream = open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK);
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (upstream < 0 || master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || !makeRaw(upstream)
        || !makeRaw(master)) {
        std::perror("bench_line");
        return 1;
    }
    // Held open so that a client closing its end does not hang the line up.
    const int keepOpen = open(ptsname(master), O_RDWR | O_NOCTTY);
    if (keepOpen < 0 || !makeRaw(keepOpen))
        return 1;
    std::printf("%s\n", ptsname(master));
    std::fflush(stdout);

    const Nanos byteTime = 1000000000LL * bits / baud;
    Direction toInstrument { master, upstream, byteTime, 0, {} };
    Direction toClient { upstream, master, byteTime, 0, {} };
    for (;;) {
        pollfd fds[3] = { { master, POLLIN, 0 }, { upstream, POLLIN, 0 }, { STDIN_FILENO, POLLIN, 0 } };
        Nanos due = -1;
        for (const Direction *d : { &toInstrument, &toClient }) {
            const Nanos next = d->nextDue();
            if (next >= 0 && (due < 0 || next < due))
                due = next;
        }
        timespec wait { 1, 0 };
        if (due >= 0) {
            const Nanos left = std::max<Nanos>(0, due - now());
            wait = { time_t(left / 1000000000LL), long(left % 1000000000LL) };
        }
        if (ppoll(fds, 3, &wait, nullptr) < 0 && errno != EINTR)
            return 1;
        if (fds[2].revents & (POLLIN | POLLHUP)) {
            char c;
            if (read(STDIN_FILENO, &c, 1) <= 0)
                return 0;
        }
        if ((fds[0].revents & POLLIN) && !toInstrument.receive())
            return 1;
        if ((fds[1].revents & POLLIN) && !toClient.receive())
            return 1;
        toInstrument.deliver();
        toClient.deliver();
    }
}
