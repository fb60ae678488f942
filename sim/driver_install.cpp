#include "sim/driver_install.h"

#include "sim/file_util.h"

namespace qvsim {

bool IsDriverInformationFile(const std::filesystem::path &inf) {
    std::string text;
    return ReadSmallFile(inf, text, 1 << 20) && text.find("qv70usb") != std::string::npos;
}

bool InstallDriver(Bench &bench, const std::filesystem::path &inf, std::string &why) {
    if (!IsDriverInformationFile(inf)) {
        why = "no QV70 driver information file at " + inf.u8string();
        bench.Log("driver installation refused: " + why);
        return false;
    }
    if (bench.Settings().Has(Fault::DriverIneffective)) {
        bench.Log("driver installation reported success but installed nothing "
                  "(fault driver-ineffective)");
        return true;
    }
    if (!bench.SetDriverInstalled(true)) {
        why = "the bench settings cannot be written";
        return false;
    }
    bench.Log("driver installed from " + inf.u8string());
    return true;
}

int RunDriverSetup(const std::vector<std::string> &args, Bench &bench, std::ostream &err) {
    if (args.size() != 3 || args[0] != "-i" || args[1] != "qv70") {
        err << "usage: DriverSetup -i qv70 <driver information file>\n";
        return 3;
    }
    const BenchSettings settings = bench.Settings();
    if (settings.Has(Fault::DriverSetupHang)) {
        bench.Log("DriverSetup started and does not end (fault driver-setup-hang)");
        return kDriverSetupHangs;
    }
    if (settings.Has(Fault::DriverSetupExit)) {
        const int code = settings.Value(Fault::DriverSetupExit);
        bench.Log("DriverSetup exits with " + std::to_string(code) + " (fault driver-setup-exit)");
        return code;
    }
    std::string why;
    if (!InstallDriver(bench, std::filesystem::u8path(args[2]), why)) {
        err << "DriverSetup: " << why << "\n";
        return 2;
    }
    return 0;
}

} // namespace qvsim
