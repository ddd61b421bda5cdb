// The driver plug-ins the program finds and what each says about itself
// (plugin/driver_description.h): the help texts list them, and `quorvel config` checks keys and
// values against them before the plug-in sees them.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/module.h"
#include "plugin/driver_description.h"

namespace quorvel::host {

struct FoundDriver {
  std::string path;  // the plug-in's file
  platform::ModuleRef module;  // mapped only (InspectModule): no handler has run
  const QuorvelDriverDescription* description = nullptr;
};

// The description a loaded module exports; nullptr when it has none, or one of a newer
// version or too short to be read.
const QuorvelDriverDescription* descriptionOf(const platform::ModuleRef& module);

// The folders searched for plug-ins, in order: those of QUORVEL_LIBRARY_PATH, the folder of the
// core this program uses, the program's own folder. Never the current directory.
std::vector<std::string> pluginDirectories();

// Every quorvel_*.so of those folders that describes itself, by name; of several files of the
// same name the first in the search order. Read once per run and kept.
const std::vector<FoundDriver>& foundDrivers();

// What is wrong with a description (empty: complete and consistent): missing texts, a name
// unlike `fileName` (without ".so"), models named twice, keys named twice, a default outside
// its key's range or list.
std::vector<std::string> descriptionProblems(const QuorvelDriverDescription& d, const std::string& fileName);

// `quorvel config` settings ("key=value", UTF-8) against a description: nullopt when every
// key is known and every value within what the description allows; otherwise the reason as the
// plug-in would give it (a refused value as plugin::refusedValue words it: an English line, then
// the reason on an indented line of its own; or "unknown key 'x'; the keys are ...").
std::optional<std::string> checkSettings(const QuorvelDriverDescription& d, const std::vector<std::string>& settings);

// Help texts made from the descriptions found: the models each driver accepts (idModelu), a
// line per driver, and the keys of each driver's configuration.
void printModelReference(std::FILE* out);
void printDriverList(std::FILE* out);
void printConfigKeys(std::FILE* out);
// The keys of one driver as printConfigKeys lists them, one item each; with `defaults` each
// key's default follows (a set-only key has none); `indent` goes before each key's name.
void printDriverKeys(std::FILE* out, const QuorvelDriverDescription& d, bool defaults, const std::string& indent);
// One item of these texts: "  TERM" padded to `width`, then `body` wrapped under that column.
void printHelpItem(std::FILE* out, const std::string& term, std::size_t width, const std::string& body);

// What the job's fields mean to each driver found and the limits of each of its models (name
// length and what happens to a longer name, PLU and package ranges, barcode digits, units, VAT,
// groups and the field that holds them, the linked package, prices, the code page), from the
// drivers' descriptions; "not stated" where a driver states nothing. As help text (items
// under subheadings) and as the Markdown of the README's field tables.
void printFieldTables(std::FILE* out);
void printFieldTablesMarkdown(std::FILE* out);

// One model's limits as (label, value) pairs in the order both forms show them; members a
// shorter structure lacks are "not stated". Without limits, every value is "not stated".
std::vector<std::pair<std::string, std::string>> limitItems(const QuorvelFieldLimits* limits);

}  // namespace quorvel::host
