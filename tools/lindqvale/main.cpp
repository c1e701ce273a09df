#include <cstdio>

#include "tools/lindqvale/lindqvale.h"

int main(int argc, char** argv) {
    return lindqvale::run(argc, argv, stdout, stderr);
}
