// A job directory with a running simulated Elcom register (sim/elcom_sim on a pseudo-terminal),
// PROG_KOM.CFG pointing at it, and a way to run one job in this process: the core is loaded
// with the module loader (which reads VEXA_JOB.XML), Quorvel_run calls quorvel_elcom, the
// core is unloaded (which finishes PROG_KOM.XML and RAPORT.XML), all on the virtual clock.
// Shared by the end-to-end tests and the link benchmark; needs QUORVEL_BIN_DIR and
// QUORVEL_LIB_DIR and a link against libQuorvel and quorvel_plugin.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/module.h"
#include "plugin/config_records.h"
#include "plugin/config_store.h"

namespace quorvel::test::elcom {

inline const std::string& simPath() {
  static const std::string path = std::string(QUORVEL_BIN_DIR) + "/elcom_sim";
  return path;
}

inline std::string quoted(const std::string& s) { return "'" + s + "'"; }

inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline const char* modelJobName(int model) {
  static const char* kNames[] = {"", "Quorvel_Elcom_Euro500T2", "Quorvel_Elcom_Euro500T10", "Quorvel_Elcom_Euro500TX2",
                                 "Quorvel_Elcom_Euro500TX10", "Quorvel_Elcom_EuroSmart", "Quorvel_Elcom_Euro2100TX8",
                                 "Quorvel_Elcom_Euro2100TX27"};
  return model >= 1 && model <= 7 ? kNames[model] : "";
}

inline int modelCapacity(int model) {
  static const int kCapacity[] = {0, 2000, 10000, 2000, 10000, 2000, 8000, 27000};
  return model >= 1 && model <= 7 ? kCapacity[model] : 0;
}

class ElcomJob {
 public:
  explicit ElcomJob(int model, int registerNumber = 1) : model_(model) {
    char tmpl[] = "/tmp/quorvel-elcom-XXXXXX";
    if (!::mkdtemp(tmpl)) throw std::runtime_error("mkdtemp");
    dir_ = tmpl;
    previous_ = std::filesystem::current_path().string();
    std::filesystem::current_path(dir_);
    state_ = file("kasa.txt");
    tty_ = file("ttyElcom");
    sim("init --model " + std::to_string(model) + " --register " + std::to_string(registerNumber));
    int out[2];
    if (::pipe(out) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // no register left behind by a run that aborts
      ::dup2(out[1], 1);
      ::close(out[0]);
      ::execl(simPath().c_str(), simPath().c_str(), "serve", "--state", state_.c_str(), "--link", tty_.c_str(), nullptr);
      ::_exit(127);
    }
    ::close(out[1]);
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n') {
    }
    ::close(out[0]);
    writeConfig(modelCapacity(model), registerNumber);
  }

  ~ElcomJob() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    std::error_code ec;
    std::filesystem::current_path(previous_, ec);
    std::filesystem::remove_all(dir_, ec);
  }

  ElcomJob(const ElcomJob&) = delete;
  ElcomJob& operator=(const ElcomJob&) = delete;

  std::string file(const std::string& name) const { return dir_ + "/" + name; }
  const std::string& path() const { return dir_; }

  // Runs elcom_sim VERB --state STATE ARGS; its exit status.
  int sim(const std::string& verbAndArgs) const {
    const std::size_t sp = verbAndArgs.find(' ');
    const std::string verb = verbAndArgs.substr(0, sp);
    const std::string args = sp == std::string::npos ? "" : verbAndArgs.substr(sp);
    return std::system((simPath() + " " + verb + " --state " + quoted(state_) + args + " >/dev/null").c_str());
  }

  // What `elcom_sim show` prints about the register.
  std::string show() const {
    std::string out;
    if (FILE* p = ::popen((simPath() + " show --state " + quoted(state_)).c_str(), "r")) {
      char buf[4096];
      std::size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
      ::pclose(p);
    }
    return out;
  }

  // muxType 0: no multiplexer.
  void writeConfig(int maxPlu, int registerNumber, bool binDump = false, int muxType = 0, int muxChannel = 1) {
    quorvel::elcom::SUConfig c{};
    std::snprintf(c.port, sizeof c.port, "%s", tty_.c_str());
    c.speed = 9600;
    c.muxOn = muxType != 0 ? 1 : 0;
    c.muxType = muxType != 0 ? muxType : 1;
    c.muxChannel = muxChannel;
    c.maxPluCode = maxPlu;
    c.registerNumber = registerNumber;
    c.binDump = binDump ? 1 : 0;
    const auto image = quorvel::elcom::toImage(c);
    const std::uint32_t sum = quorvel::plugin::configChecksum(image);
    std::ofstream out(file("PROG_KOM.CFG"), std::ios::binary | std::ios::trunc);
    for (int i = 0; i < 4; ++i) out.put(static_cast<char>(sum >> (8 * i)));
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  }

  // The job file; `goods` is the UTF-8 XML of its Towar elements.
  void writeJob(const std::string& operation, const std::string& goods, const std::string& modelName = "") const {
    const std::string name = modelName.empty() ? modelJobName(model_) : modelName;
    std::ofstream out(file("VEXA_JOB.XML"), std::ios::binary | std::ios::trunc);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Dane operacja=\"" << operation << "\" idModelu=\"" << name
        << "\" xmlns=\"http://schemas.quorvel.org/UF/Dane.xsd\">\n"
        << goods << "</Dane>\n";
  }

  // Runs the job in this process on the virtual clock; returns the pauses taken, in order.
  std::vector<unsigned long> run() const {
    quorvel::platform::VirtualClockScope clock;
    auto* core = quorvel::platform::loadModule(std::string(QUORVEL_LIB_DIR) + "/libQuorvel.so");
    if (!core) return {};
    using RunFn = void (*)(const std::string&);
    if (auto fn = reinterpret_cast<RunFn>(quorvel::platform::findSymbol(core, "Quorvel_run"))) fn("quorvel_elcom");
    quorvel::platform::releaseModule(core);
    return quorvel::platform::VirtualSleeps();
  }

 private:
  int model_;
  std::string dir_;
  std::string previous_;
  std::string state_;
  std::string tty_;
  pid_t pid_ = -1;
};

}  // namespace quorvel::test::elcom
