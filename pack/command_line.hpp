// The command line of icon-pack, GNU style: -o OUTPUT (or --output),
// --keep-order, --quiet, --help and --version anywhere, "--" before inputs
// that start with "-"; every other argument is an input path.
#pragma once

// The whole program; answers the exit status (0 success, 1 failure, 2 a
// command line that cannot be used).
int pack_main(int argc, char** argv);
