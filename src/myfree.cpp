// The run-wide state, and its release at the end of a run.
#include "function.h"

int NumRsd = 0;
std::vector<RsdData> malrsd;
int NumMot = 0;
std::vector<std::string> malmot;
std::string pvtName;
std::string codName;
int OUT = 0, OGP = 0, BAT = 0, PVT = 0, COD = 0, MOT = 0;
int PLY = 0, MAT = 0, TIM = 0;
int MERGED = 0;

// Releases the store and puts every setting back to its starting value, so
// that another run can follow in the same process.
void myfree() {
    std::vector<RsdData>().swap(malrsd);
    std::vector<std::string>().swap(malmot);
    NumRsd = NumMot = 0;
    outName.clear();
    pvtName.clear();
    codName.clear();
    OUT = OGP = BAT = PVT = COD = MOT = 0;
    PLY = MAT = TIM = 0;
    MERGED = 0;
    Buffer = {};
    BufferEnded = false;
}
