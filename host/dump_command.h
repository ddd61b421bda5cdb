// `quorvel dump FILE.dmp`: deciphers a transmission dump and prints it one frame per line, or
// (--raw) one line per record.
#pragma once

#include <cstdio>
#include <string>

// argv[0] is "dump", then the dump file and the options --raw (one line per record, as the
// file stores them) and --wide (frames with all their bytes). Prints to standard output and
// any complaint to standard error. A text log in place of a dump (the POSNET library writes its
// detailed log under the dump's name) is told for what it is and printed as it is. Exit status:
// 0 for a whole dump or a text log, 1 for a file that cannot be read or is not a whole dump
// (what came before the fault is still printed), 64 for a bad command line.
int runDumpCommand(int argc, char** argv);

// The same, with the output streams given (for tests).
int runDumpCommand(int argc, char** argv, std::FILE* out, std::FILE* err);

// One printed line of a record: direction ("RX" received from the device, "TX" sent to it),
// the byte count, the bytes in hexadecimal and as text ('.' for bytes that are not printable
// ASCII), e.g.  TX      4  24 24 24 08  |$$$.|
std::string formatDumpRecord(unsigned char kind, const std::string& bytes);
