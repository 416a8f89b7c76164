#include "function.h"

// The object-group name: the RSD file name cut at the first '.' of its last
// path component ("models/car.rsd" gives "models/car", "./car.rsd" "./car").
void ogpname(RsdData& rsd) {
    rsd.ogpName = rsd.rsdName.substr(0, stem_length(rsd.rsdName));
}
