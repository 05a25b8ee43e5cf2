/* Speed reference for the benchmarks: the same resampling job done the
 * plain way, fscanf in and fprintf out through the C library.
 *
 *   baseline file    reads file, writes a.out in the working directory
 *
 * The grid walk and the interpolation are those of lindrel, so both
 * programs write the same number of records. The bytes differ (the C
 * library prints two exponent digits); only the time is compared.
 * Build: cc -O2 -ffp-contract=off baseline.c -o baseline
 */
#include <stdio.h>

#define MAX_SAMPLES 5000000

static double t[MAX_SAMPLES];
static double a[MAX_SAMPLES];

int main(int argc, char **argv)
{
    const double dt = 1.0 / 20000.0;
    FILE *fi;
    FILE *fo;
    int last, i, j, js;
    double tt, c1, y = 0.0;

    if (argc < 2) {
        fprintf(stderr, "usage: baseline file\n");
        return 2;
    }
    fi = fopen(argv[1], "rb");
    if (!fi) {
        perror(argv[1]);
        return 1;
    }
    fo = fopen("a.out", "wb");
    if (!fo) {
        perror("a.out");
        return 1;
    }

    last = -1;
    while (last + 1 < MAX_SAMPLES
           && fscanf(fi, "%lf %lf", &t[last + 1], &a[last + 1]) == 2)
        last++;
    printf("last= %d\n", last);

    fprintf(fo, "\r\n %14.7e %14.7e", t[0], a[0]);
    js = 1;
    for (i = 0;; i++) {
        tt = (double)i * dt + t[0];
        if (last < 0 || tt > t[last])
            break;
        /* Forward walk from one pair before the last record's pair. */
        for (j = js; j <= last; j++) {
            if (j >= 1 && tt == t[j - 1]) {
                y = a[j - 1];
                break;
            }
            if (tt == t[j]) {
                y = a[j];
                break;
            }
            if (j >= 1 && t[j - 1] < tt && tt < t[j]) {
                c1 = (tt - t[j - 1]) / (t[j] - t[j - 1]);
                y = (1.0 - c1) * a[j - 1] + c1 * a[j];
                break;
            }
        }
        if (j <= last)
            fprintf(fo, "\r\n %14.7e %14.7e", tt, y);
        js = j - 1 < 0 ? 0 : j - 1;
    }
    fclose(fo);
    return 0;
}
