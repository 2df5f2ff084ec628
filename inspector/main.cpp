#include "inspect_icons.hpp"

int main(int argc, char** argv) { return inspector_main(argc, argv); }
