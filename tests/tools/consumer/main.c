/* Uses the installed header and library from plain C: packs and unpacks a
 * sequence and aligns two sequences globally. Prints "ok" on success. */
#include <engine.h>
#include <stdio.h>
#include <string.h>

int main(void) {
    const uint8_t a[] = {0, 1, 2, 3, 0, 1, 2, 3};
    const uint8_t b[] = {0, 1, 2, 0, 1, 2, 3};
    uint8_t packed[8], back[8];
    bio_pack5(a, 8, packed);
    bio_unpack5(packed, 8, back);
    if (memcmp(a, back, sizeof a) != 0) {
        puts("pack/unpack mismatch");
        return 1;
    }
    static const char decode[33] = "ACGTNNNNNNNNNNNNNNNNNNNNNNNNNNNN";
    char out_a[16], out_b[16];
    int32_t score, m, x, g;
    int32_t cols = nw_global(a, 8, b, 7, decode, 2, -1, -2, out_a, out_b, &score, &m, &x, &g);
    if (cols != 8 || score != 12 || strcmp(out_a, "ACGTACGT") != 0 ||
        strcmp(out_b, "ACG-ACGT") != 0) {
        printf("unexpected alignment: %d %d %s %s\n", cols, score, out_a, out_b);
        return 1;
    }
    puts("ok");
    return 0;
}
