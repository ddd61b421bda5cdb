// `quorvel dump FILE.dmp`: deciphers a transmission dump and prints one line per record.
#pragma once

#include <cstdio>
#include <string>

// argv[0] is "dump", argv[1] the dump file. Prints the records to standard output and any
// complaint to standard error. Exit status: 0 for a whole dump, 1 for a file that cannot be
// read or is not a whole dump (the records before the fault are still printed), 64 for a bad
// command line.
int runDumpCommand(int argc, char** argv);

// The same, with the output streams given (for tests).
int runDumpCommand(int argc, char** argv, std::FILE* out, std::FILE* err);

// One printed line of a record: direction ("RX" received from the device, "TX" sent to it),
// the byte count, the bytes in hexadecimal and as text ('.' for bytes that are not printable
// ASCII), e.g.  TX      4  24 24 24 08  |$$$.|
std::string formatDumpRecord(unsigned char kind, const std::string& bytes);
