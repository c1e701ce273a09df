#include <cstdio>

#include "mux/korvel.h"

int main(int argc, char** argv) {
    return mux::run_korvel(argc, argv, stdout, stderr);
}
