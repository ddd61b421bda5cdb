#include "host/job_file.h"

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "core/plugin_contract.h"
#include "platform/cp1250.h"
#include "platform/job_dir.h"

namespace quorvel::host {

namespace {

constexpr const char* kMark = "<!-- Written by quorvel";
constexpr const char* kNamespace = "http://schemas.quorvel.org/UF/Dane.xsd";

struct Alias {
  const char* alias;
  const char* operacja;  // UTF-8
};
const Alias kAliases[] = {
    {"check", "SprawdzeniePołączenia"}, {"send", "PrzesyłanieTowarów"},       {"prices", "ZmianaCenTowarów"},
    {"delete", "UsuwanieTowarów"},      {"delete-all", "UsuwanieWszystkichTowarów"}, {"import", "ImportTowarów"},
    {"sales", "OdbiórSprzedaży"},       {"clear-sales", "UsuwanieSprzedaży"},
};

// The operations whose job carries goods (the reader keeps goods for these only).
bool takesGoods(const std::string& operacja) {
  return operacja == "PrzesyłanieTowarów" || operacja == "ZmianaCenTowarów" || operacja == "UsuwanieTowarów" ||
         operacja == "SprawdzenieDanychTowarów";
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return std::string(s);
}

bool validUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    const std::size_t len = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    if (len == 0 || i + len > s.size() || (len == 2 && b < 0xC2)) return false;
    for (std::size_t k = 1; k < len; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += len;
  }
  return true;
}

bool digitsOnly(std::string_view s) {
  if (s.empty()) return false;
  for (const char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// A whole number within [min, max]; a sign only where min < 0.
bool number(std::string_view s, long long min, long long max) {
  bool negative = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+') && min < 0) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  if (!digitsOnly(s) || s.size() > 12) return false;
  const long long v = negative ? -std::stoll(std::string(s)) : std::stoll(std::string(s));
  return v >= min && v <= max;
}

// The value of a cell as its job field takes it; false with `why`.
bool fieldValue(const std::string& field, const std::string& cell, std::vector<std::string>& values, std::string& why) {
  for (const char c : cell) {
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
      why = "a control character or a line break";
      return false;
    }
  }
  const std::string v = trim(cell);
  if (v.empty()) return true;
  if (field == "Id" && !number(v, 0, 4294967295LL)) why = "not a number 0-4294967295";
  if (field == "KP" && !number(v, 1, 999999)) why = "not a number 1-999999";
  if ((field == "Va" || field == "JM" || field == "Gr") && !number(v, -2147483648LL, 2147483647LL))
    why = "not a whole number";
  if (!why.empty()) return false;
  if (field == "Ty") {
    if (v != "T" && v != "O" && v != "t" && v != "o") {
      why = "not T (goods) or O (package)";
      return false;
    }
    values.push_back(v == "t" ? "T" : v == "o" ? "O" : v);
  } else if (field == "Ce") {
    std::string price = v;
    if (const auto comma = price.find(','); comma != std::string::npos) price[comma] = '.';
    std::string_view digits = price;
    if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) digits.remove_prefix(1);
    const auto dot = digits.find('.');
    if (!digitsOnly(digits.substr(0, dot)) ||
        (dot != std::string::npos && !digitsOnly(digits.substr(dot + 1)) && dot + 1 != digits.size())) {
      why = "not a price (12.50 or 12,50)";
      return false;
    }
    values.push_back(price);
  } else if (field == "CO") {
    const std::string l = lower(v);
    if (l == "1" || l == "yes" || l == "tak" || l == "true") {
      values.push_back("1");
    } else if (l == "0" || l == "no" || l == "nie" || l == "false") {
      values.push_back("0");
    } else {
      why = "not 0 or 1 (also yes/no, tak/nie, true/false)";
      return false;
    }
  } else if (field == "DK") {
    for (std::size_t at = 0; at < v.size();) {
      const auto end = std::min(v.find_first_of(" \t", at), v.size());
      if (end > at) values.push_back(v.substr(at, end - at));
      at = end + 1;
    }
  } else {
    values.push_back(v);
  }
  return true;
}

// The rows of a CSV text: cells, and the line each row starts on. RFC 4180: a quoted cell may
// hold the separator, line breaks and doubled quotes. False with `error` (line) on a cell whose
// quotes do not close or text after a closing quote.
struct Row {
  int line = 0;
  std::vector<std::string> cells;
};

bool splitCsv(const std::string& text, char separator, std::vector<Row>& rows, std::string& error) {
  int line = 1;
  std::size_t i = 0;
  while (i < text.size()) {
    Row row;
    row.line = line;
    for (;;) {
      std::string cell;
      if (i < text.size() && text[i] == '"') {
        const int opened = line;
        ++i;
        for (;;) {
          if (i >= text.size()) {
            error = std::to_string(opened) + ": a quoted cell does not end";
            return false;
          }
          if (text[i] == '"') {
            if (i + 1 < text.size() && text[i + 1] == '"') {
              cell += '"';
              i += 2;
              continue;
            }
            ++i;
            break;
          }
          if (text[i] == '\n') ++line;
          cell += text[i++];
        }
        if (i < text.size() && text[i] == '\r') ++i;
        if (i < text.size() && text[i] != separator && text[i] != '\n') {
          error = std::to_string(line) + ": text after the closing quote of a cell";
          return false;
        }
      } else {
        while (i < text.size() && text[i] != separator && text[i] != '\n') cell += text[i++];
        if (!cell.empty() && cell.back() == '\r') cell.pop_back();
      }
      row.cells.push_back(cell);
      if (i < text.size() && text[i] == separator) {
        ++i;
        continue;
      }
      ++i;  // the line break, or past the end
      ++line;
      break;
    }
    bool blank = true;
    for (const std::string& c : row.cells) blank = blank && trim(c).empty();
    if (!blank) rows.push_back(std::move(row));
  }
  return true;
}

}  // namespace

