#include "frontend/ostrander_app.h"

int main(int argc, char** argv) {
    return avs::frontend::RunOstrander(argc, argv);
}
