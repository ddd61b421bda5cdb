#include "host/drivers_command.h"

#include <string>
#include <string_view>

#include "host/driver_catalog.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitMissing = 1;
constexpr int kExitUsage = 64;

std::string text(const char* t) { return t ? t : ""; }

void printDriver(std::FILE* out, const quorvel::host::FoundDriver& found) {
  const QuorvelDriverDescription& d = *found.description;
  std::fprintf(out, "%s  %s\n  %s\n", d.name, found.path.c_str(), text(d.summary).c_str());
  if (d.anyModel) std::fputs("  Takes every model name a job gives; what follows holds for all of them.\n", out);
  for (std::size_t m = 0; m < d.modelCount; ++m) {
    const QuorvelModel& model = d.models[m];
    std::string head = "\n  Model " + text(model.id);
    std::string facts;
    if (model.code) facts += "code " + std::to_string(model.code);
    if (model.pluCapacity) facts += (facts.empty() ? "" : ", ") + std::to_string(model.pluCapacity) + " PLUs";
    if (!facts.empty()) head += " (" + facts + ")";
    std::fprintf(out, "%s:\n", head.c_str());
    for (const auto& [label, value] : quorvel::host::limitItems(model.limits))
      quorvel::host::printHelpItem(out, "  " + label, 22, value);
  }
  std::fprintf(out, "\n  Keys (quorvel config %s KEY=VALUE):\n", d.name);
  quorvel::host::printDriverKeys(out, d, true, "  ");
}

}  // namespace

void printDriversHelp(std::FILE* out) {
  std::fputs(
      "Usage: quorvel drivers [PLUGIN]\n"
      "\n"
      "Lists the driver plug-ins found (their files), the register models each drives with\n"
      "the limits a model puts on the goods of a job, and the keys of each plug-in's\n"
      "configuration with their values and defaults, as each plug-in describes itself.\n"
      "With PLUGIN only that plug-in. Nothing is loaded for a job, no register is asked.\n"
      "\n"
      "Exit status: 0 done, 1 no plug-in (or not PLUGIN) found, 64 a bad command line.\n",
      out);
}

int runDriversCommand(int argc, char** argv, std::FILE* out) {
  std::string wanted;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      printDriversHelp(out);
      return kExitOk;
    }
    if ((!arg.empty() && arg[0] == '-') || !wanted.empty()) {
      std::fprintf(stderr, "quorvel: drivers takes one plug-in name at most (%s)\nTry 'quorvel drivers --help'.\n",
                   argv[i]);
      return kExitUsage;
    }
    wanted = arg;
    // The plug-in's file name is taken as well as its name.
    for (std::string_view ext : {".so", ".dll"})
      if (wanted.size() > ext.size() && std::string_view(wanted).substr(wanted.size() - ext.size()) == ext)
        wanted.resize(wanted.size() - ext.size());
  }
  bool shown = false;
  for (const auto& found : quorvel::host::foundDrivers()) {
    if (!found.description || (!wanted.empty() && wanted != found.description->name)) continue;
    if (shown) std::fputc('\n', out);
    printDriver(out, found);
    shown = true;
  }
  if (!shown) {
    std::fprintf(stderr,
                 "quorvel: %s%s found; the folders searched: ", wanted.empty() ? "no driver plug-in" : "no plug-in ",
                 wanted.c_str());
    const auto dirs = quorvel::host::pluginDirectories();
    for (std::size_t i = 0; i < dirs.size(); ++i) std::fprintf(stderr, "%s%s", i ? ", " : "", dirs[i].c_str());
    std::fputc('\n', stderr);
    return kExitMissing;
  }
  return kExitOk;
}
