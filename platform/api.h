// Symbol export of the core library. Everything is hidden by default; QUORVEL_API marks
// the functions, classes and globals that hosts and plug-ins link against.
#pragma once

#define QUORVEL_API __attribute__((visibility("default")))
// Entry points looked up by name (plug-in operations, module attach/detach, Quorvel_run).
#define QUORVEL_EXPORT_C extern "C" QUORVEL_API
