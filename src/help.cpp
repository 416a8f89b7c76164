#include "function.h"

// The usage text; ends the run with the given status.
void help(int status) {
    throw RunEnd{status,
                 "\n"
                 ">zorvel [option] RSD files \x81\x63\n"
                 "\n"
                 ">zorvel [option] -bat TXT file\n"
                 "\n"
                 "[-o FILEname] \x81\x63 Set output file name(default:a.***)\n"
                 "[-ogp] \x81\x63 Output OGP file\n"
                 "[-pvt PVTname] \x81\x63 Set PVT file\n"
                 "[-cod CODname] \x81\x63 Set COD file\n"
                 "[-mot MOTnum MOTname\x81\x63] \x81\x63 Set number of MOT file and MOT file\n",
                 "", ""};
}
