// What a noisy line costs the virtual instrument's framing: random bytes at
// 115200 baud (8N1, 11520 bytes a second) handed over in chunks of the sizes a
// pseudo-terminal delivers, and everything that is taken for a request counted.
//
//   sim_noise [SECONDS]

#include "modbusframing.h"

#include <QByteArray>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>

namespace {

double cpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
    constexpr int BytesPerSecond = 115200 / 10;

    std::printf("%-8s %12s %16s\n", "chunk", "cpu s/s", "false req/s");
    for (const int chunk : { 1, 16, 256 }) {
        std::mt19937 random(20261209u);
        std::uniform_int_distribution<int> byte(0, 255);
        QByteArray buffer;
        int accepted = 0;
        const double start = cpuSeconds();
        for (int sent = 0; sent < seconds * BytesPerSecond; sent += chunk) {
            for (int i = 0; i < chunk; ++i)
                buffer.append(char(byte(random)));
            ModbusFraming::Request request;
            while (ModbusFraming::takeRequest(buffer, &request))
                ++accepted;
        }
        const double used = cpuSeconds() - start;
        std::printf("%-8d %12.3f %16.1f\n", chunk, used / seconds, double(accepted) / seconds);
    }
    return 0;
}
