// qvsim: the bench tool (docs/simulated-bench.md).
#include "sim/host.h"
#include "sim/qvsim_cli.h"

#include <exception>
#include <iostream>

int main(int argc, char **argv) {
    try {
        return qvsim::RunQvsim(qvsim::ToolArguments(argc, argv), qvsim::ToolBenchFolder(),
                               std::cout, std::cerr);
    } catch (const std::exception &e) {
        std::cerr << "qvsim: " << e.what() << "\n";
        return 1;
    }
}
