// `quorvel demo`: a tour of the Elcom driver against the simulated register.
#pragma once

// argv[0] is "demo". Options: -C DIR (the job directory; default a fresh one under /tmp),
// --model N (Elcom model 1 to 7, default 1). Starts the simulated Elcom register (elcom_sim
// beside this program), writes PROG_KOM.CFG and the jobs, and runs one after the other: the
// connection check, sending about twenty goods and packages with Polish names, the import of
// the register's goods, a few simulated sales, and the sales read-out with clearing. Each
// report and the data read back are shown. Exit status: 0 when every job ended without an
// error, 2 otherwise, 64 for a bad command line.
int runDemoCommand(int argc, char** argv);
