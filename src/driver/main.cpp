#include <clocale>

#include "driver/run_loop.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "C");
    return rorarodi::run_program(argc, argv);
}
