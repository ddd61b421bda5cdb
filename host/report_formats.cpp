#include "host/report_formats.h"

#include <algorithm>
#include <utility>

namespace quorvel::host {

namespace {

// A record's fields by name, in the order each name first comes, every value of a name kept.
std::vector<std::pair<std::string, std::vector<std::string>>> grouped(const DeviceRecord& record) {
  std::vector<std::pair<std::string, std::vector<std::string>>> fields;
  for (const auto& [name, value] : record.fields) {
    auto it = std::find_if(fields.begin(), fields.end(), [&](const auto& f) { return f.first == name; });
    if (it == fields.end()) it = fields.insert(fields.end(), {name, {}});
    it->second.push_back(value);
  }
  return fields;
}

std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

void csvRow(const std::vector<std::string>& cells, std::FILE* out) {
  for (std::size_t i = 0; i < cells.size(); ++i) std::fprintf(out, "%s%s", i ? "," : "", csvField(cells[i]).c_str());
  std::fputs("\r\n", out);
}

std::string jsonMessage(const ReportMessage& m) {
  std::string goods;
  for (const std::string& g : m.goods) goods += (goods.empty() ? "" : ", ") + jsonString(g);
  return "{\"type\": " + jsonString(m.type) + ", \"text\": " + jsonString(m.text) +
         ", \"number\": " + (m.number > 0 ? std::to_string(m.number) : "null") + ", \"goods\": [" + goods + "]}";
}

}  // namespace

std::string jsonString(const std::string& text) {
  std::string s = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"': s += "\\\""; break;
      case '\\': s += "\\\\"; break;
      case '\n': s += "\\n"; break;
      case '\r': s += "\\r"; break;
      case '\t': s += "\\t"; break;
      default:
        if (u < 0x20 || u == 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
          s += escaped;
        } else {
          s += c;
        }
    }
  }
  return s + "\"";
}

void printJson(const std::string& directory, const std::string& job, const ReportView& report,
               const DeviceDataView& data, std::FILE* out) {
  std::fprintf(out, "{\n  \"directory\": %s,\n", jsonString(directory).c_str());
  if (!job.empty()) std::fprintf(out, "  \"job\": %s,\n", jsonString(job).c_str());
  const std::string& operation = report.operation.empty() ? data.operation : report.operation;
  std::fprintf(out, "  \"operation\": %s,\n", jsonString(operation).c_str());
  std::fprintf(out, "  \"complete\": %s,\n", report.complete && data.complete ? "true" : "false");
  if (report.complete)
    std::fprintf(out, "  \"status\": {\"type\": %s, \"text\": %s},\n", jsonString(report.status.type).c_str(),
                 jsonString(report.status.text).c_str());
  else
    std::fputs("  \"status\": null,\n", out);
  std::fputs("  \"messages\": [", out);
  for (std::size_t i = 0; i < report.messages.size(); ++i)
    std::fprintf(out, "%s\n    %s", i ? "," : "", jsonMessage(report.messages[i]).c_str());
  std::fputs(report.messages.empty() ? "],\n" : "\n  ],\n", out);
  std::fputs("  \"records\": [", out);
  for (std::size_t i = 0; i < data.records.size(); ++i) {
    std::string record = "{\"record\": " + jsonString(data.records[i].kind);
    for (const auto& [name, values] : grouped(data.records[i])) {
      record += ", " + jsonString(name) + ": ";
      if (values.size() == 1) {
        record += jsonString(values.front());
      } else {
        record += "[";
        for (std::size_t v = 0; v < values.size(); ++v) record += (v ? ", " : "") + jsonString(values[v]);
        record += "]";
      }
    }
    std::fprintf(out, "%s\n    %s}", i ? "," : "", record.c_str());
  }
  std::fputs(data.records.empty() ? "]\n}\n" : "\n  ]\n}\n", out);
}

void printCsv(const DeviceDataView& data, std::FILE* out) {
  const bool sales = std::any_of(data.records.begin(), data.records.end(), [](const DeviceRecord& r) { return r.kind == "Obrót"; });
  const std::string kind = sales ? "Obrót" : "Towar";
  std::vector<std::vector<std::pair<std::string, std::vector<std::string>>>> rows;
  std::vector<std::string> columns;
  for (const DeviceRecord& r : data.records) {
    if (r.kind != kind) continue;
    rows.push_back(grouped(r));
    for (const auto& field : rows.back())
      if (std::find(columns.begin(), columns.end(), field.first) == columns.end()) columns.push_back(field.first);
  }
  if (rows.empty()) return;
  csvRow(columns, out);
  for (const auto& row : rows) {
    std::vector<std::string> cells;
    for (const std::string& column : columns) {
      std::string cell;
      for (const auto& [name, values] : row)
        if (name == column)
          for (const std::string& v : values) cell += (cell.empty() ? "" : ";") + v;
      cells.push_back(cell);
    }
    csvRow(cells, out);
  }
}

void printHistoryJson(const std::string& directory, const std::vector<KeptJobRow>& jobs, std::FILE* out) {
  std::fprintf(out, "{\n  \"directory\": %s,\n  \"jobs\": [", jsonString(directory).c_str());
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    const KeptJobRow& j = jobs[i];
    std::fprintf(out,
                 "%s\n    {\"folder\": %s, \"operation\": %s, \"status\": %s, \"salesRecords\": %d, \"salesTotal\": %s, "
                 "\"current\": %s, \"undelivered\": %s}",
                 i ? "," : "", jsonString(j.folder).c_str(), jsonString(j.operation).c_str(),
                 j.status.empty() ? "null" : jsonString(j.status).c_str(), j.salesRecords, jsonString(j.salesTotal).c_str(),
                 j.current ? "true" : "false", j.undelivered ? "true" : "false");
  }
  std::fputs(jobs.empty() ? "]\n}\n" : "\n  ]\n}\n", out);
}

void printHistoryCsv(const std::vector<KeptJobRow>& jobs, std::FILE* out) {
  csvRow({"folder", "operation", "status", "salesRecords", "salesTotal", "current", "undelivered"}, out);
  for (const KeptJobRow& j : jobs)
    csvRow({j.folder, j.operation, j.status, std::to_string(j.salesRecords), j.salesTotal, j.current ? "yes" : "no",
            j.undelivered ? "yes" : "no"},
           out);
}

}  // namespace quorvel::host
