#include "host/run_diagnosis.h"

#include <algorithm>
#include <string_view>

#include "host/driver_catalog.h"
#include "host/report_view.h"
#include "platform/process.h"
#include "platform/serial_backend.h"
#include "platform/serial_ports.h"

namespace quorvel::host {

namespace {

// The report's texts as the core writes them (UTF-8 once read).
constexpr std::string_view kNoLibrary = "Nie znaleziono biblioteki DLL ";
constexpr std::string_view kSearchNote = " (szukano pliku ";
constexpr std::string_view kFolders = " w folderach: ";
constexpr std::string_view kLinkerCache = " oraz w ld.so.cache";
constexpr std::string_view kPortAccess = "Błąd dostępu do portu szeregowego ";

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

std::vector<std::string> split(std::string_view text, std::string_view separator) {
  std::vector<std::string> parts;
  for (std::size_t at = 0;;) {
    const std::size_t end = text.find(separator, at);
    parts.emplace_back(text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
    if (end == std::string_view::npos) return parts;
    at = end + separator.size();
  }
}

std::string baseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// A plug-in the core did not find: the file, the folders it searched (from the note the core
// adds to its message, in its order), and an installed plug-in of a close name.
void explainMissingPlugin(const std::string& plugin, std::string_view text, std::FILE* out) {
  // Without the note the file was found, and its load handler refused: nothing to add.
  const std::size_t note = text.find(kSearchNote);
  if (note == std::string_view::npos || text.back() != ')') return;
  std::string_view rest = text.substr(note + kSearchNote.size(), text.size() - note - kSearchNote.size() - 1);
  const std::size_t in = rest.find(kFolders);
  if (in == std::string_view::npos) return;
  const std::string file(rest.substr(0, in));
  rest = rest.substr(in + kFolders.size());
  const bool linkerCache = rest.size() >= kLinkerCache.size() && rest.substr(rest.size() - kLinkerCache.size()) == kLinkerCache;
  if (linkerCache) rest.remove_suffix(kLinkerCache.size());
  const std::vector<std::string> folders = rest == "(brak)" ? std::vector<std::string>() : split(rest, ", ");
  std::fprintf(out, "quorvel: no plug-in file %s was found; the folders searched, in this order:\n", file.c_str());
  for (const std::string& folder : folders) std::fprintf(out, "  %s\n", folder.c_str());
  if (linkerCache) std::fputs("  and the dynamic linker's cache (ld.so.cache)\n", out);

  std::vector<std::string> installed;
  for (const FoundDriver& driver : foundDrivers()) installed.emplace_back(driver.description->name);
  const std::string wanted = baseName(plugin);
  if (const std::string near = closestName(wanted, installed); !near.empty()) {
    std::fprintf(out, "quorvel: did you mean %s?\n", near.c_str());
  } else if (!installed.empty()) {
    std::string names;
    for (const std::string& name : installed) names += (names.empty() ? "" : ", ") + name;
    std::fprintf(out, "quorvel: the plug-ins installed are %s\n", names.c_str());
  } else {
    std::fputs("quorvel: no driver plug-in is installed in those folders (see 'quorvel run --help')\n", out);
  }
}

// A serial line the driver could not open: forbidden to this user, or held by someone.
void explainPortAccess(std::string_view text, std::FILE* out) {
  std::string_view port = text.substr(kPortAccess.size());
  // The core adds what it knows in parentheses after the port's name.
  if (!port.empty() && port.back() == ')')
    if (const std::size_t open = port.find(" ("); open != std::string_view::npos) port = port.substr(0, open);
  const std::string device = platform::SerialDevicePath(std::string(port));
  if (!platform::FileExists(device.c_str())) {
    std::fprintf(out, "quorvel: the port %s does not exist now\n", device.c_str());
    return;
  }
  const platform::SerialLineInfo line = platform::DescribeSerialLine(device);
  if (!line.mayOpen) {
    if (!line.group.empty())
      std::fprintf(out,
                   "quorvel: you may not open %s: it belongs to group %s; add the user to that group (and log in "
                   "again)\n",
                   device.c_str(), line.group.c_str());
    else
      std::fprintf(out, "quorvel: you may not open %s: only its owner may\n", device.c_str());
    return;
  }
  if (line.holders.empty()) {
    std::fprintf(out,
                 "quorvel: the port %s was held by another program, which has let it go since or which this user "
                 "cannot see (see 'quorvel ports')\n",
                 device.c_str());
    return;
  }
  for (const std::string& holder : line.holders) {
    // "PID NAME", NAME missing when it could not be read.
    const std::size_t space = holder.find(' ');
    const std::string pid = holder.substr(0, space);
    const std::string program = space == std::string::npos ? std::string() : holder.substr(space + 1);
    std::string who = "PID " + pid + (program.empty() ? "" : " (program " + program + ")");
    if (program == "quorvel") who = "another job, " + who;
    std::fprintf(out, "quorvel: the port %s is held by %s\n", device.c_str(), who.c_str());
  }
}

}  // namespace

std::size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::string closestName(const std::string& name, const std::vector<std::string>& candidates) {
  const std::size_t limit = std::max<std::size_t>(2, name.size() / 3);
  std::string best;
  std::size_t bestDistance = limit + 1;
  for (const std::string& candidate : candidates) {
    const std::size_t d = editDistance(name, candidate);
    if (d < bestDistance && d > 0) {
      best = candidate;
      bestDistance = d;
    }
  }
  return best;
}

void explainReport(const std::string& plugin, const ReportView& report, std::FILE* out) {
  bool pluginExplained = false, portExplained = false;
  for (const ReportMessage& m : report.messages) {
    if (!pluginExplained && startsWith(m.text, kNoLibrary) && m.text.find(baseName(plugin)) != std::string::npos) {
      explainMissingPlugin(plugin, m.text, out);
      pluginExplained = true;
    } else if (!portExplained && startsWith(m.text, kPortAccess)) {
      explainPortAccess(m.text, out);
      portExplained = true;
    }
  }
  std::fflush(out);
}

}  // namespace quorvel::host
