#include "command_line.hpp"

int main(int argc, char** argv) { return bundler_main(argc, argv); }
