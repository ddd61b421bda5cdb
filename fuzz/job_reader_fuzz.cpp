// The job reader on arbitrary job files: the fuzz input becomes VEXA_JOB.XML in a scratch
// directory and is read with the report linked, as at core load. Whatever the input, the
// reading must end without a crash, a failure must leave an error text, and the report (and,
// for a job that was read, a device-data file listing its goods) must stay well-formed.
#include <expat.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "core/error_state.h"
#include "core/xml/expat_windows1250.h"
#include "core/xml/progkom_xml.h"
#include "core/xml/raport_xml.h"
#include "core/xml/vexa_xml.h"
#include "platform/cp1250.h"

namespace {

// The job is read from the current directory, but libFuzzer writes its corpus and crash files
// by relative paths, so each input runs in the scratch directory and returns afterwards.
// The scratch lies on tmpfs when there is one: Close syncs the device-data file to disk.
class InScratchDir {
 public:
  InScratchDir() : previous_(std::filesystem::current_path()) { std::filesystem::current_path(dir()); }
  ~InScratchDir() { std::filesystem::current_path(previous_); }

 private:
  static const std::string& dir() {
    static const std::string path = [] {
      const std::filesystem::path base =
          std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
      std::string pattern = (base / "quorvel-fuzz-XXXXXX").string();
      if (!mkdtemp(pattern.data())) std::abort();
      return pattern;
    }();
    return path;
  }
  std::filesystem::path previous_;
};

void writeJob(const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(kVexaFileName, "wb");
  if (!f) std::abort();
  if (size && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
}

// Aborts unless the file is a well-formed windows-1250 XML document.
void requireWellFormed(const char* path) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) std::abort();
  XML_Parser p = XML_ParserCreate(nullptr);
  XML_SetUnknownEncodingHandler(p, quorvel::cp1250::expatUnknownEncoding, nullptr);
  char buf[8192];
  for (;;) {
    const std::size_t got = std::fread(buf, 1, sizeof buf, f);
    const bool last = got < sizeof buf;
    if (XML_Parse(p, buf, static_cast<int>(got), last) == XML_STATUS_ERROR) {
      std::fprintf(stderr, "%s not well-formed: line %lu: %s\n", path,
                   static_cast<unsigned long>(XML_GetCurrentLineNumber(p)), XML_ErrorString(XML_GetErrorCode(p)));
      std::abort();
    }
    if (last) break;
  }
  XML_ParserFree(p);
  std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  InScratchDir scratch;
  writeJob(data, size);
  ErrorSetRaport(nullptr);
  ClearError("");
  {
    CRaportXml raport;
    ErrorSetRaport(&raport);
    CVexaXml vexa;
    const int result = vexa.readHeader();
    if (result != GetErrorNum()) std::abort();
    if (result != 0 && GetErrorMsg()[0] == '\0') std::abort();
    if (result == 0) {
      // Everything the job carried goes back out through the device-data writer.
      CProgKomXml progKom(vexa.GetOperacja().c_str());
      vexa.TwIterReset();
      while (!vexa.IsFiskalny() && !vexa.TwIterEmpty()) {
        const CTowar& towar = vexa.TwIterGetNext();
        progKom.DodajTowar(towar);
        progKom.DodajObrot(towar);
      }
      if (progKom.Close() != 0) std::abort();
      requireWellFormed(kProgKomFileName);
    }
    ErrorSetRaport(nullptr);
  }
  requireWellFormed(kRaportFileName);
  return 0;
}
