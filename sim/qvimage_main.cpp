// qvimage: creates and inspects firmware images (docs/firmware-image.md).
#include "sim/host.h"
#include "sim/qvimage_cli.h"

#include <exception>
#include <iostream>

int main(int argc, char **argv) {
    try {
        return qvsim::RunQvimage(qvsim::ToolArguments(argc, argv), std::cout, std::cerr);
    } catch (const std::exception &e) {
        std::cerr << "qvimage: " << e.what() << "\n";
        return 1;
    }
}
