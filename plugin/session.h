// The one object a driver keeps for the job it serves (its open line, its configuration, what
// it learnt from the register): made on first use, dropped at unload so that a plug-in loaded
// again starts afresh.
#pragma once

#include <memory>

namespace quorvel::plugin {

template <class T>
class Session {
 public:
  // The object, made with its defaults the first time it is asked for.
  static T& get() {
    std::unique_ptr<T>& o = object();
    if (!o) o = std::make_unique<T>();
    return *o;
  }
  // Drops the object (its destructor closes what it holds); the next get() makes a new one.
  static void release() { object().reset(); }

 private:
  static std::unique_ptr<T>& object() {
    static std::unique_ptr<T> o;
    return o;
  }
};

}  // namespace quorvel::plugin
