#include <cstdio>

#include "boot/init.h"

int main(int argc, char** argv) {
    vyx::init_runtime();
    std::fputs("vyx: the evaluator is not built yet\n", stderr);
    vyx::shutdown_runtime();
    return 0;
}
