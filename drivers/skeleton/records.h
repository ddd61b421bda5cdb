// The skeleton register's records: plain functions over texts, no I/O and no state, shared by
// the plug-in, the simulated register (sim/skeleton_sim.cpp), the tests and the fuzz targets.
//
// The skeleton register speaks lines ending in a carriage return. The connection check sends
// "HELLO" and the register answers "OK " and its model name. A goods (or package) is programmed
// by one line "PLU" and its fields, parted by tabs (a name never holds a tab: the driver sends
// control characters as blanks); the register answers "OK", or "ERR " and the number of what it
// refused (RegisterRefusal). Replace these with the register's own frames and records (goods,
// packages, sales counters), each as an encoder and a parser.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::skeleton {

// The one model the skeleton drives, as the job names it (idModelu) and its register code.
struct Model {
  const char* jobName;
  long code;
  long pluCapacity;
  unsigned nameLength;
};
inline constexpr Model kModel = {"Quorvel_Skeleton", 1, 1000, 18};

// Every line ends with this byte; a longer answer than kLineMax bytes is no answer.
inline constexpr char kLineEnd = '\r';
inline constexpr std::size_t kLineMax = 128;

// A goods or package as the register keeps it. Texts are in the register's code page (the
// printable ASCII and the Polish letters of windows-1250); a number the job did not give is 0.
struct GoodsRecord {
  char type = 'T';         // 'T' goods, 'O' package
  long plu = 0;            // PLU code
  std::string name;        // at most the model's name length
  std::string barcode;     // digits; empty: none
  long unit = 0;           // unit number
  long vat = 0;            // VAT rate number
  long group = 0;          // goods group
  long long price = 0;     // grosze
  bool openPrice = false;  // the price is typed at the sale

  bool operator==(const GoodsRecord&) const = default;
};

// What the register refuses a goods for (the number after "ERR ").
enum class RegisterRefusal : int {
  BadRecord = 1,      // a line it cannot read
  Name = 2,           // name missing or longer than the register holds
  Plu = 3,            // PLU code out of range
  Barcode = 4,        // not digits only, or too many
  Unit = 5,
  Vat = 6,
  Group = 7,
  Price = 8,
  Character = 9,      // a byte outside its code page
  DuplicateName = 10, // another PLU holds the same name
};

// "PLU\t<T|O>\t<plu>\t<name>\t<barcode>\t<unit>\t<vat>\t<group>\t<price>\t<0|1>\r".
std::string goodsRequest(const GoodsRecord& record);
// The record of a goods request (the line without its line end); nullopt when it is none.
std::optional<GoodsRecord> parseGoodsRequest(std::string_view line);
// "OK\r", or "ERR <n>\r" for a refusal.
std::string goodsAnswer(int refusal);
// 0 for "OK", the refusal's number for "ERR <n>"; nullopt when the line is neither.
std::optional<int> parseGoodsAnswer(std::string_view line);
// The register's state file line of a record (the request's fields without "PLU"), and back.
std::string stateLine(const GoodsRecord& record);
std::optional<GoodsRecord> parseStateLine(std::string_view line);

// The connection check's request, "HELLO\r".
std::string helloRequest();
// True when `line` (without its line end) is the connection check's request.
bool isHelloRequest(std::string_view line);
// The register's answer to it, "OK <model>\r".
std::string helloAnswer(std::string_view model);
// The model a hello answer names (the line without its line end); nullopt when the line is no
// hello answer.
std::optional<std::string> parseHelloAnswer(std::string_view line);

}  // namespace quorvel::skeleton
