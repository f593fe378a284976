/* The same requests as the window's, sent by libmodbus, as a yardstick from
 * outside Qt.
 *
 *   bench_libmodbus PORT BAUD PARITY(N|E|O) STOPBITS poll|read-tables|write-tables RUNS
 *
 * Prints the milliseconds of each run on one line, then "cpu MS" with the
 * process's CPU time per run. */
#include <modbus.h>

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static double clockMs(clockid_t clock)
{
    struct timespec t;
    clock_gettime(clock, &t);
    return (double)t.tv_sec * 1e3 + (double)t.tv_nsec / 1e6;
}

static int once(modbus_t *ctx, const char *mode, uint16_t *words)
{
    static const int starts[] = { 300, 324, 348, 372 };
    if (strcmp(mode, "poll") == 0)
        return modbus_read_input_registers(ctx, 0, 22, words) == 22 ? 0 : -1;
    for (int t = 0; t < 4; ++t) {
        if (strcmp(mode, "read-tables") == 0) {
            if (modbus_read_registers(ctx, starts[t], 24, words + 24 * t) != 24)
                return -1;
        } else if (modbus_write_registers(ctx, starts[t], 22, words + 24 * t) != 22) {
            return -1;
        }
    }
    return 0;
}

int main(int argc, char **argv)
{
    if (argc != 7) {
        fprintf(stderr, "usage: %s PORT BAUD PARITY STOPBITS MODE RUNS\n", argv[0]);
        return 2;
    }
    const int runs = atoi(argv[6]);
    modbus_t *ctx = modbus_new_rtu(argv[1], atoi(argv[2]), argv[3][0], 8, atoi(argv[4]));
    if (!ctx || modbus_set_slave(ctx, 1) != 0 || modbus_connect(ctx) != 0) {
        fprintf(stderr, "libmodbus: %s\n", modbus_strerror(errno));
        return 1;
    }
    /* The window's client waits 500 ms for a reply. */
    modbus_set_response_timeout(ctx, 0, 500000);
    uint16_t words[96];
    /* Writes put back what the instrument holds, so the tables stay valid. */
    for (int t = 0; t < 4; ++t) {
        if (modbus_read_registers(ctx, 300 + 24 * t, 24, words + 24 * t) != 24) {
            fprintf(stderr, "libmodbus: %s\n", modbus_strerror(errno));
            return 1;
        }
    }
    const double cpuStart = clockMs(CLOCK_PROCESS_CPUTIME_ID);
    int failures = 0;
    for (int i = 0; i < runs; ++i) {
        const double start = clockMs(CLOCK_MONOTONIC);
        if (once(ctx, argv[5], words) != 0) {
            ++failures;
            continue;
        }
        printf("%s%.3f", i ? " " : "", clockMs(CLOCK_MONOTONIC) - start);
    }
    printf("\ncpu %.4f\nfailures %d\n", (clockMs(CLOCK_PROCESS_CPUTIME_ID) - cpuStart) / runs, failures);
    modbus_close(ctx);
    modbus_free(ctx);
    return 0;
}
