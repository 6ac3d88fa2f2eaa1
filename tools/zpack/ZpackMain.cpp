// zpack: builds, lists, verifies and extracts the setup program's package.
#include "ZpackCommand.h"

int main(int argc, char** argv) { return RunZpack(argc, argv, stdout, stderr); }