std::string xmlEscaped(std::string_view text, bool attribute) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += attribute ? "&quot;" : "\""; break;
      default: out += c;
    }
  }
  return out;
}

std::vector<JobOperation> jobOperations() {
  std::vector<JobOperation> all;
  for (const Alias& a : kAliases) all.push_back({a.operacja, a.alias, takesGoods(a.operacja)});
  for (const auto& op : quorvel::contract::kOperations) {
    const std::string name = cp1250::toUtf8(op.operacja);
    bool aliased = name == "Konfiguracja";
    for (const Alias& a : kAliases) aliased = aliased || name == a.operacja;
    if (!aliased) all.push_back({name, "", takesGoods(name)});
  }
  return all;
}

bool findJobOperation(const std::string& name, JobOperation& operation, std::string& error) {
  std::string names;
  for (const JobOperation& op : jobOperations()) {
    if (name == op.operacja || (!op.alias.empty() && name == op.alias)) {
      operation = op;
      return true;
    }
    names += (names.empty() ? "" : ", ") + (op.alias.empty() ? op.operacja : op.alias);
  }
  error = name == "Konfiguracja" ? "Konfiguracja shows the configuration form; 'quorvel config' makes PROG_KOM.CFG"
                                 : "unknown operation '" + name + "'; the operations are " + names;
  return false;
}

