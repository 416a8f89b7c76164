// The run sequence: banner, options, reading, renumbering, writing.
#include "function.h"

#include <cstdio>

namespace {

void run_sequence(int argc, char** argv) {
    license();
    int n = option(argc, argv);
    if (n >= argc) help(0);
    if (!BAT) NumRsd = argc - n;
    readRSD(argv + n);
    if (PLY) readPLY();
    if (MAT) readMAT();
    change_index();
    writeRSD();
    writePLY();
    writeMAT();
    if (!COD) writeCOD();
    if (!COD && OGP) writeOGP();
}

}  // namespace

int run(int argc, char** argv) {
    int status = 0;
    try {
        run_sequence(argc, argv);
    } catch (const RunEnd& end) {
        std::fwrite(end.report.data(), 1, end.report.size(), stdout);
        status = end.status;
    } catch (const std::exception&) {
        // Only a failed allocation outside the tables can land here.
        std::fputs("\nOut of memory!\n", stdout);
        status = EXIT_REPORT;
    }
    myfree();
    std::fflush(stdout);
    return status;
}
