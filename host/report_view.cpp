#include "host/report_view.h"

#include <expat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/cp1250.h"
#include "core/xml/expat_windows1250.h"

namespace quorvel::host {
namespace {

struct ParseState {
  ReportView* report = nullptr;
  std::vector<std::string> path;
  std::string text;
  ReportMessage current;
  bool sawRoot = false;
  bool sawStatus = false;
};

bool inside(const ParseState& s, const char* parent) {
  return s.path.size() >= 2 && s.path[s.path.size() - 2] == parent;
}

void XMLCALL onStart(void* data, const XML_Char* name, const XML_Char** attrs) {
  auto& s = *static_cast<ParseState*>(data);
  const std::string element = name;
  s.path.push_back(element);
  s.text.clear();
  if (s.path.size() == 1 && element == "Raport") {
    s.sawRoot = true;
    for (int i = 0; attrs[i]; i += 2)
      if (std::string_view(attrs[i]) == "operacja") s.report->operacja = attrs[i + 1];
  } else if (element == "Komunikat" || element == "Status") {
    s.current = ReportMessage{};
  }
}

void XMLCALL onEnd(void* data, const XML_Char* name) {
  auto& s = *static_cast<ParseState*>(data);
  const std::string element = name;
  const bool inMessage = inside(s, "Komunikat") || inside(s, "Status");
  if (inMessage && element == "Typ") {
    s.current.typ = s.text;
  } else if (inMessage && element == "Treść") {
    s.current.tresc = s.text;
  } else if (inMessage && element == "Numer") {
    s.current.numer = std::strtol(s.text.c_str(), nullptr, 10);
  } else if (inMessage && element == "Towar") {
    s.current.towary.push_back(s.text);
  } else if (element == "Komunikat") {
    s.report->messages.push_back(s.current);
  } else if (element == "Status") {
    s.report->status = s.current;
    s.sawStatus = true;
  } else if (element == "Raport" && s.path.size() == 1) {
    s.report->complete = s.sawStatus;
    if (!s.sawStatus) s.report->error = "no status block";
  }
  s.text.clear();
  if (!s.path.empty()) s.path.pop_back();
}

void XMLCALL onText(void* data, const XML_Char* text, int len) {
  static_cast<ParseState*>(data)->text.append(text, static_cast<std::size_t>(len));
}

}  // namespace

bool readReport(const std::string& path, ReportView& report) {
  report = ReportView{};
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    report.error = "cannot open " + path;
    return false;
  }
  std::ostringstream bytes;
  bytes << in.rdbuf();
  const std::string content = bytes.str();

  XML_Parser parser = XML_ParserCreate(nullptr);
  if (!parser) {
    report.error = "out of memory";
    return false;
  }
  ParseState state;
  state.report = &report;
  XML_SetUserData(parser, &state);
  XML_SetElementHandler(parser, onStart, onEnd);
  XML_SetCharacterDataHandler(parser, onText);
  XML_SetUnknownEncodingHandler(parser, quorvel::cp1250::expatUnknownEncoding, nullptr);
  const bool parsed =
      XML_Parse(parser, content.data(), static_cast<int>(content.size()), XML_TRUE) == XML_STATUS_OK;
  if (!parsed) {
    report.complete = false;
    report.error = std::string(XML_ErrorString(XML_GetErrorCode(parser))) + " at line " +
                   std::to_string(XML_GetCurrentLineNumber(parser));
  }
  XML_ParserFree(parser);
  if (!state.sawRoot) {
    if (report.error.empty()) report.error = "no report in " + path;
    return false;
  }
  return true;
}

namespace {
// Texts such as the job reader's parse errors end in a line feed of their own.
std::string trimmed(const std::string& text) {
  std::size_t end = text.size();
  while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r' || text[end - 1] == ' ')) --end;
  return text.substr(0, end);
}
}  // namespace

void printReport(const ReportView& report, std::FILE* out) {
  std::fprintf(out, "Operation: %s\n", report.operacja.c_str());
  for (const auto& m : report.messages) {
    std::fprintf(out, "  %-2s %s", m.typ.c_str(), trimmed(m.tresc).c_str());
    if (m.numer > 0) std::fprintf(out, " (no. %ld)", m.numer);
    std::fputc('\n', out);
    if (!m.towary.empty()) {
      std::fputs("     goods:", out);
      for (std::size_t i = 0; i < m.towary.size(); ++i)
        std::fprintf(out, "%s %s", i ? "," : "", m.towary[i].c_str());
      std::fputc('\n', out);
    }
  }
  if (report.complete) {
    std::fprintf(out, "Status: %s", report.status.typ.c_str());
    if (!report.status.tresc.empty()) std::fprintf(out, "  %s", trimmed(report.status.tresc).c_str());
    std::fputc('\n', out);
  } else {
    std::fputs("Status: (missing)\n", out);
  }
}

}  // namespace quorvel::host
