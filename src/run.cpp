// Run control: the argument echo and banner, the order of the phases, and
// the naming, opening and checking of the two data files.
#include "lindrel.h"

#include <cstdlib>
#include <cstring>

#ifndef LINDREL_VERSION
#define LINDREL_VERSION "0"
#endif

char fname[2][NAME_LEN];
const char *lname;
stream *fp[2];
int iflag;

static stream in = {NO_FILE, false, false, 0, 0, 0, nullptr};

// Opens the time history for reading; a directory is refused.
static stream *open_input(const char *name)
{
    if (lname) return nullptr;
    os_file f = os_open_read(name);
    if (f == NO_FILE) return nullptr;
    in.fd = f;
    return &in;
}

// True when the name leads to the file already open as the input: opening
// it for writing would empty the time history before it is read.
static bool is_input(const char *name) { return fp[0] && os_same_file(fp[0]->fd, name); }

void open_files()
{
    print(out, "\n The input file must have two columns:  time(sec) & amplitude(units) ");
    if (iflag == 0) strcpy(fname[0], "a.in");
    strcpy(fname[1], "a.out");
    print(out, "\n\n Enter input filename\n");
    fp[0] = open_input(fname[0]);
    print(out, "\n Enter output filename\n");
    bool same = is_input(fname[1]), busy = false;
    if (!same) fp[1] = open_output(fname[1], &busy);
    if (!fp[0]) {
        print(out, " Failed to open file: %s \n", lname ? lname : fname[0]);
        std::exit(finish(1));
    }
    print(out, " File: %s opened. \n", fname[0]);
    if (same) {
        print(out, " Failed to open file: %s (it is the input file) \n", fname[1]);
        std::exit(finish(1));
    }
    if (busy) {
        print(out, " Failed to open file: %s (in use by another run) \n", fname[1]);
        std::exit(finish(1));
    }
    if (!fp[1]) {
        print(out, " Failed to open file: %s \n", fname[1]);
        std::exit(finish(1));
    }
    print(out, " File: %s opened. \n", fname[1]);
}

int main(int argc, char **argv)
{
    os_start(&argc, &argv);
    start_output();
    if (argc > 1) {
        print(out, "\n\n  argc = %d ", argc);
        print(out, "\n argv[0] %s ", argv[0]);
        print(out, "\n argv[1] %s ", argv[1]);
        if (strlen(argv[1]) < NAME_LEN) strcpy(fname[0], argv[1]);
        else lname = argv[1];
        iflag = 1;
    }
    print(out, "\n lindrel " LINDREL_VERSION " ");
    print(out, "\n\n by the lindrel developers ");
    print(out, "\n Email:  lindrel@example.org ");
    print(out, "\n\n This program performs a linear interpolation on a time history file. \n");
    open_files();
    read_history();
    resample();
    return finish(refused ? 1 : 0);
}
