/* Peer for the reader benchmarks: counts the records, bases and quality
 * characters of a plain FASTA/FASTQ file with kseq.h over read(2).
 * Usage: kseq_count FILE  ->  prints "records bases quals". */
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <htslib/kseq.h>

KSEQ_INIT(int, read)

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    int fd = open(argv[1], O_RDONLY);
    if (fd < 0) {
        perror(argv[1]);
        return 1;
    }
    kseq_t *seq = kseq_init(fd);
    long long records = 0, bases = 0, quals = 0;
    while (kseq_read(seq) >= 0) {
        ++records;
        bases += (long long)seq->seq.l;
        quals += (long long)seq->qual.l;
    }
    kseq_destroy(seq);
    close(fd);
    printf("%lld %lld %lld\n", records, bases, quals);
    return 0;
}
