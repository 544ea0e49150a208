/* Uses the installed host layer from plain C: reads FASTQ text from memory
 * and checks a malformed record is reported. Prints "ok" on success. */
#include <bioeng_host.h>
#include <stdio.h>
#include <string.h>

int main(void) {
    static const char good[] = "@r1 x\nACGT\n+\nIIII\n@r2\nGG\n+\nII\n";
    static const char bad[] = "@r1\nACGT\n+\nII\n";
    bh_reader *r = bh_reader_new();
    if (!r) return 1;
    int rc = bh_reader_open_memory(r, good, strlen(good), "good.fq", NULL);
    if (rc != BH_OK || bh_reader_next(r) != 1 || bh_reader_count(r) != 2 ||
        bh_reader_length(r, 0) != 4 || strcmp(bh_reader_header(r, 0), "r1 x") != 0) {
        printf("unexpected records: %s\n", bh_reader_error(r));
        return 1;
    }
    rc = bh_reader_open_memory(r, bad, strlen(bad), "bad.fq", NULL);
    if (rc == BH_OK) rc = bh_reader_next(r);
    if (rc != BH_ERR_INPUT || !strstr(bh_reader_error(r), "bad.fq")) {
        printf("malformed FASTQ not reported: %d %s\n", rc, bh_reader_error(r));
        return 1;
    }
    bh_reader_free(r);
    puts("ok");
    return 0;
}
