// The commands of `quorvel` and the program-wide reference (see command_list.h).
#include "host/command_list.h"

#include <string>

#include "core/progress.h"

namespace quorvel::host {

const CommandSynopsis kCommandList[] = {
    {"run", "run [--dry-run] [-v] PLUGIN|NAME [-C DIR] [--config FILE]",
     "run the job waiting in DIR (default: the current directory) with the driver plug-in PLUGIN, or "
     "the named register NAME, and show its report; --dry-run shows what a run would send, sending "
     "nothing; -v traces every frame or library call on standard error"},
    {"run", "run PLUGIN|NAME [--record DIR] [--changed-only [--delete-missing] | --full] [-C DIR]",
     "send only the goods that differ from what the register last confirmed (a named register keeps "
     "that record in its own folder)"},
    {"config", "config PLUGIN|NAME [-C DIR] [--config FILE] [KEY=VALUE...]",
     "show or change the plug-in's configuration PROG_KOM.CFG in DIR, or show the one a named "
     "register makes"},
    {"check", "check|send|prices|delete|delete-all|import|sales --clear|clear-sales PLUGIN|NAME [-C DIR] [OPTIONS]",
     "write the job file of one operation and run it; see 'quorvel do --help'"},
    {"do", "do OPERATION PLUGIN|NAME [-C DIR] [--model ID] [--goods FILE.csv] [--force]",
     "the same for any operation named as the job file names it"},
    {"job", "job new OPERATION [--goods FILE.csv] [--model ID] [-o FILE | -C DIR] [--force]",
     "write a job file, its goods from a CSV price list"},
    {"registers", "registers [--config FILE] [--list]",
     "list the named registers and whether each answers (with --list only list them)"},
    {"report", "report [DIR] [--history | --job NAME] [--format text|json|csv]",
     "show the result files of the last job in DIR readably or for scripts, the jobs kept in its "
     "history, or one of them"},
    {"dump", "dump FILE.dmp [--raw | --wide]", "show a transmission dump frame by frame, or byte by byte"},
    {"ports", "ports", "list the serial lines, who may open them and who holds them"},
    {"detect", "detect [PLUGIN...] [--port PORT]... [--tcp ADDRESS[:PORT]]... [-v]",
     "find the registers: which driver answers on which line, at which speed, and the 'quorvel "
     "config' line for each"},
    {"drivers", "drivers [PLUGIN]", "the driver plug-ins found, their models, limits and keys"},
    {"demo", "demo [elcom|elzab|posnet...] [-C DIR] [--model N]",
     "run tours of the drivers against simulated registers (all of them by default)"},
    {"--help", "[COMMAND] --help", "show this text, or the help of COMMAND"},
    {"--version", "--version", "show the program's version"},
};
const std::size_t kCommandCount = sizeof kCommandList / sizeof kCommandList[0];

void printCommandList(std::FILE* out) {
  constexpr std::size_t kColumn = 24, kWidth = 80;
  std::fputs("Commands:\n", out);
  for (const CommandSynopsis& c : kCommandList) {
    const std::string synopsis = c.synopsis;
    std::size_t at = 2 + synopsis.size();
    std::fprintf(out, "  %s", synopsis.c_str());
    if (at + 2 > kColumn) {
      std::fputc('\n', out);
      at = 0;
    }
    // The summary word by word, each line starting at the description column.
    const std::string summary = c.summary;
    bool lineStart = true;
    for (std::size_t from = 0; from < summary.size();) {
      std::size_t end = summary.find(' ', from);
      if (end == std::string::npos) end = summary.size();
      const std::string word = summary.substr(from, end - from);
      if (!lineStart && at + 1 + word.size() >= kWidth) {
        std::fputc('\n', out);
        at = 0;
        lineStart = true;
      }
      if (lineStart) {
        std::fprintf(out, "%*s", static_cast<int>(kColumn - at), "");
        at = kColumn;
      } else {
        std::fputc(' ', out);
        ++at;
      }
      std::fputs(word.c_str(), out);
      at += word.size();
      lineStart = false;
      from = end + 1;
    }
    std::fputc('\n', out);
  }
}

const char* const kReferenceHeadings[] = {"Exit status", "Environment", "Files", "Examples"};
const std::size_t kReferenceHeadingCount = sizeof kReferenceHeadings / sizeof kReferenceHeadings[0];

void printGeneralReference(std::FILE* out) {
  std::fputs(
      "\n"
      "Exit status:\n"
      "  0    the job ended with status OK or I (notice); any other command did its work\n"
      "  1    the job ended with status W (warning)\n"
      "  2    the job ended with status E or its result files could not be made durable;\n"
      "       any other command failed\n"
      "  3    the core library refused the job (see the report) or was not found\n"
      "  64   a bad command line: an unknown command or option, or an option the command\n"
      "       does not use\n"
      "  69   quorvel demo: a simulator or a vendor-library stand-in is missing\n"
      "  130  quorvel demo: stopped by SIGINT (Ctrl-C), SIGTERM or SIGHUP\n"
      "  141  quorvel demo: its output was closed\n"
      "\n"
      "Environment:\n"
      "  QUORVEL_LIBRARY_PATH   absolute folders, colon separated, searched first for the\n"
      "                         driver plug-ins and the vendor libraries they load\n"
      "  " QUORVEL_PROGRESS_FILE_VARIABLE
      "  a file of the job directory the core writes progress lines to\n"
      "  QUORVEL_LOCK_DIR       the folder of the registers' lock files (default /var/lock)\n"
      "  QUORVEL_LOCK_WAIT_MS   how long a job waits for a register another job holds\n"
      "                         (default 5000)\n"
      "  QUORVEL_UI             none: never show a form or message box on the terminal\n"
      "  TMPDIR                 where a dry run copies the job (default /tmp)\n"
      "\n"
      "Files:\n"
      "  VEXA_JOB.XML    the job, read from the job directory\n"
      "  PROG_KOM.CFG    the plug-in's configuration in the job directory\n"
      "  RAPORT.XML      the report of the last job: messages and final status\n"
      "  PROG_KOM.XML    the data the register gave in the last job\n"
      "  HISTORIA/       the result files of earlier jobs, one folder per job\n"
      "  QUORVEL.LCK     the job directory's lock, held while a job is loaded\n"
      "  *.dmp           transmission dumps, when the configuration asks for them\n"
      "  /etc/quorvel/registers.conf\n"
      "                  the named registers, one section per register\n"
      "  PREFIX/libexec/quorvel/\n"
      "                  the simulators and vendor-library stand-ins of 'quorvel demo' in an\n"
      "                  installation; no job's library search reaches them\n"
      "\n"
      "Examples:\n"
      "    quorvel ports\n"
      "    quorvel detect\n"
      "    quorvel config quorvel_elcom -C /srv/kasa1 port=/dev/ttyUSB0 speed=38400\n"
      "    quorvel run quorvel_elcom -C /srv/kasa1\n"
      "    quorvel run quorvel_elcom -C /srv/kasa1 --dry-run\n"
      "    quorvel report /srv/kasa1 --history\n"
      "    quorvel report /srv/kasa1 --format json\n"
      "    quorvel registers\n"
      "    quorvel send kasa1 --goods cennik.csv\n"
      "    quorvel run kasa1 --changed-only -C /srv/kasa1\n"
      "    quorvel sales kasa1 --clear\n"
      "    QUORVEL_LIBRARY_PATH=/opt/posnet/lib quorvel run quorvel_posnet -C /srv/kasa2\n"
      "    quorvel demo elcom\n",
      out);
}

}  // namespace quorvel::host
