#include "sim/qvsim_cli.h"

#include "sim/bench.h"
#include "sim/versions.h"

#include <sstream>
#include <system_error>

namespace fs = std::filesystem;

namespace qvsim {

namespace {

const char kUsage[] =
    "usage: qvsim [--bench <folder>] <command> [arguments]\n"
    "  show                          settings, faults and devices of the bench\n"
    "  plug [kind=4] [loader=2.05] [system=1.0.0] [serial=S|none] [id=N]\n"
    "                                plug a device in; prints its id\n"
    "  unplug <id>|all               pull devices out\n"
    "  set <id> [kind=K] [loader=T] [system=T]\n"
    "                                change a plugged device (it answers at once)\n"
    "  driver installed|missing      the host's VeskUsb driver\n"
    "  delay [switch=ms] [reset=ms] [wait=ms] [upgrade=ms] [erase=ms]\n"
    "  speed <bytes per second>|unlimited   download speed, e.g. 8M\n"
    "  ask <kinds>|none              questions asked besides the loader question, e.g. 1,2\n"
    "  record full|plain             device records filled to the last byte, or plain\n"
    "  fault <name>[=value] ...      inject faults (see: faults)\n"
    "  clear-fault <name>|all        remove faults\n"
    "  faults                        list the fault names\n"
    "  log                           print the bench log\n"
    "The bench is the folder given by --bench, else by QVSIM_BENCH, else Bench\n"
    "beside the tool.\n";

// The serial value for a device that reports no serial number.
const char kNoSerial[] = "none";

bool SplitAssignment(const std::string &arg, std::string &key, std::string &value) {
    const size_t equals = arg.find('=');
    if (equals == std::string::npos) return false;
    key = arg.substr(0, equals);
    value = arg.substr(equals + 1);
    return true;
}

bool ParseId(const std::string &text, int32_t &id) {
    int64_t value = 0;
    if (!ParseInt(text, value) || value <= 0 || value > 0x7FFFFFFF) return false;
    id = static_cast<int32_t>(value);
    return true;
}

bool ValidVersionText(const std::string &text) {
    return text.size() < 512;
}

// Applies "kind=", "loader=", "system=", "serial=", "id=" to a setup.
bool ApplyDeviceArgs(const std::vector<std::string> &args, size_t from, DeviceSetup &setup,
                     bool allowId, std::ostream &err) {
    for (size_t i = from; i < args.size(); ++i) {
        std::string key, value;
        int64_t number = 0;
        if (!SplitAssignment(args[i], key, value)) {
            err << "qvsim: expected key=value, got \"" << args[i] << "\"\n";
            return false;
        }
        if (key == "kind" && ParseInt(value, number) && number >= 1 && number <= 4) {
            setup.kind = int(number);
        } else if (key == "loader" && ValidVersionText(value)) {
            setup.loaderVersion = value;
        } else if (key == "system" && ValidVersionText(value)) {
            setup.systemVersion = value;
        } else if (key == "serial" && value == kNoSerial) {
            setup.serial.clear();
            setup.withoutSerial = true;
        } else if (key == "serial" && value.size() < 20) {
            setup.serial = value;
            setup.withoutSerial = false;
        } else if (key == "id" && allowId && ParseId(value, setup.id)) {
        } else {
            err << "qvsim: bad value \"" << args[i] << "\"\n";
            return false;
        }
    }
    return true;
}

void PrintBench(const Bench &bench, std::ostream &out) {
    const BenchSettings s = bench.Settings();
    out << "bench " << bench.Folder().u8string() << "\n";
    out << "driver " << (s.driverInstalled ? "installed" : "missing") << "\n";
    out << "delays switch=" << s.switchDelayMs << " reset=" << s.resetDelayMs
        << " wait=" << s.waitIntervalMs << " upgrade=" << s.upgradeMs << " erase=" << s.eraseMs
        << " (ms)\n";
    out << "speed "
        << (s.downloadBytesPerSecond ? std::to_string(s.downloadBytesPerSecond) + " bytes/s"
                                     : std::string("unlimited"))
        << "\n";
    out << "questions";
    if (s.questions.empty()) out << " none";
    for (int kind : s.questions)
        out << " " << kind;
    out << "\nfaults";
    if (s.faults.empty()) out << " none";
    for (const auto &[fault, value] : s.faults)
        out << " " << FaultName(fault) << "=" << value;
    out << "\n";
    const int64_t now = WallClockMs();
    const auto devices = bench.Devices();
    if (devices.empty()) out << "no device plugged in\n";
    for (const DeviceRecord &d : devices) {
        out << "device " << d.setup.id << ": kind " << d.setup.kind << ", loader "
            << d.setup.loaderVersion << ", system " << d.setup.systemVersion << ", serial "
            << (d.setup.serial.empty() ? std::string(kNoSerial) : d.setup.serial);
        if (d.lost)
            out << ", gone";
        else if (!d.PresentAt(now))
            out << ", back in " << (d.availableAtMs - now) << " ms";
        if (d.stage == Stage::LoaderWritten) out << ", loader written";
        if (d.stage == Stage::SystemWritten)
            out << ", system " << d.pendingSystemVersion << " written";
        std::error_code ec;
        const auto size = fs::file_size(bench.StoragePath(d.setup.id), ec);
        if (!ec) out << ", storage " << size << " bytes";
        if (d.eraseCount) out << ", erased " << d.eraseCount << "x";
        out << "\n";
    }
}

int Failed(std::ostream &err, const std::string &what) {
    err << "qvsim: " << what << "\n";
    return 1;
}

int Usage(std::ostream &err) {
    err << kUsage;
    return 2;
}

} // namespace

int RunQvsim(const std::vector<std::string> &allArgs, const fs::path &defaultBench,
             std::ostream &out, std::ostream &err) {
    std::vector<std::string> args = allArgs;
    fs::path folder = defaultBench;
    if (args.size() >= 2 && args[0] == "--bench") {
        folder = fs::u8path(args[1]);
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty()) return Usage(err);
    Bench bench(folder);
    const std::string &command = args[0];

    if (command == "help" || command == "--help") {
        out << kUsage;
        return 0;
    }
    if (command == "show") {
        PrintBench(bench, out);
        return 0;
    }
    if (command == "plug") {
        DeviceSetup setup;
        if (!ApplyDeviceArgs(args, 1, setup, true, err)) return 2;
        const int32_t id = bench.Plug(setup);
        if (!id) return Failed(err, "cannot write the bench at " + folder.u8string());
        out << id << "\n";
        return 0;
    }
    if (command == "unplug" && args.size() == 2) {
        int32_t id = 0;
        if (args[1] == "all") return bench.UnplugAll() ? 0 : Failed(err, "cannot unplug");
        if (!ParseId(args[1], id)) return Usage(err);
        return bench.Unplug(id) ? 0 : Failed(err, "no device " + args[1]);
    }
    if (command == "set" && args.size() >= 2) {
        int32_t id = 0;
        if (!ParseId(args[1], id)) return Usage(err);
        auto device = bench.Device(id);
        if (!device) return Failed(err, "no device " + args[1]);
        DeviceSetup setup = device->setup;
        if (!ApplyDeviceArgs(args, 2, setup, false, err)) return 2;
        const bool ok = bench.UpdateDevice(id, [&](DeviceRecord &d) {
            d.setup = setup;
            d.availableAtMs = 0;
            d.lost = false;
            return true;
        });
        return ok ? 0 : Failed(err, "cannot change device " + args[1]);
    }
    if (command == "driver" && args.size() == 2 &&
        (args[1] == "installed" || args[1] == "missing")) {
        return bench.SetDriverInstalled(args[1] == "installed") ? 0 : Failed(err, "cannot write");
    }
    if (command == "delay" && args.size() >= 2) {
        const std::map<std::string, int BenchSettings::*> fields = {
            {"switch", &BenchSettings::switchDelayMs},
            {"reset", &BenchSettings::resetDelayMs},
            {"wait", &BenchSettings::waitIntervalMs},
            {"upgrade", &BenchSettings::upgradeMs},
            {"erase", &BenchSettings::eraseMs}};
        std::vector<std::pair<int BenchSettings::*, int>> changes;
        for (size_t i = 1; i < args.size(); ++i) {
            std::string key, value;
            int64_t ms = 0;
            const bool ok = SplitAssignment(args[i], key, value) && fields.count(key) &&
                            ParseInt(value, ms) && ms >= (key == "wait" ? 1 : 0) &&
                            ms <= 24 * 3600 * 1000;
            if (!ok) return Usage(err);
            changes.emplace_back(fields.at(key), int(ms));
        }
        return bench.UpdateSettings([&](BenchSettings &s) {
            for (const auto &[field, ms] : changes)
                s.*field = ms;
        })
                   ? 0
                   : Failed(err, "cannot write");
    }
    if (command == "speed" && args.size() == 2) {
        uint64_t speed = 0;
        if (args[1] != "unlimited" && !ParseByteCount(args[1], speed)) return Usage(err);
        return bench.UpdateSettings([&](BenchSettings &s) { s.downloadBytesPerSecond = speed; })
                   ? 0
                   : Failed(err, "cannot write");
    }
    if (command == "record" && args.size() == 2) {
        if (args[1] != "full" && args[1] != "plain") return Usage(err);
        const bool full = args[1] == "full";
        return bench.UpdateSettings([&](BenchSettings &s) { s.fullRecord = full; })
                   ? 0
                   : Failed(err, "cannot write");
    }
    if (command == "ask" && args.size() == 2) {
        std::set<int> kinds;
        if (args[1] != "none") {
            std::istringstream list(args[1]);
            std::string item;
            while (std::getline(list, item, ',')) {
                int64_t kind = 0;
                if (!ParseInt(item, kind) || kind < 0 || kind > 2) return Usage(err);
                kinds.insert(int(kind));
            }
        }
        return bench.UpdateSettings([&](BenchSettings &s) { s.questions = kinds; })
                   ? 0
                   : Failed(err, "cannot write");
    }
    if (command == "fault" && args.size() >= 2) {
        std::map<Fault, int> faults;
        for (size_t i = 1; i < args.size(); ++i) {
            std::string name = args[i], value;
            const size_t equals = name.find('=');
            if (equals != std::string::npos) {
                value = name.substr(equals + 1);
                name.resize(equals);
            }
            Fault fault;
            int64_t number = 0;
            if (!FaultFromName(name, fault)) return Failed(err, "no fault named " + name);
            if (!value.empty() &&
                (!ParseInt(value, number) || number < INT32_MIN || number > INT32_MAX))
                return Usage(err);
            faults[fault] = value.empty() ? FaultDefaultValue(fault) : int(number);
        }
        return bench.UpdateSettings([&](BenchSettings &s) {
            for (const auto &[fault, value] : faults)
                s.faults[fault] = value;
        })
                   ? 0
                   : Failed(err, "cannot write");
    }
    if (command == "clear-fault" && args.size() == 2) {
        if (args[1] == "all") return bench.ClearFaults() ? 0 : Failed(err, "cannot write");
        Fault fault;
        if (!FaultFromName(args[1], fault)) return Failed(err, "no fault named " + args[1]);
        return bench.ClearFault(fault) ? 0 : Failed(err, "cannot write");
    }
    if (command == "faults") {
        for (const FaultInfo &info : AllFaults())
            out << info.name << " (default " << info.defaultValue << "): " << info.description
                << "\n";
        return 0;
    }
    if (command == "log") {
        out << bench.ReadLog();
        return 0;
    }
    return Usage(err);
}

} // namespace qvsim
