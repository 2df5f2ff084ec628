// The command line of icon-extract, GNU style: -d DIR (or --directory),
// --force, --png, --format=text|json, --help and --version anywhere, "--"
// before inputs that start with "-"; every other argument is an input.
#pragma once

// The whole program; answers the exit status (0 success, 1 failure, 2 a
// command line that cannot be used).
int extract_main(int argc, char** argv);
