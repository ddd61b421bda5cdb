// The register models quorvel_posnet drives, by the names a job gives them (the job header's
// idModelu, compared exactly). Header only: the host's help lists them too.
#pragma once

#include <string_view>

namespace quorvel::posnet {

inline constexpr const char* kModelNames[] = {"Quorvel_Posnet_Combo"};

inline bool modelKnown(std::string_view name) {
  for (const char* known : kModelNames)
    if (name == known) return true;
  return false;
}

}  // namespace quorvel::posnet
