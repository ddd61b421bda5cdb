#include "host/help_command.h"

#include <cctype>
#include <cstddef>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "core/progress.h"
#include "host/command_list.h"
#include "host/driver_catalog.h"

namespace quorvel::host {

void printJobReference(std::FILE* out) {
  std::fputs(
      "\n"
      "Operations (the attribute operacja of the job file, written exactly so):\n"
      "  Konfiguracja               show the plug-in's configuration form and save\n"
      "                             PROG_KOM.CFG (needs a terminal; nothing is sent)\n"
      "  SprawdzeniePołączenia      check that the register answers\n"
      "  PrzesyłanieTowarów         send the job's goods (PLUs) and packages to the register;\n"
      "                             PROG_KOM.XML lists the Id of each goods it accepted\n"
      "  ZmianaCenTowarów           change the prices of goods the register already holds,\n"
      "                             keeping its names, groups, VAT rates and units\n"
      "  UsuwanieTowarów            delete the job's goods and packages from the register\n"
      "  UsuwanieWszystkichTowarów  delete every goods and package in the register\n"
      "  ImportTowarów              read the register's goods and packages into PROG_KOM.XML\n"
      "  OdbiórSprzedaży            read the sales counters of every PLU and package into\n"
      "                             PROG_KOM.XML, then clear them in the register\n"
      "  UsuwanieSprzedaży          clear the sales counters without reading them\n"
      "The core also knows SprawdzenieDanychTowarów, WydrukFiskalny, RaportFiskalny,\n"
      "OtwieranieSzuflady, SprawdzenieDatyICzasu, SynchronizacjaDatyICzasu,\n"
      "RaportOkresowyPełny and RaportOkresowySkrócony, which no driver carries out: such a\n"
      "job ends with \"Nieznana operacja\". Any other name refuses the job.\n"
      "\n"
      "Register models (the attribute idModelu, written exactly so):\n",
      out);
  // Each driver plug-in found names its own models.
  printModelReference(out);
  std::fputs(
      "\n"
      "A small job file (VEXA_JOB.XML; a shop's host writes it in windows-1250, and any\n"
      "encoding the XML declaration names is read):\n"
      "\n"
      "    <?xml version=\"1.0\" encoding=\"UTF-8\"?>\n",
      out);
  // The example names the first model a driver found checks.
  std::string model = "MODEL";
  for (const FoundDriver& found : foundDrivers())
    if (!found.description->anyModel && found.description->modelCount > 0 && model == "MODEL")
      model = found.description->models[0].id;
  std::fprintf(out, "    <Dane operacja=\"PrzesyłanieTowarów\" idModelu=\"%s\"\n", model.c_str());
  std::fputs(
      "          xmlns=\"http://schemas.quorvel.org/UF/Dane.xsd\">\n"
      "      <Towar><Id>101</Id><Ty>T</Ty><KP>1</KP><KK>5901234123457</KK>\n"
      "        <Na>Chleb żytni</Na><Ce>4.20</Ce><Va>3</Va><JM>1</JM></Towar>\n"
      "      <Towar><Id>201</Id><Ty>O</Ty><KP>1</KP><Na>Butelka</Na><Ce>0.50</Ce></Towar>\n"
      "    </Dane>\n"
      "\n"
      "Goods fields: Id the host's identifier (reported back), Ty T goods or O package,\n"
      "KP the PLU code, KK barcode, DK further barcodes, Na name, Ce price, CO 1 for an open\n"
      "price, Va VAT rate number, JM unit number, Gr and KO as the driver takes them (KO is\n"
      "the goods group for one driver, a linked deposit package for another). What each field\n"
      "means to each driver, and the ranges of each register model, are listed by\n"
      "'quorvel run --help'.\n"
      "\n"
      "Status of a finished job (the Status block of RAPORT.XML):\n"
      "  OK  the operation went through\n"
      "  I   it went through, with a notice for the operator (e.g. package counters that only a\n"
      "      zeroing report clears)\n"
      "  W   it went through with a warning: some goods were skipped or refused, as the\n"
      "      messages list them; the rest was done\n"
      "  E   it failed: a host must not take the data of PROG_KOM.XML from such a job\n"
      "\n"
      "Progress: 'quorvel run' draws a progress bar on standard error when that is a terminal.\n"
      "Another host asks for progress lines \"done total what\" (windows-1250, CR LF, written\n"
      "as they come, about five a second) in a file of the job directory, by setting\n"
      "the environment variable " QUORVEL_PROGRESS_FILE_VARIABLE "=NAME before it loads the core, or\n"
      "by calling Quorvel_setProgressFile(\"NAME\") after loading it; a host that runs the core\n"
      "in its own process may instead set a callback with Quorvel_setProgress.\n",
      out);
}

namespace {

// Text for roff: backslashes and minus signs escaped, a leading control character defused.
std::string roff(const std::string& text) {
  std::string out;
  if (!text.empty() && (text[0] == '.' || text[0] == '\'')) out = "\\&";
  for (const char c : text) {
    if (c == '\\')
      out += "\\e";
    else if (c == '-')
      out += "\\-";
    else
      out += c;
  }
  return out;
}

std::size_t indentOf(const std::string& line) {
  const std::size_t at = line.find_first_not_of(' ');
  return at == std::string::npos ? line.size() : at;
}

std::vector<std::string> linesOf(HelpPrinter help) {
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* memory = ::open_memstream(&buffer, &size);
  std::vector<std::string> lines;
  if (!memory) return lines;
  help(memory);
  std::fclose(memory);
  std::istringstream in(std::string(buffer, size));
  std::free(buffer);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool isReferenceHeading(const std::string& heading) {
  for (std::size_t i = 0; i < kReferenceHeadingCount; ++i)
    if (heading == kReferenceHeadings[i]) return true;
  return false;
}

void writeBody(std::FILE* out, const std::vector<std::string>& lines) {
  enum class Block { kNone, kText, kItem, kExample } block = Block::kNone;
  bool afterHeading = true;  // nothing written since the section's heading
  auto close = [&] {
    if (block == Block::kExample) std::fputs(".fi\n.RE\n", out);
    if (block == Block::kItem) std::fputs(".PD\n", out);
  };
  for (std::size_t i = 1; i < lines.size(); ++i) {  // line 0 is the usage line
    const std::string& line = lines[i];
    const std::size_t indent = indentOf(line);
    const bool afterBlank = lines[i - 1].empty();
    if (indent == line.size()) {
      close();
      block = Block::kNone;
      continue;
    }
    if (indent >= 4 && (block == Block::kExample || block == Block::kNone)) {
      if (block != Block::kExample) std::fputs(".PP\n.RS 4\n.nf\n", out);
      std::fprintf(out, "%s\n", roff(line.substr(4)).c_str());
      block = Block::kExample;
    } else if (indent == 0 && afterBlank && line.back() == ':') {
      close();
      // The program-wide reference's headings are sections of the page (EXIT STATUS, ...).
      const std::string heading = line.substr(0, line.size() - 1);
      std::fprintf(out, isReferenceHeading(heading) ? ".SH \"%s\"\n" : ".SS %s\n",
                   roff(isReferenceHeading(heading) ? upper(heading) : heading).c_str());
      block = Block::kNone;
      afterHeading = true;
      continue;
    } else if (indent == 2 || indent == 3) {
      if (block != Block::kItem) {
        close();
        // A list as compact as the help's: no blank line between its items.
        std::fputs(afterHeading ? ".PD 0\n" : ".sp\n.PD 0\n", out);
      }
      const std::size_t gap = line.find("  ", indent);
      const std::size_t description = gap == std::string::npos ? std::string::npos : line.find_first_not_of(' ', gap);
      std::fprintf(out, ".TP\n%s\n", roff(line.substr(indent, gap - indent)).c_str());
      if (description != std::string::npos) std::fprintf(out, "%s\n", roff(line.substr(description)).c_str());
      block = Block::kItem;
    } else if (indent > 3) {
      std::fprintf(out, "%s\n", roff(line.substr(indent)).c_str());  // continues an item or text
    } else {
      close();
      if (block != Block::kText) std::fputs(".PP\n", out);
      std::fprintf(out, "%s\n", roff(line).c_str());
      block = Block::kText;
    }
    afterHeading = false;
  }
  close();
}

}  // namespace

int printManPage(std::FILE* out, std::initializer_list<HelpPrinter> helps) {
  std::vector<std::vector<std::string>> texts;
  for (HelpPrinter help : helps) texts.push_back(linesOf(help));

  std::fputs(".\\\" Made by 'quorvel --man' from the program's help texts; edit those, not this file.\n"
             ".TH QUORVEL 1 \"\" \"Quorvel\" \"User Commands\"\n"
             // Model names (idModelu) must not be hyphenated or stretched.
             ".nh\n.ad l\n"
             ".SH NAME\n"
             "quorvel \\- runs jobs of the Quorvel fiscal cash register drivers\n"
             ".SH SYNOPSIS\n"
             ".nf\n",
             out);
  // One line per command, from the same list as the main help's.
  for (std::size_t i = 0; i < kCommandCount; ++i)
    std::fprintf(out, "\\fBquorvel\\fR %s\n", roff(kCommandList[i].synopsis).c_str());
  std::fputs(".fi\n", out);
  // The main help's program-wide reference (exit status, ...) follows the commands' sections.
  std::vector<std::string> reference;
  if (!texts.empty()) {
    std::vector<std::string>& main = texts[0];
    for (std::size_t i = 1; i < main.size(); ++i) {
      const std::string& line = main[i];
      if (main[i - 1].empty() && !line.empty() && line.back() == ':' &&
          isReferenceHeading(line.substr(0, line.size() - 1))) {
        reference.assign(main.begin() + static_cast<std::ptrdiff_t>(i), main.end());
        reference.insert(reference.begin(), "");  // in place of the usage line
        main.resize(i);
        break;
      }
    }
  }
  const std::string usage = "Usage: ";
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (texts[i].empty()) continue;
    if (i == 0) {
      std::fputs(".SH DESCRIPTION\n", out);
    } else {
      // "Usage: quorvel run PLUGIN [-C DIR]" heads the section "QUORVEL RUN".
      std::istringstream words(texts[i][0].substr(texts[i][0].rfind(usage, 0) == 0 ? usage.size() : 0));
      std::string program, command;
      words >> program >> command;
      std::fprintf(out, ".SH \"%s\"\n", roff(upper(program + " " + command)).c_str());
    }
    writeBody(out, texts[i]);
  }
  writeBody(out, reference);
  return 0;
}

}  // namespace quorvel::host
