// The Linux installation: the packaged systemd unit, its socket and data
// folder, the journal, the components beside the program.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

#include "doctor.h"
#include "platform/posix/system_posix.h"
#include "vt_version.h"

namespace vtctl {

namespace {

constexpr char kUnit[] = "vtservice.service";
constexpr char kPackagedUnit[] = "/usr/lib/systemd/system/vtservice.service";
constexpr char kPackagedProgram[] = "/usr/lib/vtservice/VTService";

// A command's standard output; nothing when it could not run or failed.
std::optional<std::string> Output(const std::string& command) {
    FILE* p = popen((command + " 2>/dev/null").c_str(), "r");
    if (p == nullptr) {
        return std::nullopt;
    }
    std::string out;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) {
        out.append(buffer, n);
    }
    return pclose(p) == 0 ? std::optional<std::string>(out) : std::nullopt;
}

// `systemctl show` of the unit: Key=Value lines.
std::map<std::string, std::string> ShowUnit() {
    std::map<std::string, std::string> properties;
    const std::optional<std::string> out = Output(std::string("systemctl show ") + kUnit);
    std::istringstream lines(out.value_or(""));
    for (std::string line; std::getline(lines, line);) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos) {
            properties[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return properties;
}

std::string Value(const std::map<std::string, std::string>& map, const std::string& key) {
    const auto it = map.find(key);
    return it == map.end() ? std::string() : it->second;
}

// Space-separated words in any order: systemd prints some lists sorted.
std::set<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::set<std::string> words;
    for (std::string w; in >> w;) {
        words.insert(w);
    }
    return words;
}

// The sandbox the package's unit sets, as `systemctl show` reports it. A
// drop-in or an edited unit that weakens any of it shows here.
void CheckSandbox(DoctorReport& report, const std::map<std::string, std::string>& unit) {
    static const std::pair<const char*, const char*> kSandbox[] = {
        {"User", ""},
        {"UMask", "0077"},
        {"CapabilityBoundingSet", "cap_net_raw"},
        {"NoNewPrivileges", "yes"},
        {"ProtectSystem", "strict"},
        {"ProtectHome", "yes"},
        {"PrivateTmp", "yes"},
        {"PrivateMounts", "yes"},
        {"DevicePolicy", "closed"},
        {"ProtectClock", "yes"},
        {"ProtectHostname", "yes"},
        {"ProtectKernelTunables", "yes"},
        {"ProtectKernelModules", "yes"},
        {"ProtectKernelLogs", "yes"},
        {"ProtectControlGroups", "yes"},
        {"RestrictAddressFamilies", "AF_UNIX AF_INET"},
        {"RestrictNamespaces", "yes"},
        {"RestrictRealtime", "yes"},
        {"RestrictSUIDSGID", "yes"},
        {"LockPersonality", "yes"},
        {"MemoryDenyWriteExecute", "yes"},
        {"SystemCallArchitectures", "native"},
    };
    std::string found;
    std::string expected;
    for (const auto& [key, want] : kSandbox) {
        const std::string have = Value(unit, key);
        if (Words(have) != Words(want)) {
            found += std::string(found.empty() ? "" : ", ") + key + "=" + have;
            expected += std::string(expected.empty() ? "" : ", ") + key + "=" + want;
        }
    }
    if (found.empty()) {
        report.Ok("the unit's sandbox is the package's");
    } else {
        report.Fail("the unit's sandbox is the package's", found, expected);
    }
}

// ExecStart's program: "{ path=/usr/lib/vtservice/VTService ; argv[]=... }".
std::string ExecPath(const std::string& execStart) {
    const size_t at = execStart.find("path=");
    if (at == std::string::npos) {
        return "";
    }
    const size_t end = execStart.find_first_of(" ;", at);
    return execStart.substr(at + 5, end == std::string::npos ? end : end - at - 5);
}

std::string RealPath(const std::string& path) {
    char real[PATH_MAX];
    return realpath(path.c_str(), real) != nullptr ? real : path;
}

std::string Folder(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// A variable from the unit's Environment= ("A=1 B=2"), else the doctor's
// own, else the default.
std::string Setting(const std::map<std::string, std::string>& unit, const char* name,
                    const char* fallback) {
    for (const std::string& assignment : Words(Value(unit, "Environment"))) {
        if (assignment.rfind(std::string(name) + "=", 0) == 0) {
            return assignment.substr(std::strlen(name) + 1);
        }
    }
    const char* own = std::getenv(name);
    return own != nullptr && *own != '\0' ? own : fallback;
}

std::string Mode(mode_t mode) {
    char text[16];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

std::string Owner(const struct stat& st) {
    return "uid " + std::to_string(st.st_uid);
}

// `path` is a node of `type` (S_IFDIR, S_IFSOCK, ...), root's, with `mode`.
void CheckNode(DoctorReport& report, const std::string& check, const std::string& path,
               mode_t type, const std::string& kind, const std::string& mode) {
    const std::string expected = kind + " of uid 0, mode " + mode;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        report.Fail(check, std::strerror(errno), expected);
        return;
    }
    report.Expect(check,
                  ((st.st_mode & S_IFMT) == type ? kind : "not " + kind) + " of " + Owner(st) +
                      ", mode " + Mode(st.st_mode),
                  expected);
}

// The data folder as the service reaches it (its own walk, which follows no
// link and trusts no folder above it that another user controls), and, as
// the package makes it, root's.
void CheckFolders(DoctorReport& report, const std::string& dataFolder) {
    const std::string check = "the data folder " + dataFolder + ", reached as the service does";
    const std::string expected = "a real folder of root's under folders only root controls";
    uint32_t error = 0;
    const int fd = vt::platform::posix::OpenFolderByWalk(dataFolder, error);
    struct stat st {};
    if (fd < 0) {
        report.Fail(check,
                    error == ELOOP   ? "a link on the way"
                    : error == EPERM ? "a folder above it that another user owns or may write to"
                                     : std::strerror(static_cast<int>(error)),
                    expected);
    } else if (fstat(fd, &st) != 0 || st.st_uid != 0) {
        report.Fail(check, "owned by " + Owner(st), expected);
    } else {
        report.Ok(check);
    }
    if (fd >= 0) {
        close(fd);
    }
    CheckNode(report, "the report folder " + dataFolder + "/service_dmp", dataFolder + "/service_dmp",
              S_IFDIR, "a folder", "0700");
}

void CheckJournal(DoctorReport& report) {
    const std::optional<std::string> entries =
        Output("journalctl -q --no-pager -o cat -t VTService -n 1");
    if (!entries) {
        report.CannotCheck("the journal holds the service's entries", "no journal to read");
    } else if (entries->empty()) {
        report.Fail("the journal holds the service's entries", "none", "entries of VTService");
    } else {
        report.Ok("the journal holds the service's entries");
    }
}

}  // namespace

std::string CheckComponent(const std::string& folder, const std::string& file,
                           const std::vector<std::string>& exports) {
    const std::string path = folder + "/" + file;
    if (exports.empty()) {
        return access(path.c_str(), X_OK) == 0 ? "" : path + ": " + std::strerror(errno);
    }
    void* library = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (library == nullptr) {
        return dlerror();
    }
    // Left loaded: a component may have started threads in its constructors.
    return MissingExports(exports, [&](const char* name) { return dlsym(library, name); });
}

int RunDoctor(const AskPipe& ask, FILE* out) {
    DoctorReport report(out);
    const std::map<std::string, std::string> unit = ShowUnit();
    std::string program = kPackagedProgram;
    const bool systemd = !Value(unit, "LoadState").empty();
    if (!systemd) {
        report.CannotCheck("the systemd unit " + std::string(kUnit), "no systemd manager answers");
        // A service started by hand from a build folder, beside this tool.
        char self[4096] = {};
        if (readlink("/proc/self/exe", self, sizeof self - 1) > 0 &&
            access((Folder(self) + "/VTService").c_str(), X_OK) == 0) {
            program = Folder(self) + "/VTService";
        }
    } else {
        // By the file, not the spelling: with /lib a link to /usr/lib,
        // systemd may name either.
        report.Expect("the unit is the package's", RealPath(Value(unit, "FragmentPath")),
                      RealPath(kPackagedUnit));
        report.Expect("the unit is enabled", Value(unit, "UnitFileState"), "enabled");
        report.Expect("the unit is running",
                      Value(unit, "ActiveState") + "/" + Value(unit, "SubState"), "active/running");
        CheckSandbox(report, unit);
        program = ExecPath(Value(unit, "ExecStart"));
        const std::string pid = Value(unit, "MainPID");
        char exe[4096] = {};
        const ssize_t n = readlink(("/proc/" + pid + "/exe").c_str(), exe, sizeof exe - 1);
        report.Expect("the service's process is the installed program",
                      n > 0 ? std::string(exe, static_cast<size_t>(n)) : "no process", program);
    }
    const std::string socket =
        Setting(unit, "VTSERVICE_RUN_DIR", "/run/vtservice") + "/twvtservicepipe";
    CheckNode(report, "the pipe's socket " + socket, socket, S_IFSOCK, "a socket", "0666");
    CheckPipe(report, ask, PipeVersionOf(VT_VERSION_TEXT));
    CheckFolders(report, Setting(unit, "VTSERVICE_DATA_DIR", "/var/lib/vtservice"));
    if (systemd) {
        CheckJournal(report);
    }
    CheckComponents(report, Folder(program));
    return report.Finish();
}

}  // namespace vtctl
