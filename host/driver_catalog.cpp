#include "host/driver_catalog.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <set>
#include <string_view>

#include "core/plugin_contract.h"
#include "host/module_path.h"
#include "plugin/key_text.h"

namespace quorvel::host {

namespace {

constexpr std::size_t kWidth = 80;

std::string text(const char* t) { return t ? t : ""; }

std::string directoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash);
}

// Characters as the record keeps them: a UTF-8 character is one windows-1250 byte.
std::size_t characters(std::string_view value) {
  return static_cast<std::size_t>(
      std::count_if(value.begin(), value.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::optional<long> digitsValue(std::string_view value) {
  if (value.empty() || value.size() > 9) return std::nullopt;
  long n = 0;
  for (const char c : value) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  return n;
}

bool choiceAccepts(const QuorvelConfigKey& key, std::string_view value) {
  for (std::size_t i = 0; i < key.choiceCount; ++i) {
    const QuorvelChoice& c = key.choices[i];
    if ((c.value && plugin::sameNoCase(value, c.value)) || (c.alias && plugin::sameNoCase(value, c.alias))) return true;
  }
  return false;
}

std::string joinedValues(const QuorvelConfigKey& key, bool aliases, const char* last) {
  std::string all;
  for (std::size_t i = 0; i < key.choiceCount; ++i) {
    if (i > 0) all += i + 1 == key.choiceCount && last ? last : ", ";
    all += text(aliases ? key.choices[i].alias : key.choices[i].value);
  }
  return all;
}

std::string rangeMessage(long low, long high) {
  return "Wprowadź liczbę całkowitą z zakresu od " + std::to_string(low) + " do " + std::to_string(high) + ".";
}

// Why the value does not fit the key by its type alone (the number ranges come later).
std::optional<std::string> valueRefusal(const QuorvelConfigKey& key, std::string_view value) {
  if (key.flags & QUORVEL_KEY_READ_ONLY) return key.refusal ? key.refusal : "read only";
  switch (key.type) {
    case QUORVEL_KEY_SWITCH:
      if (!plugin::parseSwitch(value)) return key.refusal ? key.refusal : "write yes or no";
      break;
    case QUORVEL_KEY_CHOICE:
      if (!choiceAccepts(key, value)) return key.refusal ? std::string(key.refusal) : "must be one of " + joinedValues(key, false, nullptr);
      break;
    case QUORVEL_KEY_TEXT:
    case QUORVEL_KEY_PATH: {
      if (value.empty() && key.minimum > 0) return std::string("may not be empty");
      const std::size_t length = key.type == QUORVEL_KEY_PATH ? value.size() : characters(value);
      if (length > static_cast<std::size_t>(key.maximum)) return "at most " + std::to_string(key.maximum) + " characters";
      break;
    }
    default: break;
  }
  return std::nullopt;
}

std::optional<std::string> rangeRefusal(const QuorvelConfigKey& key, std::string_view value) {
  if (key.type != QUORVEL_KEY_NUMBER || (key.flags & (QUORVEL_KEY_RANGE_CONDITIONAL | QUORVEL_KEY_READ_ONLY))) return std::nullopt;
  const std::optional<long> n = digitsValue(value);
  if (!n || *n < key.minimum || *n > key.maximum) return key.refusal ? std::string(key.refusal) : rangeMessage(key.minimum, key.maximum);
  return std::nullopt;
}

const QuorvelConfigKey* keyNamed(const QuorvelDriverDescription& d, std::string_view name) {
  for (std::size_t i = 0; i < d.keyCount; ++i)
    if (d.keys[i].name && name == d.keys[i].name) return &d.keys[i];
  return nullptr;
}

// An item of a help list: the term in a column of `width`, the text wrapped within 80 columns
// under itself.
void printItem(std::FILE* out, const std::string& term, std::size_t width, const std::string& body) {
  std::string line = "  " + term;
  line.resize(std::max(line.size() + 2, width), ' ');
  const std::size_t indent = line.size();
  bool first = true;
  std::size_t at = 0;
  while (at < body.size()) {
    std::size_t end = body.find(' ', at);
    if (end == std::string::npos) end = body.size();
    const std::string word = body.substr(at, end - at);
    if (!first && characters(line) + 1 + characters(word) > kWidth) {
      std::fprintf(out, "%s\n", line.c_str());
      line.assign(indent, ' ');
      first = true;
    }
    line += (first ? "" : " ") + word;
    first = false;
    at = end + 1;
  }
  std::fprintf(out, "%s\n", line.c_str());
}

std::size_t nameColumn() {
  std::size_t width = 0;
  for (const FoundDriver& d : foundDrivers()) width = std::max(width, std::string_view(d.description->name).size());
  return width + 4;
}

std::string keyText(const QuorvelConfigKey& key) {
  std::string values;
  switch (key.type) {
    case QUORVEL_KEY_SWITCH: values = "yes or no"; break;
    case QUORVEL_KEY_CHOICE: {
      values = joinedValues(key, false, " or ");
      bool aliases = key.choiceCount > 0;
      for (std::size_t i = 0; i < key.choiceCount; ++i) aliases = aliases && key.choices[i].alias;
      if (aliases) values += " (or " + joinedValues(key, true, nullptr) + ")";
      break;
    }
    case QUORVEL_KEY_NUMBER: values = std::to_string(key.minimum) + " to " + std::to_string(key.maximum); break;
    default: break;
  }
  std::string all = key.flags & QUORVEL_KEY_READ_ONLY ? "read only: " : "";
  if (!values.empty() && !(key.flags & QUORVEL_KEY_READ_ONLY)) all += values + ": ";
  all += text(key.help);
  if (key.type == QUORVEL_KEY_TEXT || key.type == QUORVEL_KEY_PATH)
    all += " (at most " + std::to_string(key.maximum) + " characters" + (key.minimum == 0 ? ", may be empty)" : ")");
  return all;
}

}  // namespace

const QuorvelDriverDescription* descriptionOf(const platform::ModuleRef& module) {
  const auto describe = module.symbol<contract::DriverDescriptionFn>(contract::kDriverDescription);
  const QuorvelDriverDescription* d = describe ? describe() : nullptr;
  if (!d || d->size < sizeof(QuorvelDriverDescription) || d->version > QUORVEL_DRIVER_DESCRIPTION_VERSION || !d->name)
    return nullptr;
  return d;
}

std::vector<std::string> pluginDirectories() {
  std::vector<std::string> dirs = platform::LibraryPathDirectories();
  const std::string core = programLibrary("libQuorvel.so");
  if (core.find('/') != std::string::npos) dirs.push_back(directoryOf(core));
  if (const std::string exe = platform::ExecutableDirectory(); !exe.empty()) dirs.push_back(exe);
  return dirs;
}

const std::vector<FoundDriver>& foundDrivers() {
  static const std::vector<FoundDriver> found = [] {
    std::vector<FoundDriver> drivers;
    std::set<std::string> names;
    for (const std::string& dir : pluginDirectories()) {
      for (const std::string& file : platform::ModuleFilesIn(dir, "quorvel_", ".so")) {
        if (names.count(file)) continue;
        FoundDriver driver;
        driver.path = dir + "/" + file;
        driver.module = platform::ModuleRef(platform::InspectModule(driver.path));
        driver.description = descriptionOf(driver.module);
        if (!driver.description) continue;
        names.insert(file);
        drivers.push_back(std::move(driver));
      }
    }
    return drivers;
  }();
  return found;
}

std::vector<std::string> descriptionProblems(const QuorvelDriverDescription& d, const std::string& fileName) {
  std::vector<std::string> problems;
  auto problem = [&](std::string why) { problems.push_back(std::move(why)); };
  if (d.size < sizeof d) problem("the description is shorter than this program's");
  if (d.version != QUORVEL_DRIVER_DESCRIPTION_VERSION) problem("version " + std::to_string(d.version));
  if (text(d.name) != fileName) problem("named " + text(d.name) + " in the file " + fileName);
  if (text(d.summary).empty() || text(d.registers).empty()) problem("a summary or the registers' name is missing");
  if (d.modelCount == 0 && !d.anyModel) problem("no model, and the job's model is looked at");
  std::set<std::string> seen;
  for (std::size_t i = 0; i < d.modelCount; ++i) {
    const QuorvelModel& m = d.models[i];
    if (text(m.id).empty() || !seen.insert(m.id).second) problem("model " + std::to_string(i) + " unnamed or named twice");
    if (m.limits && m.limits->size < sizeof(QuorvelFieldLimits))
      problem("limits of " + text(m.id) + " too short");
    if (m.limits && (m.limits->pluMin > m.limits->pluMax || m.limits->packageMin > m.limits->packageMax))
      problem("an empty range in the limits of " + text(m.id));
  }
  if (d.keyCount == 0) problem("no configuration key");
  seen.clear();
  for (std::size_t i = 0; i < d.keyCount; ++i) {
    const QuorvelConfigKey& k = d.keys[i];
    const std::string name = text(k.name);
    if (name.empty() || !seen.insert(name).second) problem("key " + std::to_string(i) + " unnamed or named twice");
    if (text(k.help).empty()) problem(name + ": no help");
    if (k.type < QUORVEL_KEY_TEXT || k.type > QUORVEL_KEY_SWITCH) problem(name + ": unknown type");
    if (k.minimum > k.maximum) problem(name + ": an empty range");
    if (k.type == QUORVEL_KEY_CHOICE && k.choiceCount == 0) problem(name + ": a choice of nothing");
    if ((k.flags & QUORVEL_KEY_READ_ONLY) && !k.refusal) problem(name + ": read only without a reason");
    if (k.flags & QUORVEL_KEY_SET_ONLY) {
      if (k.defaultValue) problem(name + ": set only, yet with a default");
      continue;
    }
    if (!k.defaultValue) {
      problem(name + ": no default");
      continue;
    }
    QuorvelConfigKey settable = k;
    settable.flags &= ~QUORVEL_KEY_READ_ONLY;
    settable.flags &= ~QUORVEL_KEY_RANGE_CONDITIONAL;
    settable.refusal = nullptr;
    if (auto why = valueRefusal(settable, k.defaultValue)) problem(name + ": the default " + k.defaultValue + ": " + *why);
    if (auto why = rangeRefusal(settable, k.defaultValue)) problem(name + ": the default " + k.defaultValue + ": " + *why);
  }
  return problems;
}

std::optional<std::string> checkSettings(const QuorvelDriverDescription& d, const std::vector<std::string>& settings) {
  // First what the plug-in takes key by key, in order; then the ranges it checks over the
  // whole record.
  for (const std::string& setting : settings) {
    const auto eq = setting.find('=');
    const std::string key = setting.substr(0, eq);
    const QuorvelConfigKey* k = keyNamed(d, key);
    if (!k) {
      std::string names;
      for (std::size_t i = 0; i < d.keyCount; ++i) names += std::string(i ? ", " : "") + text(d.keys[i].name);
      return "unknown key '" + key + "'; the keys are " + names;
    }
    if (eq == std::string::npos) return key + ": a value is missing (write " + key + "=VALUE)";
    if (auto why = valueRefusal(*k, std::string_view(setting).substr(eq + 1))) return plugin::refusedValue(key, *why);
  }
  for (const std::string& setting : settings) {
    const auto eq = setting.find('=');
    if (auto why = rangeRefusal(*keyNamed(d, setting.substr(0, eq)), std::string_view(setting).substr(eq + 1)))
      return plugin::refusedValue(setting.substr(0, eq), *why);
  }
  return std::nullopt;
}

void printModelReference(std::FILE* out) {
  const std::size_t width = nameColumn();
  for (const FoundDriver& found : foundDrivers()) {
    const QuorvelDriverDescription& d = *found.description;
    if (d.anyModel) {
      printItem(out, d.name, width, text(d.registers) + "; idModelu is not looked at");
      continue;
    }
    std::string models = text(d.registers) + ":";
    for (std::size_t i = 0; i < d.modelCount; ++i) models += std::string(i ? ", " : " ") + text(d.models[i].id);
    printItem(out, d.name, width, models);
    printItem(out, "", width, "(another name refuses the job with \"Nieznany model urządzenia\")");
  }
  if (foundDrivers().empty()) std::fputs("  (no driver plug-in was found; see 'quorvel run --help')\n", out);
}

void printDriverList(std::FILE* out) {
  const std::size_t width = nameColumn();
  for (const FoundDriver& found : foundDrivers()) printItem(out, found.description->name, width, text(found.description->summary));
  if (foundDrivers().empty()) std::fputs("  (none found in the folders below)\n", out);
}

void printConfigKeys(std::FILE* out) {
  for (const FoundDriver& found : foundDrivers()) {
    std::fprintf(out, "\nKeys of %s:\n", found.description->name);
    printDriverKeys(out, *found.description, false, "");
  }
}

void printDriverKeys(std::FILE* out, const QuorvelDriverDescription& d, bool defaults, const std::string& indent) {
  std::size_t width = indent.size();
  for (std::size_t i = 0; i < d.keyCount; ++i) width = std::max(width, indent.size() + text(d.keys[i].name).size());
  for (std::size_t i = 0; i < d.keyCount; ++i) {
    std::string body = keyText(d.keys[i]);
    if (defaults && d.keys[i].defaultValue)
      body += std::string("; default ") + (*d.keys[i].defaultValue ? d.keys[i].defaultValue : "empty");
    printItem(out, indent + text(d.keys[i].name), width + 4, body);
  }
}

void printHelpItem(std::FILE* out, const std::string& term, std::size_t width, const std::string& body) {
  printItem(out, term, width, body);
}

namespace {

constexpr const char* kNotStated = "not stated";

std::string range(long low, long high) {
  if (low == 0 && high == 0) return kNotStated;
  return std::to_string(low) + "-" + std::to_string(high);
}

// Grosze as zloty with two decimals.
std::string money(long long grosze) {
  const bool negative = grosze < 0;
  const unsigned long long g = negative ? 0ULL - static_cast<unsigned long long>(grosze) : static_cast<unsigned long long>(grosze);
  char cents[4];
  std::snprintf(cents, sizeof cents, "%02llu", g % 100);
  return (negative ? "-" : "") + std::to_string(g / 100) + "." + cents;
}

// Whether a structure of `size` bytes holds the member ending at `end`.
bool covers(std::size_t size, std::size_t end) { return size >= end; }
#define QUORVEL_HAS(limits, member) covers((limits).size, offsetof(QuorvelFieldLimits, member) + sizeof((limits).member))

// The fields a register takes, by tag; a group without its field, or KO without a link range,
// is no field it takes.
std::string fieldTags(unsigned fields, const QuorvelFieldLimits& l) {
  if (fields == 0) fields = QUORVEL_FIELD_ALL;
  if (!l.groupField) fields &= ~QUORVEL_FIELD_GROUP;
  if (l.linkMin == 0 && l.linkMax == 0) fields &= ~QUORVEL_FIELD_LINK;
  static const std::pair<unsigned, const char*> kTags[] = {
      {QUORVEL_FIELD_NA, "Na"}, {QUORVEL_FIELD_KK, "KK"}, {QUORVEL_FIELD_DK, "DK"}, {QUORVEL_FIELD_JM, "JM"}, {QUORVEL_FIELD_VA, "Va"},
      {QUORVEL_FIELD_GROUP, "group"}, {QUORVEL_FIELD_LINK, "KO"}, {QUORVEL_FIELD_CE, "Ce"}};
  std::string all;
  for (const auto& [bit, tag] : kTags) {
    if (!(fields & bit)) continue;
    const bool group = bit == QUORVEL_FIELD_GROUP;
    all += std::string(all.empty() ? "" : " ") + (group ? l.groupField : tag);
  }
  return all;
}

// The models of a driver grouped by equal limits, in the order of their first model.
struct ModelGroup {
  std::string models;  // ids, ", " between them
  const QuorvelFieldLimits* limits = nullptr;
  std::vector<std::pair<std::string, std::string>> items;
};

std::vector<ModelGroup> modelGroups(const QuorvelDriverDescription& d) {
  std::vector<ModelGroup> groups;
  for (std::size_t i = 0; i < d.modelCount; ++i) {
    const QuorvelModel& m = d.models[i];
    auto items = limitItems(m.limits);
    auto same = std::find_if(groups.begin(), groups.end(), [&](const ModelGroup& g) { return g.items == items; });
    if (same != groups.end()) {
      same->models += ", " + text(m.id);
    } else {
      groups.push_back({text(m.id), m.limits, std::move(items)});
    }
  }
  return groups;
}

// The meanings of the fields, in the order the first model gives them; a field meant
// differently by another model gets that model's meaning after its own ids.
std::vector<std::pair<std::string, std::string>> fieldMeanings(const QuorvelDriverDescription& d) {
  std::vector<std::pair<std::string, std::string>> meanings;  // field, meaning
  std::vector<std::pair<std::string, std::vector<std::string>>> seen;  // "field\tmeaning", models
  for (std::size_t i = 0; i < d.modelCount; ++i) {
    const QuorvelFieldLimits* l = d.models[i].limits;
    if (!l || !QUORVEL_HAS(*l, meaningCount) || !l->meanings) continue;
    for (std::size_t k = 0; k < l->meaningCount; ++k) {
      const std::string key = text(l->meanings[k].field) + "\t" + text(l->meanings[k].meaning);
      auto it = std::find_if(seen.begin(), seen.end(), [&](const auto& s) { return s.first == key; });
      if (it == seen.end()) {
        seen.push_back({key, {text(d.models[i].id)}});
      } else {
        it->second.push_back(text(d.models[i].id));
      }
    }
  }
  std::size_t modelsWithMeanings = 0;
  for (std::size_t i = 0; i < d.modelCount; ++i)
    if (d.models[i].limits && QUORVEL_HAS(*d.models[i].limits, meaningCount) && d.models[i].limits->meaningCount)
      ++modelsWithMeanings;
  for (const auto& [key, models] : seen) {
    const std::size_t tab = key.find('\t');
    std::string meaning = key.substr(tab + 1);
    if (models.size() < modelsWithMeanings) {
      std::string names;
      for (const std::string& m : models) names += (names.empty() ? "" : ", ") + m;
      meaning = names + ": " + meaning;
    }
    meanings.push_back({key.substr(0, tab), meaning});
  }
  return meanings;
}

std::string markdownCell(const std::string& cell) {
  std::string out;
  for (const char c : cell) {
    if (c == '|') out += '\\';
    out += c;
  }
  return out;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> limitItems(const QuorvelFieldLimits* given) {
  QuorvelFieldLimits l{};
  const bool stated = given && given->size > 0;
  if (stated) std::memcpy(&l, given, std::min(given->size, sizeof l));
  const bool flags = stated && QUORVEL_HAS(*given, flags);
  const bool groupField = stated && QUORVEL_HAS(*given, groupField);
  const bool link = stated && QUORVEL_HAS(*given, linkMax);
  const bool fields = stated && QUORVEL_HAS(*given, packageFields);

  std::string name = kNotStated;
  if (l.nameLength != 0) {
    name = std::to_string(l.nameLength) + " characters";
    if (flags) name += l.flags & QUORVEL_LIMIT_NAME_CUT ? ", longer cut" : ", longer skipped";
    if (flags && (l.flags & QUORVEL_LIMIT_NAME_REQUIRED)) name += ", required";
  }
  std::string vat = range(l.vatMin, l.vatMax);
  if (flags && (l.flags & QUORVEL_LIMIT_VAT_REQUIRED)) vat += ", required";
  std::string groups = kNotStated;
  if (groupField && l.groupField) groups = range(l.groupMin, l.groupMax) + " in " + l.groupField;
  std::string linked = kNotStated;
  if (link) linked = l.linkMin == 0 && l.linkMax == 0 ? "none" : "KO " + range(l.linkMin, l.linkMax);
  const bool price = l.priceMin != 0 || l.priceMax != 0;
  return {
      {"name", name},
      {"PLU", range(l.pluMin, l.pluMax)},
      {"packages", range(l.packageMin, l.packageMax)},
      {"barcode", l.barcodeDigits ? "up to " + std::to_string(l.barcodeDigits) + " digits" : kNotStated},
      {"units", range(l.unitMin, l.unitMax)},
      {"VAT", vat},
      {"groups", groups},
      {"linked package", linked},
      {"price", price ? money(l.priceMin) + "-" + money(l.priceMax) : kNotStated},
      {"code page", l.codePage ? l.codePage : kNotStated},
      {"goods take", fields ? fieldTags(l.goodsFields, l) : kNotStated},
      {"packages take", fields ? fieldTags(l.packageFields, l) : kNotStated},
  };
}

void printFieldTables(std::FILE* out) {
  for (const FoundDriver& found : foundDrivers()) {
    const QuorvelDriverDescription& d = *found.description;
    std::fprintf(out, "\nJob fields for %s:\n", d.name);
    const auto meanings = fieldMeanings(d);
    for (const auto& [field, meaning] : meanings) printItem(out, field, 8, meaning);
    if (meanings.empty()) std::fputs("  (not stated by the driver)\n", out);
    std::fprintf(out, "\nLimits of %s, per model:\n", d.name);
    for (const ModelGroup& g : modelGroups(d)) {
      std::string all;
      for (const auto& [label, value] : g.items) all += (all.empty() ? "" : "; ") + label + " " + value;
      // The models on a line of their own, their limits wrapped below them.
      std::fprintf(out, "  %s\n", g.models.c_str());
      printItem(out, "", 8, g.limits ? all : std::string("limits not stated by the driver"));
    }
    if (d.modelCount == 0) std::fputs("  (no model stated by the driver)\n", out);
  }
}

void printFieldTablesMarkdown(std::FILE* out) {
  for (const FoundDriver& found : foundDrivers()) {
    const QuorvelDriverDescription& d = *found.description;
    // The summary as a sentence.
    std::string summary = text(d.summary);
    if (!summary.empty() && summary[0] >= 'a' && summary[0] <= 'z') summary[0] = static_cast<char>(summary[0] - 'a' + 'A');
    if (!summary.empty() && summary.back() != '.') summary += '.';
    std::fprintf(out, "#### `%s`\n\n%s\n\n", d.name, markdownCell(summary).c_str());
    const auto meanings = fieldMeanings(d);
    if (meanings.empty()) {
      std::fputs("What the job's fields mean to it: not stated by the driver.\n\n", out);
    } else {
      std::fputs("| field | what it means to this driver |\n|---|---|\n", out);
      for (const auto& [field, meaning] : meanings)
        std::fprintf(out, "| `%s` | %s |\n", markdownCell(field).c_str(), markdownCell(meaning).c_str());
      std::fputs("\n", out);
    }
    const auto groups = modelGroups(d);
    if (groups.empty()) {
      std::fputs("Models and their limits: not stated by the driver.\n\n", out);
      continue;
    }
    std::fputs("| model |", out);
    for (const auto& item : groups.front().items) std::fprintf(out, " %s |", item.first.c_str());
    std::fputs("\n|---|", out);
    for (std::size_t i = 0; i < groups.front().items.size(); ++i) std::fputs("---|", out);
    std::fputs("\n", out);
    for (const ModelGroup& g : groups) {
      std::fprintf(out, "| %s |", markdownCell(g.models).c_str());
      for (const auto& item : g.items) std::fprintf(out, " %s |", markdownCell(item.second).c_str());
      std::fputs("\n", out);
    }
    std::fputs("\n", out);
  }
}

}  // namespace quorvel::host
