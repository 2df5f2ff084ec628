// The command line of icon-bundler: "-o" with the output path anywhere but
// last, every other argument an input path.
#pragma once

// The whole program; answers the exit status (0 success, 1 failure).
int bundler_main(int argc, char** argv);