bool readPriceList(const std::string& bytes, const std::string& name, std::vector<JobGoods>& goods, std::string& error) {
  std::string text = bytes;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  if (!validUtf8(text)) text = cp1250::toUtf8(text);
  const std::string header = text.substr(0, text.find('\n'));
  const char separator = header.find(';') != std::string::npos    ? ';'
                         : header.find('\t') != std::string::npos ? '\t'
                                                                  : ',';
  std::vector<Row> rows;
  std::string where;
  if (!splitCsv(text, separator, rows, where)) {
    error = name + ":" + where;
    return false;
  }
  if (rows.empty()) {
    error = name + ": empty; the first row names the columns (" + std::string(kPriceListColumns[0]) + ", ...)";
    return false;
  }
  std::vector<std::string> fields;
  for (const std::string& cell : rows[0].cells) {
    const std::string column = trim(cell);
    std::string field;
    for (const char* known : kPriceListColumns)
      if (lower(column) == lower(known)) field = known;
    std::string all;
    for (const char* known : kPriceListColumns) all += (all.empty() ? "" : ",") + std::string(known);
    if (field.empty()) {
      error = name + ":" + std::to_string(rows[0].line) + ": unknown column '" + column + "'; the columns are " + all;
      return false;
    }
    for (const std::string& seen : fields) {
      if (seen == field) {
        error = name + ":" + std::to_string(rows[0].line) + ": the column " + field + " is named twice";
        return false;
      }
    }
    fields.push_back(field);
  }
  goods.clear();
  for (std::size_t r = 1; r < rows.size(); ++r) {
    const Row& row = rows[r];
    const std::string at = name + ":" + std::to_string(row.line) + ": ";
    if (row.cells.size() > fields.size()) {
      error = at + std::to_string(row.cells.size()) + " cells, the header names " + std::to_string(fields.size());
      return false;
    }
    JobGoods record;
    for (const char* field : kPriceListColumns) {
      for (std::size_t c = 0; c < row.cells.size(); ++c) {
        if (fields[c] != field) continue;
        std::vector<std::string> values;
        std::string why;
        if (!fieldValue(field, row.cells[c], values, why)) {
          error = at + field + " '" + trim(row.cells[c]) + "': " + why;
          return false;
        }
        for (std::string& v : values) record.emplace_back(field, std::move(v));
      }
    }
    goods.push_back(std::move(record));
  }
  if (goods.empty()) {
    error = name + ": no goods below the header row";
    return false;
  }
  return true;
}

std::string jobFileText(const std::string& operacja, const std::string& model, const std::vector<JobGoods>& goods) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";
  xml += std::string(kMark) + " (a job file of its own: it may replace this file) -->\r\n";
  xml += "<Dane operacja=\"" + xmlEscaped(operacja, true) + "\"";
  if (!model.empty()) xml += " idModelu=\"" + xmlEscaped(model, true) + "\"";
  xml += " xmlns=\"" + std::string(kNamespace) + "\">\r\n";
  for (const JobGoods& g : goods) {
    xml += "  <Towar>";
    for (const auto& [tag, value] : g) xml += "<" + tag + ">" + xmlEscaped(value, false) + "</" + tag + ">";
    xml += "</Towar>\r\n";
  }
  xml += "</Dane>\r\n";
  return xml;
}

bool writtenByProgram(const std::string& bytes) {
  const auto declarationEnd = bytes.find("?>");
  if (declarationEnd == std::string::npos) return false;
  const auto mark = bytes.find(kMark, declarationEnd);
  return mark != std::string::npos && mark == bytes.find_first_not_of("\r\n", declarationEnd + 2);
}

bool writeJobFile(const std::string& path, const std::string& text, bool force, std::string& error) {
  const platform::FileKind kind = platform::KindOfFile(path.c_str());
  if (kind != platform::FileKind::Missing && !force) {
    std::string present;
    bool readable = false;
    platform::ReadOpenError why = platform::ReadOpenError::None;
    if (std::FILE* in = platform::OpenRegularFileForReading(path.c_str(), why)) {
      char head[512];
      bool failed = false;
      present.assign(head, platform::ReadFromFile(in, head, sizeof head, path.c_str(), failed));
      readable = !failed;
      std::fclose(in);
    }
    if (!readable || !writtenByProgram(present)) {
      error = path + " is a job this program did not write; it is left as it is (--force replaces it)";
      return false;
    }
  }
  if (platform::ReplaceFileWhole(path.c_str(), text.data(), text.size()) != platform::ReplaceError::None) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace quorvel::host
