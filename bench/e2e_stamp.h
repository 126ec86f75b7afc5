/* The shared file between the write-stamp preload (in mbeeg-sim) and
 * e2e_stream: when each stream packet became readable on a pty. */
#ifndef MBEEG_E2E_STAMP_H
#define MBEEG_E2E_STAMP_H

#include <stdint.h>

#define STAMP_SLOTS (1u << 20)

struct stamp_entry {
    uint64_t t_ns;   /* CLOCK_MONOTONIC at the write of the last byte */
    uint64_t hash;   /* stamp_hash of the 24 EEG bytes */
    uint16_t pts;    /* /dev/pts/<pts> */
    uint8_t sample;  /* sample number */
    uint8_t footer;
    uint32_t pad;
    uint64_t pad2;
};

struct stamp_file {
    uint64_t count; /* entries written so far; entry n is at n % STAMP_SLOTS */
    uint64_t pad[7];
    struct stamp_entry entries[STAMP_SLOTS];
};

#define STAMP_FILE_BYTES (sizeof(struct stamp_file))

/* FNV-1a over the 24 EEG bytes of a packet. */
static inline uint64_t stamp_hash(const uint8_t* eeg24) {
    uint64_t h = 1469598103934665603ull;
    for (int i = 0; i < 24; ++i) {
        h ^= eeg24[i];
        h *= 1099511628211ull;
    }
    return h;
}

#endif
