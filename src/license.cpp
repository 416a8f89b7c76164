#include "function.h"

// The version banner that opens every run.
void license() {
    std::fputs("\n"
               "zorvel version 1.1\n"
               "Copyright (C) 2026 the zorvel developers. All rights reserved.\n",
               stdout);
}
