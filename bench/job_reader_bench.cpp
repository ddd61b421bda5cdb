// Reading a job of 100,000 goods records (every field given) compared, in the same run, with a
// bare Expat parse of the same file whose handlers do nothing, fed the same way (8192-byte
// reads into the parser's buffer, windows-1250 declared). Prints the ratio (target: at most
// 1.5) and the peak memory of the process holding the loaded catalogue (target: under 150 MB).
#include <expat.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/cp1250.h"
#include "core/error_state.h"
#include "core/xml/expat_windows1250.h"
#include "core/xml/vexa_xml.h"

namespace {

constexpr int kRecords = 100000;
constexpr int kRuns = 5;

void generateJob(const char* path) {
  std::FILE* f = std::fopen(path, "wb");
  if (!f) {
    std::perror(path);
    std::exit(1);
  }
  std::fputs("<?xml version=\"1.0\" encoding=\"windows-1250\"?>\r\n", f);
  std::fprintf(f, "<Dane operacja=\"%s\" idModelu=\"Euro-2000\" xmlns=\"%s\">\r\n", "PrzesyłanieTowarów"_cp,
               kDaneNamespace);
  for (int i = 1; i <= kRecords; ++i) {
    std::fprintf(f,
                 "\t<Towar>\r\n"
                 "\t\t<Id>%d</Id><Ty>%c</Ty><Sy>SY%d</Sy><KP>%d</KP><KK>59%011d</KK>\r\n"
                 "\t\t<DK>29%011d</DK><DK>39%011d</DK><KO>%d</KO><Na>%s %d</Na>\r\n"
                 "\t\t<Ce id=\"1\">%d.%02d</Ce><Ce id=\"2\">%d.5</Ce><CO>%d</CO><Va>%d</Va><Gr>%d</Gr>\r\n"
                 "\t\t<Wł id=\"0\">kategoria</Wł><Wł id=\"1\">dostawca %d</Wł><Wł id=\"2\">półka</Wł>\r\n"_cp,
                 i, i % 10 ? 'T' : 'O', i % 1000, i % 999999 + 1, i, i, i, i % 100, "Zażółć gęślą jaźń"_cp, i,
                 i % 1000, i % 100, i % 50, i % 2, i % 7, i % 20, i % 300);
    std::fprintf(f,
                 "\t\t<Wł id=\"3\">w3</Wł><Wł id=\"4\">w4</Wł><Wł id=\"5\">w5</Wł><Wł id=\"6\">w6</Wł>"
                 "<Wł id=\"7\">w7</Wł>\r\n"
                 "\t\t<JM>%d</JM><Wa>%d</Wa><Op>opakowanie</Op><Uw>uwagi &amp; opis</Uw><OW>%d</OW>\r\n"
                 "\t\t<DW>2007-%02d-%02d</DW><SW>SW</SW><PK>PKWiU 15.11</PK>\r\n"
                 "\t</Towar>\r\n"_cp,
                 i % 5, i % 2, i, i % 12 + 1, i % 28 + 1);
  }
  std::fputs("</Dane>\r\n", f);
  std::fclose(f);
}

void XMLCALL noStart(void*, const XML_Char*, const XML_Char**) {}
void XMLCALL noEnd(void*, const XML_Char*) {}
void XMLCALL noText(void*, const XML_Char*, int) {}

// Bare parse of the file, fed exactly as the reader feeds it.
bool bareParse(const char* path) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  XML_Parser p = XML_ParserCreate(nullptr);
  XML_SetElementHandler(p, noStart, noEnd);
  XML_SetCharacterDataHandler(p, noText);
  XML_SetUnknownEncodingHandler(p, quorvel::cp1250::expatUnknownEncoding, nullptr);
  bool ok = true;
  for (;;) {
    void* buf = XML_GetBuffer(p, 8192);
    const std::size_t got = std::fread(buf, 1, 8192, f);
    const bool last = std::feof(f) != 0;
    if (XML_ParseBuffer(p, static_cast<int>(got), last) == XML_STATUS_ERROR) {
      ok = false;
      break;
    }
    if (last) break;
  }
  XML_ParserFree(p);
  std::fclose(f);
  return ok;
}

std::unique_ptr<CVexaXml> readJob() {
  ClearError("");
  auto vexa = std::make_unique<CVexaXml>();
  if (vexa->readHeader() != 0 || vexa->IleRekordow() != static_cast<std::size_t>(kRecords)) {
    std::fprintf(stderr, "job not read: %s\n", GetErrorMsg());
    std::exit(1);
  }
  return vexa;
}

double peakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in kilobytes
}

template <typename Fn>
double seconds(Fn&& fn) {
  const auto start = std::chrono::steady_clock::now();
  fn();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
  const auto dir = std::filesystem::temp_directory_path() / "quorvel-job-reader-bench";
  std::filesystem::create_directories(dir);
  std::filesystem::current_path(dir);
  generateJob(kVexaFileName);
  const auto bytes = std::filesystem::file_size(kVexaFileName);

  // Memory first, while the process has held nothing bigger than the generator's buffers.
  const double before = peakMegabytes();
  {
    auto vexa = readJob();
    const double peak = peakMegabytes();
    std::printf("job: %d goods records, %.1f MB\n", kRecords, static_cast<double>(bytes) / 1e6);
    std::printf("peak memory with the catalogue loaded: %.1f MB (process before reading: %.1f MB; target < 150 MB)\n",
                peak, before);
  }

  double bare = 1e9, reader = 1e9;
  for (int run = 0; run < kRuns; ++run) {
    bare = std::min(bare, seconds([] {
                      if (!bareParse(kVexaFileName)) std::exit(1);
                    }));
    std::unique_ptr<CVexaXml> vexa;
    reader = std::min(reader, seconds([&] { vexa = readJob(); }));
  }
  std::printf("bare Expat parse: %.3f s (%.0f MB/s)\n", bare, static_cast<double>(bytes) / 1e6 / bare);
  std::printf("job reader:       %.3f s (catalogue filled)\n", reader);
  std::printf("ratio reader / bare Expat: %.2f (target <= 1.5)\n", reader / bare);

  std::filesystem::current_path(std::filesystem::temp_directory_path());
  std::filesystem::remove_all(dir);
  return 0;
}
