// The random pool: seeded by hand it is deterministic (two pools with one
// seed agree); seeded with QV_R_RandomCreate it is ready at once.
#include <Corvane/r_random.h>

#include <cstdio>
#include <cstring>

static void seedByHand(R_RANDOM_STRUCT* pool) {
    QV_R_RandomInit(pool);
    const unsigned char seed[] = "a fixed seed, for a reproducible stream";
    uint32_t needed = 0;
    do {  // the pool wants 256 seed bytes before it gives any output
        QV_R_RandomUpdate(pool, seed, sizeof seed);
        QV_R_GetRandomBytesNeeded(&needed, pool);
    } while (needed > 0);
}

int main() {
    R_RANDOM_STRUCT a, b, fresh;
    seedByHand(&a);
    seedByHand(&b);
    unsigned char x[24], y[24], z[24];
    int status = QV_R_GenerateBytes(x, sizeof x, &a) | QV_R_GenerateBytes(y, sizeof y, &b);

    QV_R_RandomCreate(&fresh);  // clock and system entropy; needs no more seed
    status |= QV_R_GenerateBytes(z, sizeof z, &fresh);

    std::printf("seeded by hand: ");
    for (unsigned char c : x) std::printf("%02x", c);
    std::printf("\nfrom the clock: ");
    for (unsigned char c : z) std::printf("%02x", c);
    std::printf("\n");
    QV_R_RandomFinal(&a);  // wipes the pools
    QV_R_RandomFinal(&b);
    QV_R_RandomFinal(&fresh);
    return status == 0 && std::memcmp(x, y, sizeof x) == 0 ? 0 : 1;
}
