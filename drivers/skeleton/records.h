// The skeleton register's records: plain functions over texts, no I/O and no state, shared by
// the plug-in, the simulated register (sim/skeleton_sim.cpp), the tests and the fuzz targets.
//
// The skeleton register speaks lines ending in a carriage return. The connection check sends
// "HELLO" and the register answers "OK " and its model name. Replace these with the register's
// own frames and records (goods, packages, sales counters), each as an encoder and a parser.
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
inline constexpr std::size_t kLineMax = 64;

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
