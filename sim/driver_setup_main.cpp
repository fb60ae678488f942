// The simulated driver installer: DriverSetup.Exe -i qv70 "<inf file>".
// Installs the VeskUsb driver into the bench; exits 0 on success.
#include "sim/driver_install.h"
#include "sim/host.h"

#include <exception>
#include <iostream>

int main(int argc, char **argv) {
    try {
        qvsim::Bench bench(qvsim::ToolBenchFolder());
        const int code = qvsim::RunDriverSetup(qvsim::ToolArguments(argc, argv), bench, std::cerr);
        if (code == qvsim::kDriverSetupHangs) qvsim::WaitForever();
        return code;
    } catch (const std::exception &e) {
        std::cerr << "DriverSetup: " << e.what() << "\n";
        return 2;
    }
}
