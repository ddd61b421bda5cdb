// `quorvel report`: the two windows-1250 result files of a job, readable in the terminal.
#include "host/report_command.h"

#include <string>
#include <string_view>

#include "host/report_view.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUnreadable = 2;
constexpr int kExitUsage = 64;

}  // namespace

void printReportHelp(std::FILE* out) {
  std::fputs(
      "Usage: quorvel report [DIR]\n"
      "\n"
      "Shows the result files of the last job in the job directory DIR (default: the current\n"
      "directory) in the terminal's encoding (UTF-8); the files themselves are windows-1250.\n"
      "\n"
      "Shown:\n"
      "  RAPORT.XML     every message (type, text, number, goods identifiers) and the status\n"
      "  PROG_KOM.XML   one line per record: towar (goods accepted by the register or read\n"
      "                 from it) or sprzedaż (sales counters), with their fields\n"
      "\n"
      "Exit status: 0 when both files were read whole, 2 when either is missing,\n"
      "unreadable or cut short, 64 for a bad command line.\n",
      out);
}

int runReportCommand(int argc, char** argv) {
  std::string directory = ".";
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      printReportHelp(stdout);
      return kExitOk;
    }
    if ((arg.size() > 1 && arg[0] == '-') || i > 1) {
      std::fprintf(stderr, "quorvel report: unexpected argument %s\nTry 'quorvel report --help'.\n", argv[i]);
      return kExitUsage;
    }
    directory = argv[i];
  }
  int status = kExitOk;

  quorvel::host::ReportView report;
  std::printf("RAPORT.XML\n");
  if (quorvel::host::readReport(directory + "/RAPORT.XML", report)) {
    quorvel::host::printReport(report, stdout);
  }
  if (!report.complete) {
    std::fprintf(stderr, "quorvel report: RAPORT.XML: %s\n", report.error.c_str());
    status = kExitUnreadable;
  }

  quorvel::host::DeviceDataView data;
  std::printf("\nPROG_KOM.XML\n");
  if (quorvel::host::readDeviceData(directory + "/PROG_KOM.XML", data)) {
    quorvel::host::printDeviceData(data, stdout);
  }
  if (!data.complete) {
    std::fprintf(stderr, "quorvel report: PROG_KOM.XML: %s\n", data.error.c_str());
    status = kExitUnreadable;
  }
  // A failed job's device data may list goods the register never took, or only part of the
  // sales: a host acts on PROG_KOM.XML only after a status other than E.
  if (report.complete && report.status.typ == "E")
    std::printf("\nThe job failed (status E): its PROG_KOM.XML must not be taken over.\n");
  std::fflush(stdout);
  return status;
}
