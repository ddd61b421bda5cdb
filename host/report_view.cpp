#include "host/report_view.h"

#include <expat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/xml/expat_windows1250.h"
#include "platform/cp1250.h"
#include "platform/job_dir.h"

namespace quorvel::host {
namespace {

// What the character-data handler fills: the text of the element being read.
struct TextState {
  std::string text;
};

struct ParseState : TextState {
  ReportView* report = nullptr;
  std::vector<std::string> path;
  ReportMessage current;
  bool sawRoot = false;
  bool sawStatus = false;
};

bool inside(const ParseState& s, const char* parent) {
  return s.path.size() >= 2 && s.path[s.path.size() - 2] == parent;
}

void XMLCALL onStart(void* data, const XML_Char* name, const XML_Char** attrs) {
  auto& s = *static_cast<ParseState*>(static_cast<TextState*>(data));
  const std::string element = name;
  s.path.push_back(element);
  s.text.clear();
  if (s.path.size() == 1 && element == "Raport") {
    s.sawRoot = true;
    for (int i = 0; attrs[i]; i += 2)
      if (std::string_view(attrs[i]) == "operacja") s.report->operation = attrs[i + 1];
  } else if (element == "Komunikat" || element == "Status") {
    s.current = ReportMessage{};
  }
}

void XMLCALL onEnd(void* data, const XML_Char* name) {
  auto& s = *static_cast<ParseState*>(static_cast<TextState*>(data));
  const std::string element = name;
  const bool inMessage = inside(s, "Komunikat") || inside(s, "Status");
  if (inMessage && element == "Typ") {
    s.current.type = s.text;
  } else if (inMessage && element == "Treść") {
    s.current.text = s.text;
  } else if (inMessage && element == "Numer") {
    s.current.number = std::strtol(s.text.c_str(), nullptr, 10);
  } else if (inMessage && element == "Towar") {
    s.current.goods.push_back(s.text);
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

}  // namespace

namespace {

// Reads the whole file and runs Expat over it with the windows-1250 decoding; the handlers get
// `state` as their user data, and character data is gathered into its text. Returns false
// when the file cannot be opened or parsed to its end (`error` says why).
bool parseFile(const std::string& path, TextState* state, XML_StartElementHandler start, XML_EndElementHandler end,
               std::string& error) {
  // A FIFO or a device under a result file's name would hold the program for ever.
  quorvel::platform::ReadOpenError why;
  std::FILE* in = quorvel::platform::OpenRegularFileForReading(path.c_str(), why);
  if (!in) {
    error = why == quorvel::platform::ReadOpenError::NotRegular ? path + " is not a regular file" : "cannot open " + path;
    return false;
  }
  std::string content;
  char chunk[65536];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;) content.append(chunk, n);
  const bool readWhole = !std::ferror(in);
  std::fclose(in);
  if (!readWhole) {
    error = "cannot read " + path;
    return false;
  }

  XML_Parser parser = XML_ParserCreate(nullptr);
  if (!parser) {
    error = "out of memory";
    return false;
  }
  XML_SetUserData(parser, state);
  XML_SetElementHandler(parser, start, end);
  XML_SetCharacterDataHandler(parser, [](void* data, const XML_Char* text, int len) {
    static_cast<TextState*>(data)->text.append(text, static_cast<std::size_t>(len));
  });
  XML_SetUnknownEncodingHandler(parser, quorvel::cp1250::expatUnknownEncoding, nullptr);
  const bool parsed =
      XML_Parse(parser, content.data(), static_cast<int>(content.size()), XML_TRUE) == XML_STATUS_OK;
  if (!parsed)
    error = std::string(XML_ErrorString(XML_GetErrorCode(parser))) + " at line " +
            std::to_string(XML_GetCurrentLineNumber(parser));
  XML_ParserFree(parser);
  return parsed;
}

}  // namespace

bool readReport(const std::string& path, ReportView& report) {
  report = ReportView{};
  ParseState state;
  state.report = &report;
  if (!parseFile(path, &state, onStart, onEnd, report.error)) report.complete = false;
  if (!state.sawRoot) {
    if (report.error.empty()) report.error = "no report in " + path;
    return false;
  }
  return true;
}

namespace {

struct DataState : TextState {
  DeviceDataView* data = nullptr;
  std::size_t depth = 0;
  bool sawRoot = false;
};

void XMLCALL onDataStart(void* user, const XML_Char* name, const XML_Char** attrs) {
  auto& s = *static_cast<DataState*>(static_cast<TextState*>(user));
  ++s.depth;
  s.text.clear();
  if (s.depth == 1) {
    s.sawRoot = std::string_view(name) == "Dane";
    for (int i = 0; s.sawRoot && attrs[i]; i += 2)
      if (std::string_view(attrs[i]) == "operacja") s.data->operation = attrs[i + 1];
  } else if (s.depth == 2) {
    s.data->records.push_back(DeviceRecord{name, {}});
  } else if (s.depth == 3 && !s.data->records.empty()) {
    std::string field = name;
    for (int i = 0; attrs[i]; i += 2)
      if (std::string_view(attrs[i]) == "id") field += std::string("[") + attrs[i + 1] + "]";
    s.data->records.back().fields.emplace_back(field, std::string());
  }
}

void XMLCALL onDataEnd(void* user, const XML_Char*) {
  auto& s = *static_cast<DataState*>(static_cast<TextState*>(user));
  if (s.depth == 3 && !s.data->records.empty() && !s.data->records.back().fields.empty())
    s.data->records.back().fields.back().second = s.text;
  if (s.depth == 1) s.data->complete = s.sawRoot;
  s.text.clear();
  --s.depth;
}

}  // namespace

bool readDeviceData(const std::string& path, DeviceDataView& data) {
  data = DeviceDataView{};
  DataState state;
  state.data = &data;
  parseFile(path, &state, onDataStart, onDataEnd, data.error);
  if (!state.sawRoot) {
    if (data.error.empty()) data.error = "no device data in " + path;
    return false;
  }
  if (!data.complete && data.error.empty()) data.error = "the file ends early";
  return true;
}

void printDeviceData(const DeviceDataView& data, std::FILE* out) {
  for (const DeviceRecord& r : data.records) {
    std::fprintf(out, "    %s:", r.kind == "Obrót" ? "sprzedaż" : r.kind == "Towar" ? "towar" : r.kind.c_str());
    for (const auto& [name, value] : r.fields) std::fprintf(out, "  %s=%s", name.c_str(), value.c_str());
    std::fputc('\n', out);
  }
  if (data.records.empty()) std::fputs("    (no records)\n", out);
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
  std::fprintf(out, "Operation: %s\n", report.operation.c_str());
  for (const auto& m : report.messages) {
    // The system's text whole on its line; what the program adds goes on lines of its own.
    std::fprintf(out, "  %-2s %s\n", m.type.c_str(), trimmed(m.text).c_str());
    if (m.number > 0) std::fprintf(out, "     number: %ld\n", m.number);
    if (!m.goods.empty()) {
      std::fputs("     goods:", out);
      for (std::size_t i = 0; i < m.goods.size(); ++i)
        std::fprintf(out, "%s %s", i ? "," : "", m.goods[i].c_str());
      std::fputc('\n', out);
    }
  }
  if (report.complete) {
    std::fprintf(out, "Status: %s", report.status.type.c_str());
    if (!report.status.text.empty()) std::fprintf(out, "  %s", trimmed(report.status.text).c_str());
    std::fputc('\n', out);
  } else {
    std::fputs("Status: (missing)\n", out);
  }
}

}  // namespace quorvel::host
